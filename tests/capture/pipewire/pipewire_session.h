// A private PipeWire session for tests and benchmarks: its own D-Bus, PipeWire daemon and
// WirePlumber in a runtime folder of its own, and virtual cameras made by gst-launch-1.0
// outside this process. Nothing of the machine's own session is used or touched. Every
// process it starts dies with the process that started it, however that ends (a killed test
// included); a normal end also removes the folder.
#pragma once

#include <sys/types.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pwtest {

// One virtual camera: what the device list shows and the stream it offers.
struct CameraSpec {
  std::string name;    // node.description, the name the program lists (no spaces)
  std::string format;  // "YUY2" or "MJPG"
  int width = 0, height = 0;
  int fps = 0;
};
inline void PrintTo(const CameraSpec& c, std::ostream* os) { *os << c.name; }

class PipeWireSession {
 public:
  PipeWireSession() = default;
  ~PipeWireSession();
  PipeWireSession(const PipeWireSession&) = delete;
  PipeWireSession& operator=(const PipeWireSession&) = delete;

  // Starts the bus, the daemon and the session manager; points this process's PipeWire
  // clients at them. False with the reason in Error() (a program missing, a start failed).
  bool Start();
  // Starts a camera and waits until `listed` (asked with the camera's name) says a device
  // monitor lists it. Returns its process id, or -1 with the reason in Error(). The camera
  // runs until the session ends. Ask the program's own monitor: a second one in the same
  // process makes PipeWire's device provider free a node twice when it stops.
  pid_t AddCamera(const CameraSpec& camera, const std::function<bool(const std::string&)>& listed,
                  int timeoutMs = 20000);
  const std::string& Error() const { return error_; }
  // The logs of the programs started, for a failure's report.
  std::string Logs() const;

  // The programs the session needs, missing ones by name ("" when all are there).
  static std::string MissingPrograms();

 private:
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, int addressFd = -1);
  bool WaitForSocket(const std::string& path, pid_t owner, int timeoutMs);

  std::string dir_;   // temporary folder: runtime dir, configs, logs
  std::string bus_;   // D-Bus address
  std::vector<std::string> env_;
  std::vector<pid_t> daemons_;  // in start order
  std::vector<pid_t> cameras_;
  std::string error_;
};

}  // namespace pwtest
