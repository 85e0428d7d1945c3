#include "capture/platform/v4l2/fake_v4l2.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace v4l2 {
namespace {

constexpr uint32_t kNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;

int Fail(int error) {
  errno = error;
  return -1;
}

template <typename Char, size_t N>
void CopyName(const std::string& from, Char (&to)[N]) {
  std::memset(to, 0, N);
  std::memcpy(to, from.data(), std::min(from.size(), N - 1));
}

FakeControl Make(uint32_t id, uint32_t type, const char* name, int64_t min, int64_t max,
                 int64_t step, int64_t def) {
  FakeControl c;
  c.id = id;
  c.type = type;
  c.name = name;
  c.minimum = min;
  c.maximum = max;
  c.step = step;
  c.defaultValue = def;
  c.value = static_cast<int32_t>(def);
  return c;
}

FakeControl ClassControl(uint32_t id, const char* name) {
  FakeControl c = Make(id, V4L2_CTRL_TYPE_CTRL_CLASS, name, 0, 0, 0, 0);
  c.flags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
  return c;
}

}  // namespace

std::vector<FakeControl> FakeV4L2::UvcWebcamControls() {
  std::vector<FakeControl> c;
  c.push_back(ClassControl(V4L2_CID_USER_CLASS, "User Controls"));
  c.push_back(Make(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 1, 128));
  c.push_back(Make(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 1, 32));
  c.push_back(Make(V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation", 0, 255, 1, 32));
  c.push_back(Make(V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -40, 40, 1, 0));
  c.push_back(Make(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN,
                   "White Balance, Automatic", 0, 1, 1, 1));
  c.push_back(Make(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 64));
  FakeControl power = Make(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU,
                           "Power Line Frequency", 0, 2, 1, 2);
  power.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
  c.push_back(power);
  c.push_back(Make(V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER,
                   "White Balance Temperature", 2800, 6500, 10, 4000));
  c.push_back(Make(V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness", 0, 255, 1, 24));
  c.push_back(Make(V4L2_CID_BACKLIGHT_COMPENSATION, V4L2_CTRL_TYPE_INTEGER,
                   "Backlight Compensation", 0, 1, 1, 0));
  c.push_back(ClassControl(V4L2_CID_CAMERA_CLASS, "Camera Controls"));
  // UVC cameras offer only some exposure modes; the others are holes in the menu.
  FakeControl exposure =
      Make(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, 3);
  exposure.menu = {{V4L2_EXPOSURE_MANUAL, "Manual Mode"},
                   {V4L2_EXPOSURE_APERTURE_PRIORITY, "Aperture Priority Mode"}};
  exposure.value = V4L2_EXPOSURE_APERTURE_PRIORITY;
  c.push_back(exposure);
  c.push_back(Make(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute",
                   3, 2047, 1, 250));
  c.push_back(Make(V4L2_CID_EXPOSURE_AUTO_PRIORITY, V4L2_CTRL_TYPE_BOOLEAN,
                   "Exposure, Dynamic Framerate", 0, 1, 1, 0));
  c.push_back(Make(V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Focus, Absolute", 0, 250, 5,
                   0));
  c.push_back(Make(V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN,
                   "Focus, Automatic Continuous", 0, 1, 1, 1));
  return c;
}

FakeV4L2::FakeV4L2(std::string path, std::vector<FakeControl> controls)
    : m_path(std::move(path)), m_controls(std::move(controls)) {
  std::sort(m_controls.begin(), m_controls.end(),
            [](const FakeControl& a, const FakeControl& b) { return a.id < b.id; });
}

int FakeV4L2::Open(const char* path, int) {
  std::lock_guard lock(m_mutex);
  if (m_unplugged || m_path != path) return Fail(ENOENT);
  m_open.push_back(m_nextFd);
  return m_nextFd++;
}

int FakeV4L2::Close(int fd) {
  std::lock_guard lock(m_mutex);
  auto it = std::find(m_open.begin(), m_open.end(), fd);
  if (it == m_open.end()) return Fail(EBADF);
  m_open.erase(it);
  return 0;
}

FakeControl* FakeV4L2::Find(uint32_t id) {
  auto it = std::find_if(m_controls.begin(), m_controls.end(),
                         [id](const FakeControl& c) { return c.id == id; });
  return it == m_controls.end() ? nullptr : &*it;
}

FakeControl* FakeV4L2::Lookup(uint32_t request) {
  if (!(request & kNextFlags)) return Find(request);
  const uint32_t after = request & ~kNextFlags;
  auto it = std::find_if(m_controls.begin(), m_controls.end(),
                         [after](const FakeControl& c) { return c.id > after; });
  return it == m_controls.end() ? nullptr : &*it;
}

uint32_t FakeV4L2::FlagsNow(const FakeControl& c) const {
  auto valueOf = [this](uint32_t id) {
    for (const FakeControl& o : m_controls)
      if (o.id == id) return o.value;
    return 0;
  };
  uint32_t flags = c.flags;
  if ((c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE && valueOf(V4L2_CID_AUTO_WHITE_BALANCE)) ||
      (c.id == V4L2_CID_EXPOSURE_ABSOLUTE &&
       valueOf(V4L2_CID_EXPOSURE_AUTO) != V4L2_EXPOSURE_MANUAL) ||
      (c.id == V4L2_CID_FOCUS_ABSOLUTE && valueOf(V4L2_CID_FOCUS_AUTO)))
    flags |= V4L2_CTRL_FLAG_INACTIVE;
  return flags;
}

int FakeV4L2::SetValue(FakeControl& c, int32_t value) {
  if (auto it = m_refusals.find(c.id); it != m_refusals.end()) return Fail(it->second);
  if (c.flags & V4L2_CTRL_FLAG_READ_ONLY) return Fail(EACCES);
  // The camera decides this value itself in its automatic mode.
  if (c.id == V4L2_CID_EXPOSURE_ABSOLUTE && (FlagsNow(c) & V4L2_CTRL_FLAG_INACTIVE))
    return Fail(EACCES);
  switch (c.type) {
    case V4L2_CTRL_TYPE_INTEGER: {
      int64_t v = std::clamp<int64_t>(value, c.minimum, c.maximum);
      if (c.step > 1) v = c.minimum + (v - c.minimum + c.step / 2) / c.step * c.step;
      c.value = static_cast<int32_t>(std::min(v, c.maximum));
      return 0;
    }
    case V4L2_CTRL_TYPE_BOOLEAN:
      if (value < 0 || value > 1) return Fail(ERANGE);
      c.value = value;
      return 0;
    case V4L2_CTRL_TYPE_MENU:
      if (value < c.minimum || value > c.maximum) return Fail(ERANGE);
      if (std::none_of(c.menu.begin(), c.menu.end(),
                       [value](const auto& item) { return int64_t(item.first) == value; }))
        return Fail(EINVAL);
      c.value = value;
      return 0;
    default:
      return Fail(EINVAL);
  }
}

int FakeV4L2::Ioctl(int fd, unsigned long request, void* arg) {
  std::lock_guard lock(m_mutex);
  if (m_unplugged) return Fail(ENODEV);
  if (std::find(m_open.begin(), m_open.end(), fd) == m_open.end()) return Fail(EBADF);
  switch (request) {
    case VIDIOC_QUERY_EXT_CTRL: {
      if (!m_extended) return Fail(ENOTTY);
      auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
      const FakeControl* c = Lookup(q->id);
      if (!c) return Fail(EINVAL);
      *q = v4l2_query_ext_ctrl{};
      q->id = c->id;
      q->type = c->type;
      CopyName(c->name, q->name);
      q->minimum = c->minimum;
      q->maximum = c->maximum;
      q->step = static_cast<uint64_t>(c->step);
      q->default_value = c->defaultValue;
      q->flags = FlagsNow(*c);
      q->elem_size = 4;
      q->elems = 1;
      q->nr_of_dims = 0;
      return 0;
    }
    case VIDIOC_QUERYCTRL: {
      auto* q = static_cast<v4l2_queryctrl*>(arg);
      const FakeControl* c = Lookup(q->id);
      if (!c) return Fail(EINVAL);
      *q = v4l2_queryctrl{};
      q->id = c->id;
      q->type = c->type;
      CopyName(c->name, q->name);
      q->minimum = static_cast<int32_t>(c->minimum);
      q->maximum = static_cast<int32_t>(c->maximum);
      q->step = static_cast<int32_t>(c->step);
      q->default_value = static_cast<int32_t>(c->defaultValue);
      q->flags = FlagsNow(*c);
      return 0;
    }
    case VIDIOC_QUERYMENU: {
      auto* m = static_cast<v4l2_querymenu*>(arg);
      const FakeControl* c = Find(m->id);
      if (!c || c->type != V4L2_CTRL_TYPE_MENU) return Fail(EINVAL);
      for (const auto& [index, name] : c->menu)
        if (index == m->index) {
          // The menu record is packed: copy through memcpy, not a reference.
          std::memset(m->name, 0, sizeof m->name);
          std::memcpy(m->name, name.data(), std::min(name.size(), sizeof m->name - 1));
          return 0;
        }
      return Fail(EINVAL);
    }
    case VIDIOC_G_CTRL: {
      auto* v = static_cast<v4l2_control*>(arg);
      const FakeControl* c = Find(v->id);
      if (!c || c->type == V4L2_CTRL_TYPE_CTRL_CLASS) return Fail(EINVAL);
      v->value = c->value;
      return 0;
    }
    case VIDIOC_S_CTRL: {
      auto* v = static_cast<v4l2_control*>(arg);
      FakeControl* c = Find(v->id);
      if (!c || c->type == V4L2_CTRL_TYPE_CTRL_CLASS) return Fail(EINVAL);
      if (SetValue(*c, v->value) != 0) return -1;
      v->value = c->value;
      return 0;
    }
    default:
      return InputIoctl(request, arg);
  }
}

int FakeV4L2::InputIoctl(unsigned long request, void* arg) {
  switch (request) {
    case VIDIOC_ENUMINPUT: {
      auto* in = static_cast<v4l2_input*>(arg);
      if (in->index >= m_inputs.size()) return Fail(EINVAL);
      const uint32_t index = in->index;
      const FakeInput& f = m_inputs[index];
      *in = v4l2_input{};
      in->index = index;
      CopyName(f.name, in->name);
      in->type = f.tuner ? V4L2_INPUT_TYPE_TUNER : V4L2_INPUT_TYPE_CAMERA;
      for (const FakeStandard& s : m_standards) in->std |= s.id;
      if (!m_standards.empty()) in->capabilities = V4L2_IN_CAP_STD;
      return 0;
    }
    case VIDIOC_G_INPUT:
      *static_cast<int*>(arg) = int(m_input);
      return 0;
    case VIDIOC_S_INPUT: {
      const int index = *static_cast<int*>(arg);
      if (m_inputRefusal) return Fail(m_inputRefusal);
      if (index < 0 || size_t(index) >= m_inputs.size()) return Fail(EINVAL);
      m_input = uint32_t(index);
      return 0;
    }
    // A camera without norms answers ENODATA, as UVC drivers do.
    case VIDIOC_ENUMSTD: {
      auto* s = static_cast<v4l2_standard*>(arg);
      if (m_standards.empty()) return Fail(ENODATA);
      if (s->index >= m_standards.size()) return Fail(EINVAL);
      const uint32_t index = s->index;
      const FakeStandard& f = m_standards[index];
      *s = v4l2_standard{};
      s->index = index;
      s->id = f.id;
      CopyName(f.name, s->name);
      const bool sixty = f.id & V4L2_STD_525_60;
      s->frameperiod = sixty ? v4l2_fract{1001, 30000} : v4l2_fract{1, 25};
      s->framelines = sixty ? 525 : 625;
      return 0;
    }
    case VIDIOC_G_STD:
      if (m_standards.empty()) return Fail(ENODATA);
      *static_cast<v4l2_std_id*>(arg) = m_standard;
      return 0;
    case VIDIOC_S_STD: {
      const v4l2_std_id id = *static_cast<v4l2_std_id*>(arg);
      if (m_standards.empty()) return Fail(ENODATA);
      if (m_standardRefusal) return Fail(m_standardRefusal);
      // Like a driver, take the first norm the asked bits name.
      for (const FakeStandard& s : m_standards)
        if (s.id & id) {
          m_standard = s.id;
          return 0;
        }
      return Fail(EINVAL);
    }
    default:
      return Fail(ENOTTY);
  }
}

void FakeV4L2::Refuse(uint32_t id, int error) {
  std::lock_guard lock(m_mutex);
  if (error)
    m_refusals[id] = error;
  else
    m_refusals.erase(id);
}

void FakeV4L2::Unplug() {
  std::lock_guard lock(m_mutex);
  m_unplugged = true;
}

void FakeV4L2::SetExtendedQueries(bool on) {
  std::lock_guard lock(m_mutex);
  m_extended = on;
}

int32_t FakeV4L2::Value(uint32_t id) const {
  std::lock_guard lock(m_mutex);
  for (const FakeControl& c : m_controls)
    if (c.id == id) return c.value;
  return 0;
}

void FakeV4L2::SetInputs(std::vector<FakeInput> inputs) {
  std::lock_guard lock(m_mutex);
  m_inputs = std::move(inputs);
  m_input = 0;
}

void FakeV4L2::SetStandards(std::vector<FakeStandard> standards) {
  std::lock_guard lock(m_mutex);
  m_standards = std::move(standards);
  m_standard = m_standards.empty() ? 0 : m_standards.front().id;
}

void FakeV4L2::RefuseInputs(int error) {
  std::lock_guard lock(m_mutex);
  m_inputRefusal = error;
}

void FakeV4L2::RefuseStandards(int error) {
  std::lock_guard lock(m_mutex);
  m_standardRefusal = error;
}

uint32_t FakeV4L2::CurrentInput() const {
  std::lock_guard lock(m_mutex);
  return m_input;
}

uint64_t FakeV4L2::CurrentStandard() const {
  std::lock_guard lock(m_mutex);
  return m_standard;
}

int FakeV4L2::OpenDescriptors() const {
  std::lock_guard lock(m_mutex);
  return int(m_open.size());
}

}  // namespace v4l2
