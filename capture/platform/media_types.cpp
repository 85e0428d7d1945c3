#include "capture/platform/media_types.h"

#include <cctype>
#include <cstdio>

#include "capture/platform/media_platform.h"

namespace media {

std::string Guid::ToString() const {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                unsigned(data1), unsigned(data2), unsigned(data3), data4[0], data4[1],
                data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return text;
}

std::optional<Guid> Guid::Parse(const std::string& text) {
  // Exactly {8-4-4-4-12} hexadecimal digits; anything else is not an identifier.
  static constexpr char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != sizeof kShape - 1) return std::nullopt;
  uint8_t bytes[16];
  int nibbles = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char want = kShape[i];
    const char c = text[i];
    if (want != 'X') {
      if (c != want) return std::nullopt;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int v = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (nibbles % 2 == 0) bytes[nibbles / 2] = uint8_t(v << 4);
    else bytes[nibbles / 2] |= uint8_t(v);
    ++nibbles;
  }
  Guid g;
  g.data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
  g.data2 = uint16_t(bytes[4] << 8 | bytes[5]);
  g.data3 = uint16_t(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) g.data4[i] = bytes[8 + i];
  return g;
}

uint32_t DibImageBytes(int32_t width, int32_t height, uint16_t bitCount) {
  const int64_t rowBytes = ((int64_t(bitCount) * width + 31) / 32) * 4;
  const int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
  const int64_t total = rowBytes * rows;
  if (rowBytes < 0 || total > int64_t(UINT32_MAX)) return 0;
  return uint32_t(total);
}

MediaType MakeVideoMediaType(const Guid& subtype, int32_t width, int32_t height,
                             uint16_t bitCount, uint32_t compression, int64_t avgTimePerFrame) {
  MediaType mt;
  mt.majortype = guid::kMediaTypeVideo;
  mt.subtype = subtype;
  mt.formattype = guid::kFormatVideoInfo;
  mt.bFixedSizeSamples = compression == 0 || bitCount != 0;
  mt.bTemporalCompression = false;
  VideoInfoHeader vih;
  vih.AvgTimePerFrame = avgTimePerFrame;
  vih.bmiHeader.biWidth = width;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biBitCount = bitCount;
  vih.bmiHeader.biCompression = compression;
  vih.bmiHeader.biSizeImage = DibImageBytes(width, height, bitCount);
  if (avgTimePerFrame > 0 && vih.bmiHeader.biSizeImage > 0) {
    const int64_t bits = int64_t(vih.bmiHeader.biSizeImage) * 8 * 10000000 / avgTimePerFrame;
    vih.dwBitRate = bits > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(bits);
  }
  mt.lSampleSize = vih.bmiHeader.biSizeImage;
  mt.videoInfo = vih;
  return mt;
}

std::shared_ptr<IPin> FirstPin(IBaseFilter& filter, PinDirection direction) {
  for (auto& pin : filter.EnumPins())
    if (pin && pin->Direction() == direction) return pin;
  return nullptr;
}

std::string CutToChars(const std::string& utf8, size_t maxChars) {
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    // A byte that does not continue a character starts the next one.
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && chars++ == maxChars) return utf8.substr(0, i);
  }
  return utf8;
}

}  // namespace media
