// Loading, translation, the executor's inner loop and tape growth.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "interpreter/internal/executor.h"
#include "interpreter/internal/loader.h"
#include "interpreter/modules.h"
#include "interpreter/internal/tape.h"
#include "interpreter/internal/translator.h"

namespace corvid {
namespace {

// A code file of mostly commentary, as a large hand-written program is.
std::filesystem::path MakeCodeFile(std::size_t bytes) {
  auto path = std::filesystem::temp_directory_path() / "corvid-bench-code.txt";
  std::ofstream out(path, std::ios::binary);
  const std::string line = "The quick brown fox jumps over the lazy dog + > - < .\n";
  for (std::size_t written = 0; written < bytes; written += line.size()) out << line;
  return path;
}

void BM_LoadProgram(benchmark::State& state) {
  StartProgramModule();
  auto bytes = static_cast<std::size_t>(state.range(0)) << 20;
  auto path = MakeCodeFile(bytes);
  Ref<String> name = FromBytes(path.string());
  for (auto _ : state) {
    Translator translator;
    LoadProgram(name, translator);
    Program program = translator.Finish();
    benchmark::DoNotOptimize(program.ops.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadProgram)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

// What a run does before it executes anything: the code file loaded and
// translated as it loads. The files are those CORVID_BENCH_FILES names
// (separated by ":"; bench/run names its programs); bytes are the file's,
// items its commands.
void BM_TranslateFile(benchmark::State& state, const std::string& path) {
  StartProgramModule();
  Ref<String> name = FromBytes(path);
  CodeStore store;
  LoadProgram(name, store);
  for (auto _ : state) {
    Translator translator;
    LoadProgram(name, translator);
    Program program = translator.Finish();
    benchmark::DoNotOptimize(program.ops.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
  state.SetItemsProcessed(state.iterations() * store.Length());
}

const bool kFilesRegistered = [] {
  const char* files = std::getenv("CORVID_BENCH_FILES");
  std::string list = files ? files : "";
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = std::min(list.find(':', at), list.size());
    std::string path = list.substr(at, end - at);
    if (!path.empty()) {
      benchmark::RegisterBenchmark(("BM_TranslateFile/" + std::filesystem::path(path).stem().string()).c_str(),
                                   BM_TranslateFile, path)
          ->Unit(benchmark::kMillisecond);
    }
    at = end + 1;
  }
  return true;
}();

// Loops "( body - # @ % )" with long bodies of moves and changes, some of
// them guarded by "#": what most programs spend their time in.
CodeStore MakeLoops(int loops, int bodyLength) {
  std::mt19937 random(84);
  std::string code;
  for (int l = 0; l < loops; ++l) {
    code += std::string(random() % 5 + 1, '+') + "(";
    int pos = 0;
    for (std::size_t start = code.size(); code.size() - start < static_cast<std::size_t>(bodyLength);) {
      int step = static_cast<int>(random() % 5) - 2;
      code += std::string(static_cast<std::size_t>(std::abs(step)), step > 0 ? '>' : '<');
      pos += step;
      if (pos == 0) continue;
      if (random() % 100 < 15) code += '#';
      code += std::string(random() % 3 + 1, random() % 2 ? '+' : '-');
    }
    code += std::string(static_cast<std::size_t>(std::abs(pos)), pos > 0 ? '<' : '>') + "-#@%)";
  }
  CodeStore store;
  store.commands.assign(code.begin(), code.end());
  return store;
}

class NullPort : public CommandPort {
 public:
  void Write(const char*, std::size_t) override {}
  Int ReadFirstCode() override { return -1; }
};

void BM_Translate(benchmark::State& state) {
  CodeStore store = MakeLoops(400, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Program program = Translate(store);
    benchmark::DoNotOptimize(program.ops.data());
  }
  state.SetItemsProcessed(state.iterations() * store.Length());
}
BENCHMARK(BM_Translate)->Arg(60)->Arg(400)->Unit(benchmark::kMillisecond);

void BM_RunLoops(benchmark::State& state) {
  CodeStore store = MakeLoops(400, static_cast<int>(state.range(0)));
  NullPort port;
  Tape tape;
  Executor executor(store, tape, port);
  for (auto _ : state) executor.Run();
}
BENCHMARK(BM_RunLoops)->Arg(60)->Arg(400)->Unit(benchmark::kMillisecond);

// One new cell per step, as a walk outward does.
void BM_TapeWalk(benchmark::State& state) {
  for (auto _ : state) {
    Tape tape;
    for (Long p = 0; p < state.range(0); ++p) {
      tape.Write(p, 1);
      tape.Write(-p, 1);
    }
    benchmark::DoNotOptimize(tape.Extent());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_TapeWalk)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvid
