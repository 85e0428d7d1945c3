#include "app/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

namespace {

// Written by the handler (only async-signal-safe work there), read on the UI thread.
int g_signalPipe[2] = {-1, -1};

void OnQuitSignal(int signo) {
  const char byte = char(signo);
  const int saved = errno;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void CloseOnQuitSignals(QWidget* window) {
  if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
  QPointer<QWidget> target = window;
  QObject::connect(notifier, &QSocketNotifier::activated, [target] {
    char byte = 0;
    [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
    if (target) target->close();
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signo, &action, nullptr);
}
