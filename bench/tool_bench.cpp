// lumora-image against Pillow, whole process against whole process, on a 4000 x 3000
// photograph: `encode` (PPM to each of the seven formats), `convert` (each format to
// itself) and `decode` (each format to an RGB_ALPHA PAM), each beside a Python process
// doing the same with Pillow (pillow_tool.py), alternating in the same run so both see the
// same machine load.
//
// Measured: the child's CPU time (user + system, from wait4), start-up included on both
// sides. Counters: cpu_ms (ours), pillow_cpu_ms, and ours_over_pillow (CPU; below 1 means
// we use less). Reported as the median of the iterations (--benchmark_repetitions adds more).
//
// LUMORA_IMAGE_TOOL names another lumora-image to measure (an older build, say); the picture
// is LUMORA_BENCH_PHOTO, else a Debian wallpaper when installed, else a generated one.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr const char* kDir = "/tmp/lumora_tool_bench";
constexpr const char* kDefaultPhoto =
    "/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg";
const char* const kFormats[] = {"bmp", "jpg", "png", "tif", "tga", "pcx", "gif"};
const char* const kCommands[] = {"encode", "convert", "decode"};

std::string Script() { return LUMORA_SOURCE_DIR "/bench/pillow_tool.py"; }

std::string Tool() {
  const char* env = std::getenv("LUMORA_IMAGE_TOOL");
  return env != nullptr ? env : LUMORA_BIN_DIR "/lumora-image";
}

void MakeInputs() {
  static const bool made = [] {
    const char* env = std::getenv("LUMORA_BENCH_PHOTO");
    const std::string label =
        bench::RunCommand("/usr/bin/python3 " + Script() + " make " + kDir + " " +
                          std::to_string(kWidth) + " " + std::to_string(kHeight) + " " +
                          (env != nullptr ? env : kDefaultPhoto));
    std::fprintf(stderr, "picture: %s", label.c_str());
    return true;
  }();
  (void)made;
}

// Runs argv as a child process; its CPU seconds (user + system), or -1 when it fails.
double ChildCpuSeconds(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_Tool(benchmark::State& state) {
  MakeInputs();
  const std::string command = kCommands[state.range(0)];
  const std::string format = kFormats[state.range(1)];
  const std::string dir = kDir;
  const std::string in = dir + (command == "encode" ? "/in.ppm" : "/in." + format);
  const std::string out = command == "decode" ? "/out.pam" : "/out." + format;
  std::vector<double> ours, pillow;
  for (auto _ : state) {
    const double a = ChildCpuSeconds({Tool(), command, in, dir + "/ours" + out});
    const double b = ChildCpuSeconds(
        {"/usr/bin/python3", Script(), command, in, dir + "/pillow" + out});
    if (a < 0 || b < 0) {
      state.SkipWithError("a process failed");
      return;
    }
    ours.push_back(a);
    pillow.push_back(b);
    state.SetIterationTime(a);
  }
  const double o = Median(ours), p = Median(pillow);
  state.counters["cpu_ms"] = o * 1e3;
  state.counters["pillow_cpu_ms"] = p * 1e3;
  state.counters["ours_over_pillow"] = o / p;
  state.SetLabel(command + " " + format);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int c = 0; c < 3; ++c) {
    for (int f = 0; f < 7; ++f) b->Args({c, f});
  }
}

BENCHMARK(BM_Tool)->Apply(Args)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::create_directories(std::string(kDir) + "/ours");
  std::filesystem::create_directories(std::string(kDir) + "/pillow");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
