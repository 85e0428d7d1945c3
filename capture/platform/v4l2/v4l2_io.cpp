#include "capture/platform/v4l2/v4l2_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace v4l2 {
namespace {

class SystemIo final : public IV4L2Io {
 public:
  int Open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
  int Close(int fd) override { return ::close(fd); }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    int r;
    do r = ::ioctl(fd, request, arg);
    while (r == -1 && errno == EINTR);
    return r;
  }
};

}  // namespace

std::shared_ptr<IV4L2Io> SystemV4L2Io() {
  static const auto io = std::make_shared<SystemIo>();
  return io;
}

}  // namespace v4l2
