// Fuzz target: the loader and the executor. Arbitrary bytes are loaded as a
// code file (plain, or through a text or byte-order protocol) and run with
// arbitrary input lines under a step budget, against the rules of the
// language carried out here one command at a time.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "interpreter/executor.h"
#include "interpreter/loader.h"
#include "interpreter/modules.h"
#include "runtime/error.h"
#include "stream/stream.h"

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

struct Run {
  bool finished = false;
  std::string output;
  Int head = 0;
  std::vector<std::uint8_t> cells = std::vector<std::uint8_t>(Tape::kInitialCells);
  Long low = 0, high = Tape::kInitialCells - 1;  // the cells that exist: low .. high
};

// The language, one command per step, for at most `steps` steps.
Run RunStepByStep(const std::string& code, const std::vector<Int>& input, Int head, Long steps) {
  Run run;
  run.head = head;
  // The tape grows exactly to each cell a command uses.
  auto cell = [&run](Long p) -> std::uint8_t& {
    if (p < run.low) {
      run.cells.insert(run.cells.begin(), static_cast<std::size_t>(run.low - p), 0);
      run.low = p;
    }
    if (p > run.high) {
      run.cells.resize(static_cast<std::size_t>(p - run.low + 1), 0);
      run.high = p;
    }
    return run.cells[static_cast<std::size_t>(p - run.low)];
  };
  const Long length = static_cast<Long>(code.size());
  std::size_t next = 0;
  bool skip = false;
  for (Int i = 0; i >= 0 && i < length; i = WrappingAdd(i, 1)) {
    if (steps-- == 0) return run;
    if (skip) {
      skip = false;
      continue;
    }
    switch (code[static_cast<std::size_t>(i)]) {
      case '+': ++cell(run.head); break;
      case '-': --cell(run.head); break;
      case '.': run.output += std::to_string(cell(run.head)); break;
      case ',': cell(run.head) = static_cast<std::uint8_t>(next < input.size() ? input[next++] : -1); break;
      case '<': run.head = WrappingAdd(run.head, -1); break;
      case '>': run.head = WrappingAdd(run.head, 1); break;
      case '#': skip = cell(run.head) != 0; break;
      case '@':
        do ++i;
        while (i < length && code[static_cast<std::size_t>(i)] != ')');
        if (i >= length) i = -2;  // no ")" follows: the run ends
        break;
      case '%':
        while (i > 0) {
          --i;
          if (i == 0 || code[static_cast<std::size_t>(i)] == '(') break;
        }
        break;
      default: break;
    }
  }
  run.finished = true;
  return run;
}

class ScriptedPort : public CommandPort {
 public:
  ScriptedPort(const std::vector<Int>& input, Long ticks) : input_(input), ticks_(ticks) {}
  void Write(const char* text, std::size_t length) override { output.append(text, length); }
  Int ReadFirstCode() override { return next_ < input_.size() ? input_[next_++] : -1; }
  bool Tick() override { return --ticks_ >= 0; }
  std::string output;

 private:
  const std::vector<Int>& input_;
  std::size_t next_ = 0;
  Long ticks_;
};

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

  Run expected = RunStepByStep(code, input, head, kSteps);
  Tape tape;
  // A run within the step budget finishes within the tick budget: a tick
  // per jump at most, and one per interval of work. One that goes on is
  // stopped after about as much work as the step budget.
  ScriptedPort port(input, expected.finished ? 4 * kSteps : std::max<Long>(1, kSteps / interval));
  Executor executor(store, tape, port, head);
  executor.SetTickInterval(interval);
  executor.SetStepwise(stepwise);
  bool finished = executor.Run();
  if (expected.finished) {
    Check(finished, "a run that ends, ends");
    Check(port.output == expected.output, "the output");
    Check(executor.Head() == expected.head, "the head");
    Check(tape.Origin() == -std::min<Long>(expected.low, 0) && tape.Extent() == expected.high + 1,
          "the tape grows exactly to the cells used");
    for (Long p = expected.low; p <= expected.high; ++p)
      Check(tape.Read(p) == expected.cells[static_cast<std::size_t>(p - expected.low)], "the cells");
  } else {
    // Both wrote the start of the same endless output.
    std::size_t common = std::min(port.output.size(), expected.output.size());
    Check(port.output.compare(0, common, expected.output, 0, common) == 0, "the output so far");
  }
  return 0;
}
