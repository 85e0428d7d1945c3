// Small helpers every benchmark shares: running the Pillow side of a comparison and
// reading clocks.
#pragma once

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <utility>

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

}  // namespace bench
