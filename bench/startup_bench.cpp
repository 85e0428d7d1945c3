// Start-up time of lumora2003: from the moment the process is spawned to the main window's
// first expose (the program prints the monotonic clock then, with LUMORA_STARTUP_PROBE=1,
// and exits). The baseline is a bare Qt main window with a menu bar, measured the same way
// in the same run, so the figure reads as "our start-up over Qt's own".
//
// Runs on the platform Qt picks (xcb under xvfb-run, offscreen without a display).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace {

long long NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Spawns `program` with the probe on; returns milliseconds from spawn to shown, or -1.
double SpawnToShownMs(const std::string& program) {
  std::vector<std::string> env{"LUMORA_STARTUP_PROBE=1"};
  if (!std::getenv("DISPLAY")) env.emplace_back("QT_QPA_PLATFORM=offscreen");
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "LUMORA_STARTUP_PROBE=", 21) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  std::string text;
  const long long start = NowNs();
  if (bench::SpawnReadingOutput(argv, envp.data(), text) < 0) return -1;
  long long shown = 0;
  const auto at = text.find("shown ");
  if (at == std::string::npos || std::sscanf(text.c_str() + at, "shown %lld", &shown) != 1)
    return -1;
  return double(shown - start) / 1e6;
}

void Measure(benchmark::State& state, const std::string& program) {
  for (auto _ : state) {
    const double ms = SpawnToShownMs(program);
    if (ms < 0) {
      state.SkipWithError(("no start-up report from " + program).c_str());
      return;
    }
    state.SetIterationTime(ms / 1000.0);
  }
}

void BM_StartupLumora2003(benchmark::State& state) {
  Measure(state, LUMORA_BIN_DIR "/lumora2003");
}
void BM_StartupBareQtWindow(benchmark::State& state) {
  Measure(state, LUMORA_BIN_DIR "/startup_baseline");
}

// Interleaved so both see the same machine load.
BENCHMARK(BM_StartupBareQtWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StartupLumora2003)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
