// A camera's own settings remembered between runs: its control values and its format, in a
// section of the capture profile named "device:" and the device's display name (never one of
// the program's own sections, whatever the device calls itself). They are given back
// whenever the device's capture filters are made, before its first frame; a control the
// device no longer has, or no longer accepts, is skipped, and a format it no longer lists
// is not asked for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "capture/platform/media_platform.h"
#include "capture/platform/v4l2/v4l2_controls.h"

class CDeviceMemory {
 public:
  struct Format {
    uint32_t compression = 0;  // four-character code, 0 for RGB
    uint16_t bitCount = 0;
    int32_t width = 0, height = 0;
    int64_t avgTimePerFrame = 0;
    friend bool operator==(const Format&, const Format&) = default;
  };

  // What the capture profile holds for the device (nothing when it holds nothing readable).
  static CDeviceMemory Read(const std::string& displayName);
  // Writes the device's section back, keeping the rest of the profile. False when the
  // profile could not be written.
  bool Write() const;

  // The current values of the controls that can be set now.
  void TakeControls(v4l2::CV4L2Controls& controls);
  void TakeFormat(media::IAMStreamConfig& config);
  // Sets the remembered values in the device's own order (automatic modes come before the
  // values they govern). Returns how many were accepted.
  int ApplyControls(v4l2::CV4L2Controls& controls) const;
  // Sets the remembered format when the device lists it; true when it was set.
  bool ApplyFormat(media::IAMStreamConfig& config) const;

  const std::string& DisplayName() const { return m_displayName; }
  const std::map<uint32_t, int32_t>& Controls() const { return m_controls; }
  const std::optional<Format>& RememberedFormat() const { return m_format; }

 private:
  std::string m_displayName;
  std::map<uint32_t, int32_t> m_controls;
  std::optional<Format> m_format;
};
