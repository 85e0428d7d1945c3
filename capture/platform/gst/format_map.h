// Pure helpers of the GStreamer backend, on plain data (no GStreamer types), so they are
// tested without a pipeline: caps fields <-> media types, capability lists, frame intervals,
// device identities and drop counting from buffer offsets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/platform/media_types.h"

namespace media::gstmap {

// One fixed caps structure, as read from a device: "video/x-raw" with a format name, or
// "image/jpeg" (format empty).
struct CapsEntry {
  std::string mediaType;
  std::string format;
  int width = 0;
  int height = 0;
  int fpsNum = 0;  // 0/1 = unknown
  int fpsDen = 1;
};

struct FormatCode {
  Guid subtype;
  uint16_t bitCount = 0;
  uint32_t compression = 0;  // 0 for RGB
};

// "BGR" -> RGB24 (24 bits, uncompressed), "YUY2" -> YUY2 (16, 'YUY2'), image/jpeg -> MJPG...
// Nothing for formats the capture code has no name for.
std::optional<FormatCode> CodeForCaps(const std::string& mediaType, const std::string& format);
// The reverse: {mediaType, format} for a subtype (nothing when unknown).
std::optional<std::pair<std::string, std::string>> CapsForSubtype(const Guid& subtype);

// 100 ns units per frame for a rate (0 when the rate is unknown or not positive).
int64_t FrameInterval(int fpsNum, int fpsDen);
// The rate a frame interval stands for: the round rate it is rounded from (30/1 for 333333,
// 30000/1001 for 333667), else the reduced exact fraction (0/1 when not positive).
std::pair<int, int> RateForInterval(int64_t interval);

// Frame intervals a format page offers for a capability, fastest first: its fastest and
// slowest rate and the usual rates between them (60, 50, 30, 25, 24, 20, 15, 10, 7.5, 5).
std::vector<int64_t> OfferedIntervals(int64_t minInterval, int64_t maxInterval);

// Media type of one entry (RGB rows bottom-up: positive height).
MediaType MediaTypeFor(const CapsEntry& entry);

// Capabilities in device order, one per (format, size); frame rates of the same format and
// size merge into the interval range and keep their own fractions. Entries with unknown
// formats are left out.
using Rate = std::pair<int, int>;  // num/den; 0/1 = unknown
struct Capability {
  CapsEntry entry;  // the fastest rate of the group
  int64_t minInterval = 0;
  int64_t maxInterval = 0;
  std::vector<Rate> rates;  // as the device lists them
};
std::vector<Capability> GroupCapabilities(const std::vector<CapsEntry>& entries);

// The listed rate a wanted frame interval stands for: the nearest one, when the interval is
// that rate rounded (one unit either way). Devices run only at the fractions they list:
// 10000000/333333 is not 30/1 to them.
std::optional<Rate> ListedRate(const Capability& c, int64_t interval);
// The listed rate to convert a rate the device does not run at from: the slowest one at
// least as fast as wanted, else the fastest (0/1 when the device lists none).
Rate SourceRateFor(const Capability& c, int64_t interval);

// What identifies a device across re-plugging: the stable parts of its properties.
struct DeviceIdentity {
  int testCamera = -1;  // synthetic camera number, -1 for real devices
  std::string serial, vendorId, productId;
  std::string busInfo, card;
  std::string path;
  std::string name;
};
// "@device:gst:test:N", "@device:gst:usb:VID:PID:SERIAL", "@device:gst:bus:BUSINFO",
// "@device:gst:name:NAME"; the device path only when nothing else exists.
std::string DeviceDisplayName(const DeviceIdentity& id);
// What tells one physical device from another: one camera listed by two providers (V4L2
// and PipeWire) has one key; two identical cameras without serial numbers differ by bus
// position or device path.
std::string DevicePhysicalKey(const DeviceIdentity& id);
// Display names of the devices of one enumeration, in order: "" for a device an earlier
// one already stands for; devices that would share a name keep apart by their path.
std::vector<std::string> DeviceDisplayNames(const std::vector<DeviceIdentity>& ids);
inline constexpr char kDisplayNamePrefix[] = "@device:gst:";

// Counts frames missing from a stream of buffer offsets (a driver's sequence numbers).
// Offsets that go backwards (a restart) start a new sequence; no offset = nothing known.
class DropCounter {
public:
  static constexpr uint64_t kNoOffset = UINT64_MAX;
  void Add(uint64_t offset);
  uint64_t Dropped() const { return dropped_; }
  uint64_t Seen() const { return seen_; }

private:
  uint64_t last_ = kNoOffset;
  uint64_t dropped_ = 0;
  uint64_t seen_ = 0;
};

}  // namespace media::gstmap
