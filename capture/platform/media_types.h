// Value types of the media platform: status codes, identifiers, media types and events.
//
// Everything here is plain data (standard library only), so the capture logic, both
// backends and the tests share it without seeing GStreamer or Qt.
//
// Status codes keep the numbering the capture code tests for: negative = failure, 0 = plain
// success, positive = success with a remark (1 = "false", 0x0004027E = preview made from the
// capture stream, 0x0004022D = added under a changed name).
//
// Media types are values: whoever receives one owns it, and it is freed when it goes out of
// scope (no explicit "delete media type" call exists or is needed).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace media {

using Status = int32_t;

constexpr Status MakeStatus(uint32_t v) { return static_cast<Status>(v); }

// Named status codes. The hexadecimal values are part of the behaviour: error texts print
// them with "%x" and callers compare against them.
namespace status {
inline constexpr Status kOk = 0;
inline constexpr Status kFalse = 1;
inline constexpr Status kPreviewFromCapture = MakeStatus(0x0004027E);  // no separate preview pin
inline constexpr Status kDuplicateName = MakeStatus(0x0004022D);      // added under another name
inline constexpr Status kDuplicateNameError = MakeStatus(0x8004022D);
inline constexpr Status kCannotConnect = MakeStatus(0x80040217);
inline constexpr Status kInvalidMediaType = MakeStatus(0x80040200);
inline constexpr Status kNotConnected = MakeStatus(0x80040209);
inline constexpr Status kAlreadyConnected = MakeStatus(0x80040204);
inline constexpr Status kWrongState = MakeStatus(0x80040227);
inline constexpr Status kNotFound = MakeStatus(0x80040216);        // object not in graph / no such pin
inline constexpr Status kNoInterface = MakeStatus(0x80004002);     // the object lacks that facility
inline constexpr Status kNotImplemented = MakeStatus(0x80004001);
inline constexpr Status kPointer = MakeStatus(0x80004003);
inline constexpr Status kFail = MakeStatus(0x80004005);
inline constexpr Status kUnexpected = MakeStatus(0x8000FFFF);
inline constexpr Status kOutOfMemory = MakeStatus(0x8007000E);
inline constexpr Status kInvalidArg = MakeStatus(0x80070057);
inline constexpr Status kAccessDenied = MakeStatus(0x80070005);
inline constexpr Status kFileNotFound = MakeStatus(0x80070002);
inline constexpr Status kDiskFull = MakeStatus(0x80070070);
inline constexpr Status kDeviceInUse = MakeStatus(0x800700AA);     // resource busy
inline constexpr Status kDeviceAccessDenied = MakeStatus(0x80070522);  // the user may not open the device
inline constexpr Status kBufferTooSmall = MakeStatus(0x8007007A);
inline constexpr Status kTimeout = MakeStatus(0x800705B4);
}  // namespace status

constexpr bool Succeeded(Status s) { return s >= 0; }
constexpr bool Failed(Status s) { return s < 0; }

// Graph event codes the capture code reacts to (others exist and are ignored).
namespace event {
inline constexpr long kComplete = 0x01;
inline constexpr long kErrorAbort = 0x03;  // param1 = failing status
inline constexpr long kDeviceLost = 0x1F;  // filter = the device's filter; param2 0 = removed, 1 = back
}  // namespace event

// Window-message numbering used for the graph notification ("first user message + 1").
inline constexpr uint32_t kFirstUserMessage = 0x0400;

// 128-bit identifier in the usual {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} layout. The first
// 32 bits of a video subtype are its four-character code, first character in the lowest byte.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
  bool IsNull() const { return *this == Guid{}; }
  // "{05589F80-C356-11CE-BF01-00AA0055595A}" (upper case, with braces).
  std::string ToString() const;
  static std::optional<Guid> Parse(const std::string& text);
};

