#include "capture/platform/v4l2/v4l2_controls.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

namespace v4l2 {
namespace {

constexpr uint32_t kNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
// A device lists a few dozen controls; a driver that keeps answering is broken.
constexpr int kMaxControls = 1024;

template <typename Char, size_t N>
std::string Text(const Char (&chars)[N]) {
  const char* text = reinterpret_cast<const char*>(chars);
  return std::string(text, strnlen(text, N));
}

// The errno of a failed call (never 0, so that failure cannot read as success).
int LastError() { return errno ? errno : EIO; }

bool KindOf(uint32_t type, Control::Kind& kind) {
  switch (type) {
    case V4L2_CTRL_TYPE_INTEGER: kind = Control::Kind::Integer; return true;
    case V4L2_CTRL_TYPE_BOOLEAN: kind = Control::Kind::Boolean; return true;
    case V4L2_CTRL_TYPE_MENU: kind = Control::Kind::Menu; return true;
    case V4L2_CTRL_TYPE_INTEGER_MENU: kind = Control::Kind::IntegerMenu; return true;
    case V4L2_CTRL_TYPE_BUTTON: kind = Control::Kind::Button; return true;
    default: return false;  // classes, strings, 64-bit and compound values
  }
}

}  // namespace

bool Control::Inactive() const { return flags & V4L2_CTRL_FLAG_INACTIVE; }
bool Control::ReadOnly() const {
  return flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
}

CV4L2Controls::CV4L2Controls(std::shared_ptr<IV4L2Io> io, int fd) : m_io(std::move(io)), m_fd(fd) {}

CV4L2Controls::~CV4L2Controls() { m_io->Close(m_fd); }

std::unique_ptr<CV4L2Controls> CV4L2Controls::Open(std::shared_ptr<IV4L2Io> io,
                                                   const std::string& path) {
  if (!io) return nullptr;
  const int fd = io->Open(path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::unique_ptr<CV4L2Controls>(new CV4L2Controls(std::move(io), fd));
}

int CV4L2Controls::QueryOne(uint32_t request, Control& control) {
  uint32_t type = 0;
  if (m_extendedQueries) {
    v4l2_query_ext_ctrl q{};
    q.id = request;
    if (m_io->Ioctl(m_fd, VIDIOC_QUERY_EXT_CTRL, &q) == 0) {
      control.id = q.id;
      type = q.type;
      control.name = Text(q.name);
      control.minimum = q.minimum;
      control.maximum = q.maximum;
      control.step = static_cast<int64_t>(q.step);
      control.defaultValue = q.default_value;
      control.flags = q.flags;
      return KindOf(type, control.kind) ? 0 : -1;
    }
    if (errno != ENOTTY) return LastError();
    m_extendedQueries = false;  // an older kernel: the plain query knows the same controls
  }
  v4l2_queryctrl q{};
  q.id = request & ~V4L2_CTRL_FLAG_NEXT_COMPOUND;
  if (m_io->Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) != 0) return LastError();
  control.id = q.id;
  type = q.type;
  control.name = Text(q.name);
  control.minimum = q.minimum;
  control.maximum = q.maximum;
  control.step = q.step;
  control.defaultValue = q.default_value;
  control.flags = q.flags;
  return KindOf(type, control.kind) ? 0 : -1;
}

void CV4L2Controls::ReadMenu(Control& control) {
  control.menu.clear();
  if (control.kind != Control::Kind::Menu && control.kind != Control::Kind::IntegerMenu) return;
  // Items the driver does not offer answer EINVAL and are skipped, not the end of the menu.
  for (int64_t i = control.minimum; i <= control.maximum && i - control.minimum < kMaxControls;
       ++i) {
    v4l2_querymenu m{};
    m.id = control.id;
    m.index = static_cast<uint32_t>(i);
    if (m_io->Ioctl(m_fd, VIDIOC_QUERYMENU, &m) != 0) continue;
    // The menu record is packed: read its fields by copy.
    char name[sizeof m.name];
    std::memcpy(name, m.name, sizeof name);
    const int64_t value = m.value;
    control.menu.emplace_back(i, control.kind == Control::Kind::Menu ? Text(name)
                                                                     : std::to_string(value));
  }
}

std::vector<Control> CV4L2Controls::Enumerate() {
  std::vector<Control> controls;
  uint32_t next = 0;
  for (int n = 0; n < kMaxControls; ++n) {
    Control c;
    const int r = QueryOne(next | kNextFlags, c);
    if (r > 0) break;  // EINVAL: past the last control; anything else: the device is gone
    if (n > 0 && c.id <= next) break;  // a driver that does not advance
    next = c.id;
    if (r < 0 || (c.flags & V4L2_CTRL_FLAG_DISABLED)) continue;
    ReadMenu(c);
    controls.push_back(std::move(c));
  }
  return controls;
}

int CV4L2Controls::Query(uint32_t id, Control& control) {
  const int r = QueryOne(id, control);
  if (r < 0) return EINVAL;
  if (r == 0) ReadMenu(control);
  return r;
}

int CV4L2Controls::Get(uint32_t id, int32_t& value) {
  v4l2_control c{};
  c.id = id;
  if (m_io->Ioctl(m_fd, VIDIOC_G_CTRL, &c) != 0) return LastError();
  value = c.value;
  return 0;
}

int CV4L2Controls::Set(uint32_t id, int32_t value) {
  v4l2_control c{};
  c.id = id;
  c.value = value;
  return m_io->Ioctl(m_fd, VIDIOC_S_CTRL, &c) != 0 ? LastError() : 0;
}

}  // namespace v4l2
