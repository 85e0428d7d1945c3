// Small helpers every benchmark shares: running the Pillow side of a comparison, reading
// clocks, and summing up ours-against-baseline runs taken in turn.
#pragma once

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Standard output of a shell command (empty if it cannot start).
inline std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  return out;
}

// Runs `argv` (found on PATH unless it names a path) with `envp`, collecting its standard
// output into `out`; its wait status, or -1 when it cannot start. `usage`, when given,
// receives the CPU it used.
inline int SpawnReadingOutput(char* const argv[], char* const envp[], std::string& out,
                              rusage* usage = nullptr) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, pipeEnds[0]);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&fa);
  close(pipeEnds[1]);
  if (rc != 0) {
    close(pipeEnds[0]);
    return -1;
  }
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(pipeEnds[0]);
  int status = 0;
  rusage ignored{};
  wait4(pid, &status, 0, usage ? usage : &ignored);
  return status;
}

inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double WallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Lines "KEY WALL CPU" (seconds), as the Pillow scripts print one per call, averaged per key.
inline std::map<std::string, std::pair<double, double>> MeanTimesByKey(const std::string& lines) {
  std::map<std::string, std::pair<double, double>> means;
  std::map<std::string, int> counts;
  std::istringstream in(lines);
  std::string key;
  double wall = 0, cpu = 0;
  while (in >> key >> wall >> cpu) {
    auto& [w, c] = means[key];
    w += wall;
    c += cpu;
    ++counts[key];
  }
  for (auto& [k, t] : means) {
    t.first /= counts[k];
    t.second /= counts[k];
  }
  return means;
}

// utime + stime of another (still running) process, from /proc/<pid>/stat.
inline double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The one-minute load average, the figure quoted beside every measurement.
inline double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = -1;
  in >> load;
  return load;
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Largest minus smallest, over the median: 0.1 means the runs lie within 10 % of the median.
inline double Spread(const std::vector<double>& v) {
  const double m = Median(v);
  if (v.empty() || m == 0) return 0;
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return (*hi - *lo) / m;
}

// Our side and the baseline run in turn, `rounds` times, the order swapped every round
// (ours first, then the baseline first) so that neither always meets the machine warmer or
// busier. Each call returns the CPU seconds per second of its run (negative: the run failed,
// and `error` says why). Reported: the medians and spreads of both sides and of the ratio
// taken round by round, and the mean load average while the rounds ran.
// Rounds of a paired benchmark: LUMORA_BENCH_ROUNDS, else 5.
inline int Rounds() {
  const char* env = std::getenv("LUMORA_BENCH_ROUNDS");
  const int n = env ? std::atoi(env) : 0;
  return n > 0 ? n : 5;
}

struct PairedRuns {
  std::vector<double> ours, base, ratio, load;
};

inline bool RunPaired(benchmark::State& state, int rounds, const std::function<double()>& ours,
                      const std::function<double()>& base, PairedRuns& runs) {
  for (int round = 0; round < rounds; ++round) {
    runs.load.push_back(LoadAverage());
    double o = 0, b = 0;
    if (round % 2 == 0) {
      o = ours();
      b = o < 0 ? 0 : base();
    } else {
      b = base();
      o = b < 0 ? 0 : ours();
    }
    if (o < 0 || b < 0) return false;
    runs.ours.push_back(o);
    runs.base.push_back(b);
    runs.ratio.push_back(b > 0 ? o / b : 0);
  }
  state.counters["cpu_per_s"] = Median(runs.ours);
  state.counters["cpu_spread"] = Spread(runs.ours);
  state.counters["base_cpu_per_s"] = Median(runs.base);
  state.counters["base_spread"] = Spread(runs.base);
  state.counters["ratio"] = Median(runs.ratio);
  state.counters["ratio_spread"] = Spread(runs.ratio);
  double load = 0;
  for (double l : runs.load) load += l;
  state.counters["load"] = load / double(runs.load.size());
  // Every run, for the record: "ours a b c / base d e f".
  std::ostringstream label;
  label.precision(3);
  label << "ours";
  for (double o : runs.ours) label << ' ' << o;
  label << " / base";
  for (double b : runs.base) label << ' ' << b;
  state.SetLabel(label.str());
  return true;
}

}  // namespace bench
