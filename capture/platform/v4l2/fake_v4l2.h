// A V4L2 node in memory carrying the controls of a common UVC webcam, for tests and for the
// synthetic cameras: integer sliders, an automatic white balance that makes the white
// balance temperature inactive while on, an auto-exposure menu with gaps whose absolute
// exposure is inactive (and refuses values) outside manual mode, continuous autofocus over
// an absolute focus, and power-line frequency as a menu. Values are kept like a driver's:
// integers are clamped to their range and rounded to their step, menus refuse items they
// do not offer. It has one camera input and no TV norms unless a test gives it others.
// Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/platform/v4l2/v4l2_io.h"

namespace v4l2 {

struct FakeControl {
  uint32_t id = 0;
  uint32_t type = 0;  // V4L2_CTRL_TYPE_*
  std::string name;
  int64_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  uint32_t flags = 0;
  std::vector<std::pair<uint32_t, std::string>> menu;  // items offered
  int32_t value = 0;
};

struct FakeInput {
  std::string name;
  bool tuner = false;
};

struct FakeStandard {
  uint64_t id = 0;  // v4l2_std_id bits
  std::string name;
};

class FakeV4L2 final : public IV4L2Io {
 public:
  explicit FakeV4L2(std::string path = "/dev/video0",
                    std::vector<FakeControl> controls = UvcWebcamControls());
  static std::vector<FakeControl> UvcWebcamControls();

  int Open(const char* path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;

  // --- test controls
  // Setting the control answers `error` from now on (0: accepted again).
  void Refuse(uint32_t id, int error);
  // The camera is pulled out: every later call answers ENODEV.
  void Unplug();
  // An older kernel without VIDIOC_QUERY_EXT_CTRL (it answers ENOTTY).
  void SetExtendedQueries(bool on);
  int32_t Value(uint32_t id) const;
  // Inputs and norms; the first of each becomes the current one.
  void SetInputs(std::vector<FakeInput> inputs);
  void SetStandards(std::vector<FakeStandard> standards);
  // Choosing an input / a norm answers `error` from now on (0: accepted again).
  void RefuseInputs(int error);
  void RefuseStandards(int error);
  uint32_t CurrentInput() const;
  uint64_t CurrentStandard() const;
  int OpenDescriptors() const;

 private:
  FakeControl* Find(uint32_t id);
  // The first control after `id` (with a next flag) or the control itself.
  FakeControl* Lookup(uint32_t request);
  uint32_t FlagsNow(const FakeControl& c) const;
  int SetValue(FakeControl& c, int32_t value);
  // VIDIOC_ENUMINPUT, G/S_INPUT, ENUMSTD, G/S_STD; ENOTTY for any other request.
  int InputIoctl(unsigned long request, void* arg);

  const std::string m_path;
  mutable std::mutex m_mutex;
  std::vector<FakeControl> m_controls;
  std::map<uint32_t, int> m_refusals;
  std::vector<int> m_open;
  int m_nextFd = 100;
  bool m_unplugged = false;
  bool m_extended = true;
  std::vector<FakeInput> m_inputs{{"Camera 1", false}};
  std::vector<FakeStandard> m_standards;
  uint32_t m_input = 0;
  uint64_t m_standard = 0;
  int m_inputRefusal = 0;
  int m_standardRefusal = 0;
};

}  // namespace v4l2
