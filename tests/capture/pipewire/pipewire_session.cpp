#include "tests/capture/pipewire/pipewire_session.h"

#include "tests/capture/pipewire/child_process.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace pwtest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A session bus that can start nothing (no service folders): whatever asks it for a service
// gets an error at once instead of a program running outside our control.
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@BUS@</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// gst-launch-1.0's words for a camera that offers one mode and moves (a bouncing ball).
std::vector<std::string> CameraPipeline(const CameraSpec& c) {
  const std::string size = ",width=" + std::to_string(c.width) + ",height=" + std::to_string(c.height) +
                           ",framerate=" + std::to_string(c.fps) + "/1";
  std::vector<std::string> argv = {"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=ball", "!"};
  if (c.format == "MJPG") {
    for (const std::string& w : {"video/x-raw,format=I420" + size, std::string("!"), std::string("jpegenc"),
                                 std::string("!"), "image/jpeg" + size})
      argv.push_back(w);
  } else {
    argv.push_back("video/x-raw,format=" + c.format + size);
  }
  for (const std::string& w : {std::string("!"), std::string("pipewiresink"), std::string("mode=provide"),
                               "stream-properties=props,media.class=Video/Source,node.description=" + c.name})
    argv.push_back(w);
  return argv;
}

}  // namespace

std::string PipeWireSession::MissingPrograms() {
  std::string missing;
  for (const char* p : {"dbus-daemon", "pipewire", "wireplumber", "gst-launch-1.0"})
    if (!OnPath(p)) missing += std::string(missing.empty() ? "" : " ") + p;
  gst_init(nullptr, nullptr);
  for (const char* f : {"pipewiresrc", "pipewiresink"})
    if (GstElementFactory* factory = gst_element_factory_find(f)) gst_object_unref(factory);
    else missing += std::string(missing.empty() ? "" : " ") + f;
  return missing;
}

bool PipeWireSession::Start() {
  if (const std::string missing = MissingPrograms(); !missing.empty()) {
    error_ = "missing: " + missing;
    return false;
  }
  // Folders of sessions whose process died without cleaning up go first.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/tmp", ec)) {
    const std::string name = e.path().filename().string();
    int owner = 0;
    if (std::sscanf(name.c_str(), "lumora-pipewire-%d-", &owner) == 1 && owner > 0 && ::kill(owner, 0) != 0 &&
        errno == ESRCH)
      fs::remove_all(e.path(), ec);
  }
  std::string tmpl = "/tmp/lumora-pipewire-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) {
    error_ = "no temporary folder";
    return false;
  }
  dir_ = tmpl.c_str();
  const std::string run = dir_ + "/run";
  for (const char* sub : {"/run", "/config", "/state", "/data"}) ::mkdir((dir_ + sub).c_str(), 0700);
  bus_ = "unix:path=" + run + "/bus";
  {
    std::string config = kBusConfig;
    config.replace(config.find("@BUS@"), 5, run + "/bus");
    std::ofstream(dir_ + "/bus.conf") << config;
  }
  // Variables that would lead our programs (or their clients) to the machine's own session
  // are replaced.
  env_ = childproc::EnvironmentWithout({"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR", "PIPEWIRE_REMOTE",
                                        "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "XDG_CONFIG_HOME",
                                        "XDG_STATE_HOME", "XDG_DATA_HOME"});
  for (const std::string& v : {"XDG_RUNTIME_DIR=" + run, "PIPEWIRE_RUNTIME_DIR=" + run,
                               "DBUS_SESSION_BUS_ADDRESS=" + bus_, "DBUS_SYSTEM_BUS_ADDRESS=" + bus_,
                               "XDG_CONFIG_HOME=" + dir_ + "/config", "XDG_STATE_HOME=" + dir_ + "/state",
                               "XDG_DATA_HOME=" + dir_ + "/data"})
    env_.push_back(v);

  // The bus prints its address once it listens.
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return error_ = "pipe", false;
  const pid_t bus = Spawn({"dbus-daemon", "--nofork", "--config-file=" + dir_ + "/bus.conf", "--print-address=3"},
                          "dbus.log", ready[1]);
  ::close(ready[1]);
  std::string address;
  pollfd p{ready[0], POLLIN, 0};
  char buf[256];
  while (address.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
    const ssize_t n = ::read(ready[0], buf, sizeof buf);
    if (n <= 0) break;
    address.append(buf, size_t(n));
  }
  ::close(ready[0]);
  if (bus < 0 || address.find('\n') == std::string::npos) return error_ = "dbus-daemon did not start", false;

  const pid_t daemon = Spawn({"pipewire"}, "pipewire.log");
  if (daemon < 0 || !WaitForSocket(run + "/pipewire-0", daemon, 10000)) return false;
  // WirePlumber's Bluetooth monitor needs logind; where there is none (a container, a
  // machine without systemd) WirePlumber quits and no camera is ever linked. Our own
  // configuration leaves Bluetooth off.
  ::mkdir((dir_ + "/config/wireplumber").c_str(), 0700);
  ::mkdir((dir_ + "/config/wireplumber/bluetooth.lua.d").c_str(), 0700);
  std::ofstream(dir_ + "/config/wireplumber/bluetooth.lua.d/90-enable-all.lua") << "-- no Bluetooth\n";
  if (Spawn({"wireplumber"}, "wireplumber.log") < 0) return false;
  // This process's clients (the device monitor, pipewiresrc) reach the private daemon.
  ::setenv("PIPEWIRE_RUNTIME_DIR", run.c_str(), 1);
  ::unsetenv("PIPEWIRE_REMOTE");
  return true;
}

PipeWireSession::~PipeWireSession() {
  for (pid_t c : cameras_) childproc::Stop(c);
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) childproc::Stop(*it);
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

pid_t PipeWireSession::Spawn(const std::vector<std::string>& argv, const std::string& log, int addressFd) {
  const pid_t pid = childproc::Start(argv, env_, dir_ + "/" + log, addressFd);
  if (pid < 0) {
    error_ = "cannot start " + argv[0];
    return -1;
  }
  (argv[0] == "gst-launch-1.0" ? cameras_ : daemons_).push_back(pid);
  return pid;
}

bool PipeWireSession::WaitForSocket(const std::string& path, pid_t owner, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (::access(path.c_str(), F_OK) != 0) {
    if (childproc::Exited(owner) || Clock::now() > end) {
      error_ = "no socket " + path + "\n" + Logs();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

pid_t PipeWireSession::AddCamera(const CameraSpec& camera, const std::function<bool(const std::string&)>& listed,
                                 int timeoutMs) {
  const pid_t pid = Spawn(CameraPipeline(camera), "camera-" + std::to_string(cameras_.size()) + ".log");
  if (pid < 0) return -1;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool gone = false;
  while (!listed(camera.name)) {
    if ((gone = childproc::Exited(pid)) || Clock::now() > end) {
      if (!gone) childproc::Stop(pid);
      std::erase(cameras_, pid);
      error_ = camera.name + " never listed\n" + Logs();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pid;
}

std::string PipeWireSession::Logs() const {
  std::string text;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir_, ec)) {
    if (e.path().extension() != ".log") continue;
    std::ifstream in(e.path());
    std::stringstream s;
    s << in.rdbuf();
    text += "--- " + e.path().filename().string() + "\n" + s.str();
  }
  return text;
}

}  // namespace pwtest
