#include "capture/platform/v4l2/v4l2_inputs.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

namespace v4l2 {
namespace {

// A driver that never ends its list must not hang the dialog.
constexpr uint32_t kMaxEntries = 64;

template <size_t N>
std::string NameOf(const uint8_t (&name)[N]) {
  return std::string(reinterpret_cast<const char*>(name), strnlen(reinterpret_cast<const char*>(name), N));
}

}  // namespace

std::unique_ptr<CV4L2Inputs> CV4L2Inputs::Open(std::shared_ptr<IV4L2Io> io, const std::string& path) {
  if (!io) return nullptr;
  const int fd = io->Open(path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::unique_ptr<CV4L2Inputs>(new CV4L2Inputs(std::move(io), fd));
}

CV4L2Inputs::~CV4L2Inputs() { m_io->Close(m_fd); }

int CV4L2Inputs::Call(unsigned long request, void* arg) {
  return m_io->Ioctl(m_fd, request, arg) == 0 ? 0 : (errno ? errno : EIO);
}

std::vector<Input> CV4L2Inputs::Inputs() {
  std::vector<Input> out;
  for (uint32_t i = 0; i < kMaxEntries; ++i) {
    v4l2_input in{};
    in.index = i;
    if (Call(VIDIOC_ENUMINPUT, &in) != 0) break;
    out.push_back(Input{in.index, NameOf(in.name), in.type == V4L2_INPUT_TYPE_TUNER});
  }
  return out;
}

bool CV4L2Inputs::HasTuner() {
  for (const Input& in : Inputs())
    if (in.tuner) return true;
  return false;
}

int CV4L2Inputs::CurrentInput(uint32_t& index) {
  int value = 0;
  const int r = Call(VIDIOC_G_INPUT, &value);
  if (r == 0) index = uint32_t(value);
  return r;
}

int CV4L2Inputs::SetInput(uint32_t index) {
  int value = int(index);
  return Call(VIDIOC_S_INPUT, &value);
}

std::vector<Standard> CV4L2Inputs::Standards() {
  std::vector<Standard> out;
  for (uint32_t i = 0; i < kMaxEntries; ++i) {
    v4l2_standard s{};
    s.index = i;
    if (Call(VIDIOC_ENUMSTD, &s) != 0) break;
    out.push_back(Standard{s.id, NameOf(s.name)});
  }
  return out;
}

int CV4L2Inputs::CurrentStandard(uint64_t& id) {
  v4l2_std_id value = 0;
  const int r = Call(VIDIOC_G_STD, &value);
  if (r == 0) id = value;
  return r;
}

int CV4L2Inputs::SetStandard(uint64_t id) {
  v4l2_std_id value = id;
  return Call(VIDIOC_S_STD, &value);
}

int StandardIndex(const std::vector<Standard>& standards, uint64_t current) {
  for (size_t i = 0; i < standards.size(); ++i)
    if (standards[i].id == current) return int(i);
  for (size_t i = 0; i < standards.size(); ++i)
    if (standards[i].id & current) return int(i);
  return -1;
}

}  // namespace v4l2