constexpr uint32_t MakeFourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
// Subtype of a four-character-code video format: {fourcc-0000-0010-8000-00AA00389B71}.
constexpr Guid SubtypeFromFourcc(uint32_t fourcc) {
  return Guid{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

namespace guid {
// Device categories.
inline constexpr Guid kVideoInputDeviceCategory{
    0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr Guid kVideoCompressorCategory{
    0x33D9A760, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
// Pin categories (and the "look upstream only" search direction of FindInterface).
inline constexpr Guid kPinCategoryCapture{
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr Guid kPinCategoryPreview{
    0xFB6C4282, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr Guid kLookUpstreamOnly{
    0xAC798BE0, 0x98E3, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
// Major types: video ("vids") and interleaved audio+video ("iavs", DV devices).
inline constexpr Guid kMediaTypeVideo = SubtypeFromFourcc(MakeFourcc('v', 'i', 'd', 's'));
inline constexpr Guid kMediaTypeInterleaved = SubtypeFromFourcc(MakeFourcc('i', 'a', 'v', 's'));
// Format type of a VideoInfoHeader.
inline constexpr Guid kFormatVideoInfo{
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
// Uncompressed RGB subtypes and the AVI file subtype.
inline constexpr Guid kSubtypeRGB8{
    0xE436EB7A, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeRGB565{
    0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeRGB555{
    0xE436EB7C, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeRGB24{
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeRGB32{
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeAvi{
    0xE436EB88, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kSubtypeYUY2 = SubtypeFromFourcc(MakeFourcc('Y', 'U', 'Y', '2'));
inline constexpr Guid kSubtypeUYVY = SubtypeFromFourcc(MakeFourcc('U', 'Y', 'V', 'Y'));
inline constexpr Guid kSubtypeI420 = SubtypeFromFourcc(MakeFourcc('I', '4', '2', '0'));
inline constexpr Guid kSubtypeNV12 = SubtypeFromFourcc(MakeFourcc('N', 'V', '1', '2'));
inline constexpr Guid kSubtypeMJPG = SubtypeFromFourcc(MakeFourcc('M', 'J', 'P', 'G'));
}  // namespace guid

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The 40-byte bitmap information header (field names as the format names them).
struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // > 0: rows bottom-up
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;  // 0 = uncompressed RGB, else a four-character code
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
  friend bool operator==(const BitmapInfoHeader&, const BitmapInfoHeader&) = default;
};

struct VideoInfoHeader {
  Rect rcSource;
  Rect rcTarget;
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  int64_t AvgTimePerFrame = 0;  // 100-nanosecond units
  BitmapInfoHeader bmiHeader;
  friend bool operator==(const VideoInfoHeader&, const VideoInfoHeader&) = default;
};

// A media type. `formattype` says what the format block is; for kFormatVideoInfo the block
// is `videoInfo` (other format types carry no block here).
struct MediaType {
  Guid majortype;
  Guid subtype;
  bool bFixedSizeSamples = true;
  bool bTemporalCompression = false;
  uint32_t lSampleSize = 0;
  Guid formattype;
  std::optional<VideoInfoHeader> videoInfo;

  bool IsVideoInfo() const { return formattype == guid::kFormatVideoInfo && videoInfo.has_value(); }
  friend bool operator==(const MediaType&, const MediaType&) = default;
};

// A video-info media type for an uncompressed or four-character-code format; frame
// duration in 100 ns units (0 = unspecified). Positive height for RGB (bottom-up rows).
MediaType MakeVideoMediaType(const Guid& subtype, int32_t width, int32_t height,
                             uint16_t bitCount, uint32_t compression, int64_t avgTimePerFrame);
// Bytes of one frame of an uncompressed layout: ((bitCount * width + 31) / 32) * 4 * |height|.
uint32_t DibImageBytes(int32_t width, int32_t height, uint16_t bitCount);

// One stream capability: the ranges a device accepts for the media type it comes with.
struct VideoStreamConfigCaps {
  Guid guid;  // = kFormatVideoInfo
  int32_t inputWidth = 0, inputHeight = 0;
  int32_t minOutputWidth = 0, minOutputHeight = 0;
  int32_t maxOutputWidth = 0, maxOutputHeight = 0;
  int64_t minFrameInterval = 0, maxFrameInterval = 0;  // 100 ns units
  int32_t minBitsPerSecond = 0, maxBitsPerSecond = 0;
};
// Size the stream configuration reports for one capability record; callers only pass it
// along.
inline constexpr int kStreamConfigCapsSize = 128;

// The first `maxChars` characters of a UTF-8 text (never a part of a character): names are
// cut by characters, so a Chinese name keeps as many characters as an English one.
std::string CutToChars(const std::string& utf8, size_t maxChars);

// The property pages an object offers; freed when it goes out of scope.
struct PropertyPageList {
  std::vector<Guid> pages;
  size_t Count() const { return pages.size(); }
};

class IBaseFilter;

// One graph event as taken from the event queue. For kDeviceLost `filter` is the lost
// device's filter (compare it with the capture filter by pointer); FreeEventParams clears it.
struct GraphEvent {
  long code = 0;
  intptr_t param1 = 0;
  intptr_t param2 = 0;
  std::shared_ptr<IBaseFilter> filter;
};

// Opaque handle of the window that owns a video window (a QWidget* on Linux; see
// qt_owner.h). Null = no owner.
struct OwnerWindow {
  void* handle = nullptr;
  explicit operator bool() const { return handle != nullptr; }
  friend bool operator==(const OwnerWindow&, const OwnerWindow&) = default;
};

// Window style bits the video window understands.
namespace style {
inline constexpr long kChild = 0x40000000;
inline constexpr long kClipSiblings = 0x04000000;
inline constexpr long kClipChildren = 0x02000000;
}  // namespace style

// Driver dialog kinds (HasDialog / ShowDialog).
namespace dialog {
inline constexpr int kSource = 1;
inline constexpr int kFormat = 2;
inline constexpr int kDisplay = 4;
}  // namespace dialog

// Pin direction.
enum class PinDirection { Input, Output };

// Reference times (100 ns units); kMaxTime as a start time keeps a stream off.
inline constexpr int64_t kMaxTime = INT64_MAX;

}  // namespace media
