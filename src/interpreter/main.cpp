// The tape interpreter's executable.
#include "interpreter/program.h"
#include "runtime/app.h"

int main(int argc, char** argv) { return corvid::RunMain(argc, argv, corvid::ProgramEntry); }
