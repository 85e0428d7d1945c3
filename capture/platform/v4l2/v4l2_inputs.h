// A capture device's video inputs (camera, composite, S-Video, tuner) and the analogue TV
// norms it can decode (PAL, NTSC, SECAM ...): listed with VIDIOC_ENUMINPUT / VIDIOC_ENUMSTD,
// read and chosen with VIDIOC_G/S_INPUT and VIDIOC_G/S_STD. Plain C++ on IV4L2Io; the
// "Video Crossbar..." and "TV Tuner..." pages build on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/platform/v4l2/v4l2_io.h"

namespace v4l2 {

struct Input {
  uint32_t index = 0;
  std::string name;
  bool tuner = false;  // an RF input: the picture comes through the TV tuner
};

struct Standard {
  uint64_t id = 0;  // v4l2_std_id bits
  std::string name;
};

class CV4L2Inputs {
 public:
  // Opens the node; null when it cannot be opened.
  static std::unique_ptr<CV4L2Inputs> Open(std::shared_ptr<IV4L2Io> io, const std::string& path);
  ~CV4L2Inputs();
  CV4L2Inputs(const CV4L2Inputs&) = delete;
  CV4L2Inputs& operator=(const CV4L2Inputs&) = delete;

  // In the device's order; empty when the device is gone or lists none.
  std::vector<Input> Inputs();
  bool HasTuner();
  // 0 or an errno.
  int CurrentInput(uint32_t& index);
  int SetInput(uint32_t index);

  // The norms the current input can decode; empty for devices without norms (webcams).
  std::vector<Standard> Standards();
  // The current norm as the driver reports it (may be several bits). 0 or an errno.
  int CurrentStandard(uint64_t& id);
  int SetStandard(uint64_t id);

 private:
  CV4L2Inputs(std::shared_ptr<IV4L2Io> io, int fd) : m_io(std::move(io)), m_fd(fd) {}
  int Call(unsigned long request, void* arg);

  std::shared_ptr<IV4L2Io> m_io;
  int m_fd;
};

// Which of `standards` the driver's current norm bits name: an exact match first, else the
// first that shares a bit; -1 for none.
int StandardIndex(const std::vector<Standard>& standards, uint64_t current);

}  // namespace v4l2
