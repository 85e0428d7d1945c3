#include "tests/capture/pipewire/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace childproc {

pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
            int passFd) {
  // Everything the child needs is made before fork: after it only async-signal-safe calls.
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const int out = ::open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);  // the parent died before the line above
    ::setpgid(0, 0);
    ::dup2(in, STDIN_FILENO);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    if (passFd >= 0) ::dup2(passFd, 3);  // dup2 clears close-on-exec
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (out >= 0) ::close(out);
  if (in >= 0) ::close(in);
  return pid;
}

bool Exited(pid_t pid) {
  int status = 0;
  const pid_t r = ::waitpid(pid, &status, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

void Stop(pid_t pid, int graceMs) {
  if (pid <= 0 || Exited(pid) || ::kill(pid, SIGTERM) != 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  while (!Exited(pid)) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<std::string> EnvironmentWithout(std::initializer_list<const char*> names) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool drop = false;
    for (const char* n : names) {
      const size_t len = std::strlen(n);
      drop = drop || (std::strncmp(*e, n, len) == 0 && (*e)[len] == '=');
    }
    if (!drop) env.emplace_back(*e);
  }
  return env;
}

}  // namespace childproc
