// The one place that picks the backend: an installed test platform, else GStreamer.
#include "capture/platform/media_platform.h"

#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/platform_registry.h"

namespace media {

IMediaPlatform& MediaPlatform() {
  if (auto& test = detail::TestPlatform()) return *test;
  // Created on first use and kept for the whole run: pipelines and the device monitor may
  // still hold it while the application object is torn down.
  static IMediaPlatform* const gst = CreateGstPlatform().release();
  return *gst;
}

}  // namespace media
