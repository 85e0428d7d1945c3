// Child processes for tests that run other programs beside them (daemons, compositors,
// virtual cameras): each dies with the process that started it, however that ends.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace childproc {

// Starts argv[0] (looked up on PATH) with exactly `env`, stdin from /dev/null, stdout and
// stderr appended to `log` (none when empty). `passFd`, when given, is the child's fd 3.
// The child gets SIGKILL when this process ends and has a process group of its own, so a
// terminal's Ctrl-C reaches only the test. -1 when it could not be started.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
            int passFd = -1);
// Reaps the child when it has ended.
bool Exited(pid_t pid);
// SIGTERM, then SIGKILL after `graceMs`; the child is reaped.
void Stop(pid_t pid, int graceMs = 3000);
// This process's environment without the named variables.
std::vector<std::string> EnvironmentWithout(std::initializer_list<const char*> names);

}  // namespace childproc
