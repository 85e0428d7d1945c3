// Helpers for tests that run live GStreamer pipelines: waiting on the event loop, and running
// a shell command such as ffprobe.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

namespace livetest {

// Runs the event loop until `done` or the deadline; frames and bus messages arrive through it.
// The deadline is generous (sanitizer build, loaded machine); a passing wait ends at once.
inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// What the command printed, without its trailing line ends.
inline std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace livetest
