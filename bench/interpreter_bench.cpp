// Loading and tape growth: the costs that must stay amortised.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "interpreter/loader.h"
#include "interpreter/modules.h"
#include "interpreter/tape.h"

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
    CodeStore store;
    LoadProgram(name, store);
    benchmark::DoNotOptimize(store.commands.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadProgram)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

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
