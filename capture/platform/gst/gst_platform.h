// The GStreamer backend of the media platform.
//
// Devices come from a GstDeviceMonitor on "Video/Source" (all providers shown, so a PipeWire
// provider does not hide V4L2 devices), plus LUMORA_TEST_CAMERAS=N synthetic live cameras
// from an in-process device provider (videotestsrc, pattern n for camera n). Filters are bins
// in one pipeline per graph; pins are their ghost pads. The preview renderer is a QWidget
// painted from an appsink; bus messages are read on the UI thread (the bus's poll descriptor
// under a QSocketNotifier) and become graph events.
#pragma once

#include <memory>
#include <string>

#include "capture/platform/media_platform.h"

namespace media {

std::unique_ptr<IMediaPlatform> CreateGstPlatform();
// Test hook: a backend whose device monitor looks for `deviceClass` instead of video sources
// (a class no provider offers leaves it without a device enumerator).
std::unique_ptr<IMediaPlatform> CreateGstPlatformForTesting(const std::string& deviceClass);

// Number of synthetic cameras asked for by LUMORA_TEST_CAMERAS (0 when unset or invalid;
// at most 10).
int TestCameraCount();

// Test hook: a synthetic camera goes away (false) or comes back (true), as a camera being
// unplugged and plugged in. Returns whether anything changed.
bool SetTestCameraPresentForTesting(int index, bool present);

}  // namespace media
