// Fuzz target: the loader, the translator and the executor. Arbitrary bytes
// are loaded as a code file (plain, or through a text or byte-order
// protocol), translated as they load in blocks of a few bytes, and run with
// arbitrary input lines under a step budget, against the rules of the
// language carried out one command at a time (the tests' plain run).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "interpreter/internal/executor.h"
#include "interpreter/internal/loader.h"
#include "interpreter/internal/program_dump.h"
#include "interpreter/internal/translator.h"
#include "interpreter/modules.h"
#include "runtime/error.h"
#include "stream/stream.h"
#include "support/plain_run.h"

namespace {

using namespace corvid;

// A directory of the target's own, removed when the process ends.
std::filesystem::path workDir;

std::filesystem::path codeFile;

// The command characters of a text, as the loader keeps them.
std::string Commands(const std::u16string& text) {
  std::string kept;
  for (char16_t unit : text)
    if (unit < 128 && IsCommand(unit)) kept += static_cast<char>(unit);
  return kept;
}

// The characters of `bytes` in the encoding a protocol names, or nullopt
// when the bytes end inside a character (the load then raises the stream
// read error). Line ends and the rest of the commentary do not matter here.
std::optional<std::u16string> Decode(const std::string& bytes, const std::string& protocol) {
  std::u16string text;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 0; i < bytes.size();) {
    unsigned b0 = byte(i);
    std::size_t length = 1;
    unsigned unit = b0;
    if (protocol == "utf16le::" || protocol == "utf16be::") {
      length = 2;
    } else if (protocol == "utf8::" && b0 >= 0x80) {
      length = b0 < 0xE0 ? 2 : 3;
    }
    if (i + length > bytes.size()) return std::nullopt;
    if (protocol == "utf16le::") unit = b0 | byte(i + 1) << 8;
    if (protocol == "utf16be::") unit = b0 << 8 | byte(i + 1);
    if (protocol == "utf8::" && length == 2) unit = (b0 - 0xC0) * 64 + byte(i + 1) - 0x80;
    if (protocol == "utf8::" && length == 3)
      unit = b0 >= 0xF0 ? 0 : (b0 - 0xE0) * 4096 + (byte(i + 1) - 0x80) * 64 + byte(i + 2) - 0x80;
    text += static_cast<char16_t>(unit & 0xFFFF);
    i += length;
  }
  return text;
}

using testing::PlainRun;
using testing::RunPlainly;
using testing::ScriptedPort;

constexpr const char* kProtocols[] = {"",          "latin1::",  "utf8::",
                                      "utf16le::", "utf16be::", "littleendian::"};
constexpr Int kHeads[] = {Executor::kInitialHead, 0, -3, 70};
constexpr Long kTickIntervals[] = {1, 5, 1024};
constexpr Long kSteps = 30000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartProgramModule();
  auto dir = std::filesystem::temp_directory_path() /
             ("corvid-interpreter-fuzz-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  workDir = dir;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(workDir, ignored);
  });
  codeFile = dir / "code.txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::string protocol = data.PickValueInArray(kProtocols);
  Int head = data.PickValueInArray(kHeads);
  Long interval = data.PickValueInArray(kTickIntervals);
  bool stepwise = data.ConsumeBool();
  std::size_t block = data.ConsumeIntegralInRange<std::size_t>(1, 9);
  std::vector<Int> input;
  for (int lines = data.ConsumeIntegralInRange(0, 8); lines > 0; --lines) {
    std::string line = data.ConsumeRandomLengthString(4);
    input.push_back(line.empty() ? -1 : static_cast<unsigned char>(line[0]));
  }
  std::string source = data.ConsumeRemainingBytesAsString();
  std::ofstream(codeFile, std::ios::binary | std::ios::trunc) << source;

  CodeStore store;
  std::optional<std::u16string> text = protocol == "" || protocol == "littleendian::"
                                           ? std::u16string(source.begin(), source.end())
                                           : Decode(source, protocol);
  bool raised = false;
  try {
    Check(LoadProgram(FromBytes(protocol + codeFile.string()), store), "the code file opens");
  } catch (const Raised& error) {
    raised = true;
    Check(error.As<TStreamReadException>() != nullptr, "a load fails only with the stream read error");
  }
  Check(raised == !text.has_value(), "a load fails exactly when the text ends inside a character");
  if (raised) return 0;
  std::string code(store.commands.begin(), store.commands.end());
  Check(code == Commands(*text), "the loader keeps the command characters in order");
  PlainRun expected = RunPlainly(code, input, head, kSteps);
  Tape tape;
  // A run within the step budget finishes within the tick budget: a tick
  // per jump at most, and one per interval of work. One that goes on is
  // stopped after about as much work as the step budget.
  ScriptedPort port(input, expected.finished ? 4 * kSteps : std::max<Long>(1, kSteps / interval));
  Executor executor(Program{}, tape, port, head);
  executor.SetTickInterval(interval);
  executor.SetStepwise(stepwise);
  // Translated as it loads, in small blocks, while the run begins on a
  // thread of its own: the same program as from all the commands at once,
  // and nothing shown before the load ends.
  Translator translator;
  Program program;
  {
    AheadRun ahead(executor, translator, 1);
    Check(LoadProgram(FromBytes(protocol + codeFile.string()), translator, block), "the code file opens again");
    program = translator.Finish();
    ahead.Finish();
  }
  Check(port.output.empty(), "nothing is written while the code loads");
  Check(DumpProgram(program) == DumpProgram(Translate(store)), "where the blocks end changes nothing");
  executor.Adopt(std::move(program));
  bool finished = executor.Run();
  if (expected.finished) {
    Check(finished, "a run that ends, ends");
    Check(port.output == expected.output, "the output");
    Check(executor.Head() == expected.head, "the head");
    Check(tape.Origin() == expected.origin && tape.Extent() == expected.extent,
          "the tape grows exactly to the cells used");
    for (Long p = -expected.origin; p < expected.extent; ++p)
      Check(tape.Read(p) == expected.cells[static_cast<std::size_t>(p + expected.origin)], "the cells");
  } else {
    // Both wrote the start of the same endless output.
    std::size_t common = std::min(port.output.size(), expected.output.size());
    Check(port.output.compare(0, common, expected.output, 0, common) == 0, "the output so far");
  }
  return 0;
}
