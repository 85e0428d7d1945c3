// The few V4L2 calls the camera controls and inputs need, behind an interface so that they
// can be read and driven without a V4L2 device (tests, synthetic cameras). Calls keep the
// kernel's shapes: Open gives a descriptor or -1, Ioctl 0 or -1, with errno set on failure.
#pragma once

#include <memory>

namespace v4l2 {

class IV4L2Io {
 public:
  virtual ~IV4L2Io() = default;
  virtual int Open(const char* path, int flags) = 0;
  virtual int Close(int fd) = 0;
  // The control calls (VIDIOC_QUERYCTRL, VIDIOC_QUERY_EXT_CTRL, VIDIOC_QUERYMENU, VIDIOC_G/S_CTRL)
  // and the input and norm calls (VIDIOC_ENUMINPUT, VIDIOC_G/S_INPUT, VIDIOC_ENUMSTD, VIDIOC_G/S_STD).
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
};

// The system's calls (retrying an ioctl interrupted by a signal).
std::shared_ptr<IV4L2Io> SystemV4L2Io();

}  // namespace v4l2
