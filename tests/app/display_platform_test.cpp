// The display platform the program asks Qt for: the rule over the session's variables, and
// the real program started in a headless Wayland session that also runs XWayland.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "app/display_platform.h"
#include "tests/capture/pipewire/child_process.h"

namespace {

namespace fs = std::filesystem;
using Env = std::map<std::string, std::string>;

TEST(DisplayPlatform, WaylandSessionsPreferXWaylandUnlessTheUserChose) {
  const struct {
    Env env;
    const char* expected;
  } cases[] = {
      {{}, ""},                                                  // nothing to go by: Qt's default
      {{{"DISPLAY", ":0"}}, ""},                                 // X11
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":1"}}, "xcb"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, "wayland"},           // no XWayland
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}, "wayland"},
      {{{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "offscreen"}}, ""},
  };
  for (const auto& c : cases) {
    const std::string choice = display_platform::Choose([&](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    std::string vars;
    for (const auto& [k, v] : c.env) vars += k + "=" + v + " ";
    EXPECT_EQ(choice, c.expected) << vars;
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A headless compositor with XWayland in a runtime folder of its own.
class WestonSession : public testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v weston >/dev/null 2>&1") != 0) GTEST_SKIP() << "weston is not installed";
    char tmpl[] = "/tmp/lumora-weston-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    // XWayland listens where every X server does; the folder may not exist on a machine that
    // never ran one.
    ::mkdir("/tmp/.X11-unix", 01777);
    std::vector<std::string> env = childproc::EnvironmentWithout({"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DISPLAY"});
    env.push_back("XDG_RUNTIME_DIR=" + dir_.string());
    weston_ = childproc::Start({"weston", "--backend=headless-backend.so", "--xwayland", "--no-config",
                                "--socket=" + std::string(kSocket), "--log=" + (dir_ / "weston.log").string()},
                               env, (dir_ / "weston.out").string());
    ASSERT_GT(weston_, 0);
    // Ready once the Wayland socket exists and the X display is announced.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (display_.empty() || !fs::exists(dir_ / kSocket)) {
      ASSERT_FALSE(childproc::Exited(weston_)) << ReadFile(dir_ / "weston.log");
      ASSERT_LT(std::chrono::steady_clock::now(), end) << ReadFile(dir_ / "weston.log");
      const std::string log = ReadFile(dir_ / "weston.log");
      if (auto at = log.find("listening on display "); at != std::string::npos) {
        std::istringstream(log.substr(at + 21)) >> display_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  void TearDown() override {
    childproc::Stop(weston_);
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // Starts the program in the session with `extra` variables; what its start-up probe says
  // ("shown <ns> <platform>"), or its output when it said nothing.
  std::string RunProgram(const std::vector<std::string>& extra) {
    std::vector<std::string> env = childproc::EnvironmentWithout(
        {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"});
    env.insert(env.end(), {"XDG_RUNTIME_DIR=" + dir_.string(), "WAYLAND_DISPLAY=" + std::string(kSocket),
                           "XDG_SESSION_TYPE=wayland", "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
                           "LUMORA_STARTUP_PROBE=1", "LUMORA_TEST_CAMERAS=1"});
    env.insert(env.end(), extra.begin(), extra.end());
    const fs::path out = dir_ / "program.out";
    fs::remove(out);
    const pid_t pid = childproc::Start({std::string(LUMORA_BIN_DIR) + "/lumora2003"}, env, out.string());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!childproc::Exited(pid)) {
      if (std::chrono::steady_clock::now() > end) {
        childproc::Stop(pid);
        return "timed out: " + ReadFile(out);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string text = ReadFile(out);
    char platform[32] = "";
    long long ns = 0;
    const auto at = text.find("shown ");
    if (at != std::string::npos && std::sscanf(text.c_str() + at, "shown %lld %31s", &ns, platform) == 2)
      return platform;
    return "no window shown: " + text;
  }

  static constexpr const char* kSocket = "lumora-wayland";
  fs::path dir_;
  pid_t weston_ = -1;
  std::string display_;
};

TEST_F(WestonSession, ProgramRunsOnXWaylandWhenOfferedAndOnWaylandOtherwise) {
  EXPECT_EQ(RunProgram({"DISPLAY=" + display_}), "xcb");
  EXPECT_EQ(RunProgram({}), "wayland");
  EXPECT_EQ(RunProgram({"DISPLAY=" + display_, "QT_QPA_PLATFORM=wayland"}), "wayland");
}

}  // namespace
