#include "capture/device_memory.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "capture/capture_settings.h"
#include "capture/profile_file.h"

namespace {

constexpr char kFormatKey[] = "Format";
// Device sections carry this prefix, so no device name can ever be one of the program's own
// sections. Profiles written before it named the section after the device alone.
constexpr char kSectionPrefix[] = "device:";

std::string SectionOf(const std::string& displayName) { return kSectionPrefix + displayName; }

// An unprefixed section an older profile kept for the device; never the settings' own.
bool IsLegacyDeviceSection(const std::string& name) {
  if (name.size() != std::strlen(capture_settings::kSection)) return true;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != capture_settings::kSection[i]) return true;
  return false;
}
// Control keys are the V4L2 control identifiers in hexadecimal ("0x00980900").
constexpr char kControlPrefix[] = "0x";

std::optional<uint32_t> ControlId(const std::string& key) {
  if (key.rfind(kControlPrefix, 0) != 0 || key.size() <= 2) return std::nullopt;
  uint32_t id = 0;
  const auto [end, ec] = std::from_chars(key.data() + 2, key.data() + key.size(), id, 16);
  if (ec != std::errc() || end != key.data() + key.size()) return std::nullopt;
  return id;
}

std::optional<int32_t> Int32(const std::string& text) {
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// "<fourcc hex> <bits> <width>x<height> <frame duration>", e.g. "32595559 16 640x480 333333".
std::optional<CDeviceMemory::Format> ParseFormat(const std::string& text) {
  CDeviceMemory::Format f;
  unsigned compression = 0, bits = 0;
  int64_t duration = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%x %u %dx%d %" SCNd64 "%n", &compression, &bits, &f.width,
                  &f.height, &duration, &consumed) != 5 ||
      consumed != int(text.size()) || f.width <= 0 || f.height <= 0 || bits > 64 ||
      duration < 0)
    return std::nullopt;
  f.compression = compression;
  f.bitCount = static_cast<uint16_t>(bits);
  f.avgTimePerFrame = duration;
  return f;
}

std::string FormatText(const CDeviceMemory::Format& f) {
  char text[96];
  std::snprintf(text, sizeof text, "%08X %u %dx%d %" PRId64, f.compression, unsigned(f.bitCount),
                f.width, f.height, f.avgTimePerFrame);
  return text;
}

}  // namespace

CDeviceMemory CDeviceMemory::Read(const std::string& displayName) {
  CDeviceMemory memory;
  memory.m_displayName = displayName;
  if (displayName.empty()) return memory;
  CProfileFile profile(capture_settings::ProfilePath());
  profile.Load();
  auto keys = profile.Keys(SectionOf(displayName));
  if (keys.empty() && IsLegacyDeviceSection(displayName)) keys = profile.Keys(displayName);
  for (const auto& [key, value] : keys) {
    if (key == kFormatKey) {
      memory.m_format = ParseFormat(value);
    } else if (auto id = ControlId(key)) {
      if (auto v = Int32(value)) memory.m_controls[*id] = *v;
    }
  }
  return memory;
}

bool CDeviceMemory::Write() const {
  if (m_displayName.empty()) return false;
  CProfileFile profile(capture_settings::ProfilePath());
  profile.Load();
  if (IsLegacyDeviceSection(m_displayName)) profile.RemoveSection(m_displayName);
  const std::string section = SectionOf(m_displayName);
  profile.RemoveSection(section);
  if (m_format) profile.Set(section, kFormatKey, FormatText(*m_format));
  for (const auto& [id, value] : m_controls) {
    char key[16];
    std::snprintf(key, sizeof key, "0x%08X", id);
    profile.Set(section, key, std::to_string(value));
  }
  return profile.Save();
}

void CDeviceMemory::TakeControls(v4l2::CV4L2Controls& controls) {
  for (const v4l2::Control& c : controls.Enumerate()) {
    if (c.ReadOnly() || c.kind == v4l2::Control::Kind::Button) continue;
    int32_t value = 0;
    if (controls.Get(c.id, value) == 0) m_controls[c.id] = value;
  }
}

void CDeviceMemory::TakeFormat(media::IAMStreamConfig& config) {
  media::MediaType mt;
  if (media::Failed(config.GetFormat(mt)) || !mt.IsVideoInfo()) return;
  const media::BitmapInfoHeader& h = mt.videoInfo->bmiHeader;
  m_format = Format{h.biCompression, h.biBitCount, h.biWidth, std::abs(h.biHeight),
                    mt.videoInfo->AvgTimePerFrame};
}

int CDeviceMemory::ApplyControls(v4l2::CV4L2Controls& controls) const {
  int applied = 0;
  for (const v4l2::Control& c : controls.Enumerate()) {
    auto it = m_controls.find(c.id);
    if (it == m_controls.end() || c.ReadOnly() || c.kind == v4l2::Control::Kind::Button)
      continue;
    if (controls.Set(c.id, it->second) == 0) ++applied;
  }
  return applied;
}

bool CDeviceMemory::ApplyFormat(media::IAMStreamConfig& config) const {
  if (!m_format) return false;
  int count = 0, size = 0;
  if (media::Failed(config.GetNumberOfCapabilities(count, size))) return false;
  for (int i = 0; i < count; ++i) {
    media::MediaType mt;
    media::VideoStreamConfigCaps caps;
    if (media::Failed(config.GetStreamCaps(i, mt, caps)) || !mt.IsVideoInfo()) continue;
    media::VideoInfoHeader& vih = *mt.videoInfo;
    if (vih.bmiHeader.biCompression != m_format->compression ||
        vih.bmiHeader.biBitCount != m_format->bitCount ||
        vih.bmiHeader.biWidth != m_format->width ||
        std::abs(vih.bmiHeader.biHeight) != m_format->height)
      continue;
    // The remembered rate when this format still offers it, else the format's own.
    const int64_t d = m_format->avgTimePerFrame;
    if (d > 0 && (caps.minFrameInterval == 0 || d >= caps.minFrameInterval) &&
        (caps.maxFrameInterval == 0 || d <= caps.maxFrameInterval))
      vih.AvgTimePerFrame = d;
    return media::Succeeded(config.SetFormat(mt));
  }
  return false;
}
