// Reading and writing the capture settings (section "camprof").
#include "capture/capture_settings.h"

#include <cmath>

#include "capture/main_frame.h"
#include "capture/profile_file.h"

namespace capture_settings {

QString ProfilePath() { return CProfileFile::ProfileDir() + "/capture.ini"; }

double FrameRateFromDuration(int32_t duration) {
  // A duration of 0 or less has no rate; past 10^9 the rate cuts to zero below.
  if (duration <= 0) return kFallbackFrameRate;
  const auto hundredths = static_cast<int32_t>(10000000.0 / duration * 100);
  const double rate = hundredths * 0.01;
  return rate > 0 ? rate : kFallbackFrameRate;
}

int64_t DurationFromFrameRate(double rate) {
  // Only a rate that was never read can be 0 here; store the fallback rather than a
  // division by zero.
  if (!(rate > 0) || !std::isfinite(rate)) rate = kFallbackFrameRate;
  return static_cast<int64_t>(10000000.0 / rate);
}

}  // namespace capture_settings

using namespace capture_settings;

namespace {

std::string Truncated(const std::string& utf8, int maxChars) {
  const QString text = QString::fromStdString(utf8);
  return text.size() <= maxChars ? utf8 : text.left(maxChars).toStdString();
}

}  // namespace

int CMainFrame::LoadCaptureSettings() {
  CProfileFile profile(ProfilePath());
  profile.Load();
  m_captureFileName =
      Truncated(profile.Get(kSection, kCaptureFile).value_or(""), kCaptureFileMaxChars);
  // Nothing is held yet at this point of the start.
  for (auto& d : m_devices) d.reset();
  m_selectedDevice.reset();
  const std::string device =
      Truncated(profile.Get(kSection, kVideoDevice).value_or(""), kVideoDeviceMaxChars);
  m_deviceMenuBuilt = 0;
  FillDeviceMenu();
  m_wantPreview = profile.GetInt(kSection, kWantPreview, 0);
  m_masterStream = profile.GetInt(kSection, kMasterStream, kDefaultMasterStream);
  m_useFrameRate = profile.GetInt(kSection, kUseFrameRate, kDefaultUseFrameRate);
  m_frameRate = FrameRateFromDuration(profile.GetInt(kSection, kFrameRate, kDefaultFrameDuration));
  m_useTimeLimit = profile.GetInt(kSection, kUseTimeLimit, 0);
  m_timeLimitSec = static_cast<uint32_t>(profile.GetInt(kSection, kTimeLimit, 0));
  m_settingsLoaded = true;
  SelectDeviceByDisplayName(device);
  return 1;
}

void CMainFrame::SaveCaptureSettings() {
  // A window closed before the settings were read holds none of them: writing its empty
  // fields would wipe the user's saved ones.
  if (!m_settingsLoaded) return;
  CProfileFile profile(ProfilePath());
  profile.Load();  // keeps the other sections (each device's remembered controls)
  profile.Set(kSection, kCaptureFile, m_captureFileName);
  profile.Set(kSection, kVideoDevice, m_selectedDevice ? m_selectedDevice->GetDisplayName() : "");
  profile.Set(kSection, kAudioDevice, "");
  const std::string useFrameRate = std::to_string(m_useFrameRate);
  profile.Set(kSection, kFrameRate, std::to_string(DurationFromFrameRate(m_frameRate)));
  profile.Set(kSection, kUseFrameRate, useFrameRate);
  // Nothing reads "CaptureAudio" back; it has always carried the text just written for
  // "UseFrameRate", which other readers of the file may expect.
  profile.Set(kSection, kCaptureAudio, useFrameRate);
  profile.Set(kSection, kCaptureCC, std::to_string(m_captureClosedCaptions));
  profile.Set(kSection, kWantPreview, std::to_string(m_wantPreview));
  profile.Set(kSection, kMasterStream, std::to_string(m_masterStream));
  profile.Set(kSection, kUseTimeLimit, std::to_string(m_useTimeLimit));
  profile.Set(kSection, kTimeLimit, std::to_string(static_cast<int32_t>(m_timeLimitSec)));
  // A profile that cannot be written is not reported: the window is closing.
  profile.Save();
}
