// The capture settings kept between runs: section "camprof" of the capture profile
// (capture.ini in the profile folder, beside the application's own lumora2003.ini).
// CMainFrame::LoadCaptureSettings and SaveCaptureSettings (capture_settings.cpp) use these.
#pragma once

#include <QString>
#include <cstdint>

namespace capture_settings {

inline constexpr char kSection[] = "camprof";
inline constexpr char kCaptureFile[] = "CaptureFile";
inline constexpr char kVideoDevice[] = "VideoDevice2";
inline constexpr char kAudioDevice[] = "AudioDevice2";
inline constexpr char kFrameRate[] = "FrameRate";
inline constexpr char kUseFrameRate[] = "UseFrameRate";
inline constexpr char kCaptureAudio[] = "CaptureAudio";
inline constexpr char kCaptureCC[] = "CaptureCC";
inline constexpr char kWantPreview[] = "WantPreview";
inline constexpr char kMasterStream[] = "MasterStream";
inline constexpr char kUseTimeLimit[] = "UseTimeLimit";
inline constexpr char kTimeLimit[] = "TimeLimit";

// Defaults of a first run. "FrameRate" holds a frame duration in 100 ns units.
inline constexpr int32_t kDefaultFrameDuration = 666667;
inline constexpr int32_t kDefaultUseFrameRate = 1;
inline constexpr int32_t kDefaultMasterStream = 1;
inline constexpr double kFallbackFrameRate = 15.0;
// Longest texts kept: the capture file name and the device's display name.
inline constexpr int kCaptureFileMaxChars = 259;
inline constexpr int kVideoDeviceMaxChars = 1023;

// The profile file of the capture settings.
QString ProfilePath();

// Frames per second from a stored frame duration, to two decimals cut towards zero; 15.0
// when the duration gives no positive rate (0, negative, above 1 000 000 000).
double FrameRateFromDuration(int32_t duration);
// The frame duration stored for a rate, cut towards zero.
int64_t DurationFromFrameRate(double rate);

}  // namespace capture_settings
