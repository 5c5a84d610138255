// A tour of the Corvid libraries from C++: streams opened by name, banks,
// lists and error handling. docs/LIBRARY.md walks through it; the CI builds
// it against an installed tree and runs it.
#include <corvid/filesystem/filesystem.h>
#include <corvid/interpreter/modules.h>
#include <corvid/memstream/bank.h>
#include <corvid/memstream/bank_stream.h>
#include <corvid/runtime/app.h>
#include <corvid/runtime/error.h>
#include <corvid/runtime/list.h>
#include <corvid/stream/stream_functions.h>
#include <corvid/stream/url.h>

#include <cstdio>

using namespace corvid;

namespace {

// Text as UTF-8 on standard output.
void Say(const Ref<String>& text) { std::printf("%s\n", TempUtf8Z(text)); }

// Streams by name: "utf8::" wraps the file in a UTF-8 text stream.
void Streams() {
  Ref<TStream> out = OpenUrlWriter("utf8::tour.txt"_s);
  if (!out) RaiseRuntimeError("cannot write tour.txt"_s);
  out->WriteLine(u"caf\u00e9"_s);
  out->WriteLine("second line"_s);
  out->Close();

  Ref<TStream> in = OpenUrlReader("utf8::tour.txt"_s);
  while (!in->Eof()) Say(Concat("read: "_s, in->ReadLine()));
  in->Close();

  // A name nothing can open gives Null; it never raises.
  if (!OpenUrlReader("nosuch::tour.txt"_s)) Say("nosuch:: opens nothing"_s);
}

// Banks: bytes in memory, peeked and poked at offsets, and opened as
// streams like any name.
void Banks() {
  Ref<TBank> bank = TBank::Create(8);
  bank->PokeInt(0, 1000);
  bank->PokeInt(4, -2);
  Say(Concat("peeked: "_s, String::FormatInt(bank->PeekInt(0) + bank->PeekInt(4))));

  Ref<TStream> stream = OpenUrlReader(bank);  // a bank stream over the bank
  Say(Concat("read back: "_s, String::FormatInt(stream->ReadInt())));

  // The whole text file again, into a bank of its own.
  Ref<TBank> loaded = TBank::Load("tour.txt"_s);
  Say(Concat("tour.txt holds bytes: "_s, String::FormatInt(loaded->Size())));
}

// Lists: any objects, walked with range-for and sorted by their Compare.
void Lists() {
  Ref<TList> list = MakeRef<TList>();
  for (auto word : {"pear"_s, "apple"_s, "fig"_s}) list->AddLast(word);
  list->Sort(1, nullptr);
  for (const Ref<Object>& value : *list) Say(Concat("sorted: "_s, CastTo<String>(value)));
}

// Errors: anything can be raised; catch Raised, test the class with As<T>
// and pass on what is not yours.
void Errors() {
  try {
    Ref<TStream> stream = OpenUrlReader("tour.txt"_s);
    stream->Seek(stream->Size());
    stream->ReadInt();  // nothing left: exact reads raise
  } catch (const Raised& raised) {
    auto error = raised.As<TStreamReadException>();
    if (!error) throw;
    Say(Concat("caught: "_s, error->ToString()));
  }
  try {
    TBank::Create(4)->PeekInt(2);  // reaches past the end
  } catch (const Raised& raised) {
    if (!raised.As<TArrayBoundsException>()) throw;
    Say(Concat("caught: "_s, raised.Error()->ToString()));
  }
}

int Tour() {
  StartBasicModule();  // every module: all stream protocols are registered
  Streams();
  Banks();
  Lists();
  Errors();
  RemoveFile("tour.txt"_s);
  return 0;
}

}  // namespace

// RunMain reports errors that nothing caught (their text, status 255) and,
// like the tape interpreter, makes the executable's directory the working
// directory, so the relative names above are found beside the program.
int main(int argc, char** argv) { return RunMain(argc, argv, Tour); }
