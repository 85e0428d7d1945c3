// A camera's V4L2 controls (brightness, white balance, exposure, ...): listed with
// V4L2_CTRL_FLAG_NEXT_CTRL, menus read item by item, values read and set one at a time.
// Plain C++ on IV4L2Io; the "Video Source..." dialog and the remembered camera settings
// build on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/platform/v4l2/v4l2_io.h"

namespace v4l2 {

struct Control {
  enum class Kind { Integer, Boolean, Menu, IntegerMenu, Button };
  uint32_t id = 0;
  Kind kind = Kind::Integer;
  std::string name;
  int64_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  uint32_t flags = 0;  // V4L2_CTRL_FLAG_*
  // Menu items the device offers: (index, text). Indexes may have gaps.
  std::vector<std::pair<int64_t, std::string>> menu;

  // Shown greyed: an automatic mode currently decides the value.
  bool Inactive() const;
  // Cannot be set now (read-only, or held by a running stream).
  bool ReadOnly() const;
};

class CV4L2Controls {
 public:
  // Opens the node; null when it cannot be opened.
  static std::unique_ptr<CV4L2Controls> Open(std::shared_ptr<IV4L2Io> io, const std::string& path);
  ~CV4L2Controls();
  CV4L2Controls(const CV4L2Controls&) = delete;
  CV4L2Controls& operator=(const CV4L2Controls&) = delete;

  // The controls a user can set, in the device's order (control classes, disabled controls
  // and kinds without a simple value are left out). Empty when the device is gone.
  std::vector<Control> Enumerate();
  // One control's current description (flags change with automatic modes). 0 or an errno.
  int Query(uint32_t id, Control& control);
  int Get(uint32_t id, int32_t& value);
  int Set(uint32_t id, int32_t value);

 private:
  CV4L2Controls(std::shared_ptr<IV4L2Io> io, int fd);
  int QueryOne(uint32_t request, Control& control);  // request: id, possibly | NEXT_CTRL
  void ReadMenu(Control& control);

  std::shared_ptr<IV4L2Io> m_io;
  int m_fd;
  bool m_extendedQueries = true;  // VIDIOC_QUERY_EXT_CTRL known (kernels since 3.17)
};

}  // namespace v4l2
