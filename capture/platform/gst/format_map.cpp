#include "capture/platform/gst/format_map.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>

namespace media::gstmap {
namespace {

struct Row {
  const char* mediaType;
  const char* format;
  Guid subtype;
  uint16_t bits;
  uint32_t compression;
};

// One table both ways. Four-character codes are the ones AVI files and capture drivers use.
const Row kRows[] = {
    {"video/x-raw", "BGR", guid::kSubtypeRGB24, 24, 0},
    {"video/x-raw", "BGRx", guid::kSubtypeRGB32, 32, 0},
    {"video/x-raw", "RGB16", guid::kSubtypeRGB565, 16, 0},
    {"video/x-raw", "RGB15", guid::kSubtypeRGB555, 16, 0},
    {"video/x-raw", "YUY2", guid::kSubtypeYUY2, 16, MakeFourcc('Y', 'U', 'Y', '2')},
    {"video/x-raw", "UYVY", guid::kSubtypeUYVY, 16, MakeFourcc('U', 'Y', 'V', 'Y')},
    {"video/x-raw", "I420", guid::kSubtypeI420, 12, MakeFourcc('I', '4', '2', '0')},
    {"video/x-raw", "YV12", SubtypeFromFourcc(MakeFourcc('Y', 'V', '1', '2')), 12, MakeFourcc('Y', 'V', '1', '2')},
    {"video/x-raw", "NV12", guid::kSubtypeNV12, 12, MakeFourcc('N', 'V', '1', '2')},
    {"video/x-raw", "GRAY8", SubtypeFromFourcc(MakeFourcc('Y', '8', '0', '0')), 8, MakeFourcc('Y', '8', '0', '0')},
    {"image/jpeg", "", guid::kSubtypeMJPG, 24, MakeFourcc('M', 'J', 'P', 'G')},
};

}  // namespace

std::optional<FormatCode> CodeForCaps(const std::string& mediaType, const std::string& format) {
  for (const Row& r : kRows) {
    if (mediaType != r.mediaType) continue;
    if (mediaType == "image/jpeg" || format == r.format) return FormatCode{r.subtype, r.bits, r.compression};
  }
  return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> CapsForSubtype(const Guid& subtype) {
  for (const Row& r : kRows)
    if (r.subtype == subtype) return std::pair<std::string, std::string>{r.mediaType, r.format};
  return std::nullopt;
}

int64_t FrameInterval(int fpsNum, int fpsDen) {
  if (fpsNum <= 0 || fpsDen <= 0) return 0;
  return int64_t(10000000) * fpsDen / fpsNum;
}

std::vector<int64_t> OfferedIntervals(int64_t minInterval, int64_t maxInterval) {
  if (minInterval <= 0) return {};
  if (maxInterval < minInterval) maxInterval = minInterval;
  std::vector<int64_t> out{minInterval};
  // 60 fps and the others as the capture code writes them (10000000 / rate).
  for (int64_t usual : {166666, 200000, 333333, 400000, 416666, 500000, 666666, 1000000, 1333333, 2000000})
    // One off either way is the same rate rounded elsewhere.
    if (usual > minInterval + 1 && usual < maxInterval - 1) out.push_back(usual);
  if (maxInterval > minInterval + 1) out.push_back(maxInterval);
  return out;
}

std::pair<int, int> RateForInterval(int64_t interval) {
  if (interval <= 0) return {0, 1};
  // An interval is a rate rounded to 100 ns: the whole rate (or half rate, or NTSC rate) it
  // was rounded from, when there is one, states the rate the user meant.
  for (const int64_t scale : {1, 2, 1001}) {
    const int64_t den = scale == 1001 ? 1001 : scale;
    const int64_t unit = scale == 1001 ? 1000 : 1;
    const int64_t steps = (int64_t(10000000) * den / unit + interval / 2) / interval;
    if (steps <= 0 || steps * unit > INT32_MAX) continue;
    if (std::abs(FrameInterval(int(steps * unit), int(den)) - interval) <= 1) {
      const int64_t g = std::gcd(steps * unit, den);
      return {int(steps * unit / g), int(den / g)};
    }
  }
  const int64_t g = std::gcd(int64_t(10000000), interval);
  int64_t num = 10000000 / g, den = interval / g;
  // Keep both inside int for the caps fraction (very long intervals lose precision only).
  while (den > INT32_MAX || num > INT32_MAX) {
    num = (num + 1) / 2;
    den = (den + 1) / 2;
  }
  return {int(num), int(den)};
}

MediaType MediaTypeFor(const CapsEntry& e) {
  const auto code = CodeForCaps(e.mediaType, e.format);
  if (!code) return MediaType{};
  return MakeVideoMediaType(code->subtype, e.width, e.height, code->bitCount, code->compression,
                            FrameInterval(e.fpsNum, e.fpsDen));
}

std::vector<Capability> GroupCapabilities(const std::vector<CapsEntry>& entries) {
  std::vector<Capability> out;
  for (const CapsEntry& e : entries) {
    if (!CodeForCaps(e.mediaType, e.format) || e.width <= 0 || e.height <= 0) continue;
    const int64_t interval = FrameInterval(e.fpsNum, e.fpsDen);
    auto same = std::find_if(out.begin(), out.end(), [&](const Capability& c) {
      return c.entry.mediaType == e.mediaType && c.entry.format == e.format &&
             c.entry.width == e.width && c.entry.height == e.height;
    });
    if (same == out.end()) {
      out.push_back(Capability{e, interval, interval, {}});
      if (interval > 0) out.back().rates.push_back({e.fpsNum, e.fpsDen});
      continue;
    }
    if (interval > 0 && std::find(same->rates.begin(), same->rates.end(), Rate{e.fpsNum, e.fpsDen}) == same->rates.end())
      same->rates.push_back({e.fpsNum, e.fpsDen});
    if (interval > 0 && (same->minInterval == 0 || interval < same->minInterval)) {
      same->minInterval = interval;
      same->entry.fpsNum = e.fpsNum;
      same->entry.fpsDen = e.fpsDen;
    }
    if (interval > same->maxInterval) same->maxInterval = interval;
  }
  return out;
}

std::optional<Rate> ListedRate(const Capability& c, int64_t interval) {
  std::optional<Rate> best;
  int64_t bestOff = 2;
  for (const Rate& r : c.rates) {
    const int64_t off = std::abs(FrameInterval(r.first, r.second) - interval);
    if (off < bestOff) {
      bestOff = off;
      best = r;
    }
  }
  return best;
}

Rate SourceRateFor(const Capability& c, int64_t interval) {
  Rate fastest{0, 1}, slowestEnough{0, 1};
  int64_t fastestInterval = INT64_MAX, enoughInterval = 0;
  for (const Rate& r : c.rates) {
    const int64_t i = FrameInterval(r.first, r.second);
    if (i < fastestInterval) fastestInterval = i, fastest = r;
    if (i <= interval && i > enoughInterval) enoughInterval = i, slowestEnough = r;
  }
  return enoughInterval > 0 ? slowestEnough : fastest;
}

std::string DeviceDisplayName(const DeviceIdentity& id) {
  const std::string prefix = kDisplayNamePrefix;
  if (id.testCamera >= 0) return prefix + "test:" + std::to_string(id.testCamera);
  if (!id.serial.empty())
    return prefix + "usb:" + id.vendorId + ":" + id.productId + ":" + id.serial;
  // The bus position survives re-enumeration of /dev/videoN; the card name tells apart
  // two functions of one bus address.
  if (!id.busInfo.empty()) return prefix + "bus:" + id.busInfo + (id.card.empty() ? "" : ":" + id.card);
  if (!id.name.empty()) return prefix + "name:" + id.name;
  return prefix + "path:" + id.path;
}

std::string DevicePhysicalKey(const DeviceIdentity& id) {
  if (id.testCamera >= 0 || !id.serial.empty()) return DeviceDisplayName(id);
  if (!id.busInfo.empty()) return "bus:" + id.busInfo + (id.card.empty() ? "" : ":" + id.card);
  if (!id.path.empty()) return "path:" + id.path;
  return "name:" + id.name;
}

std::vector<std::string> DeviceDisplayNames(const std::vector<DeviceIdentity>& ids) {
  std::vector<std::string> names(ids.size()), keys(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    keys[i] = DevicePhysicalKey(ids[i]);
    bool seen = false;
    for (size_t j = 0; j < i && !seen; ++j) seen = !names[j].empty() && keys[j] == keys[i];
    if (seen) continue;
    names[i] = DeviceDisplayName(ids[i]);
  }
  // Same name, different devices: each is known by its path (or its place in the list).
  for (size_t i = 0; i < ids.size(); ++i) {
    if (names[i].empty()) continue;
    bool shared = false;
    for (size_t j = 0; j < ids.size(); ++j)
      shared |= j != i && names[j] == names[i] && keys[j] != keys[i];
    if (!shared) continue;
    for (size_t j = i + 1; j < ids.size(); ++j)
      if (names[j] == names[i] && keys[j] != keys[i])
        names[j] = kDisplayNamePrefix + (ids[j].path.empty() ? "name:" + ids[j].name + "#" + std::to_string(j)
                                                              : "path:" + ids[j].path);
  }
  return names;
}

void DropCounter::Add(uint64_t offset) {
  ++seen_;
  if (offset == kNoOffset) return;
  if (last_ != kNoOffset && offset > last_ + 1) dropped_ += offset - last_ - 1;
  last_ = offset;
}

}  // namespace media::gstmap
