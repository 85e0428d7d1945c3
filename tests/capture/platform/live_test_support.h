// Helpers for tests that run live GStreamer pipelines: starting a suite, waiting on the event
// loop, and running a shell command such as ffprobe.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace livetest {

// What a live suite starts with: `cameras` synthetic cameras (read when the platform is made)
// and the application whose event loop delivers frames and bus messages.
inline void StartSuite(const char* cameras, const char* program) {
  ::setenv("LUMORA_TEST_CAMERAS", cameras, 1);
  static std::string name;
  name = program;
  static int argc = 1;
  static char* argv[] = {name.data(), nullptr};
  if (!QCoreApplication::instance()) new QApplication(argc, argv);
}

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

// Closing a main window asks the application's loop to quit; no such loop runs in a test, and
// the pending quit would end every later modal loop at once. One turn of the loop consumes it.
inline void ConsumeQuit() {
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
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
