// The test hook's storage. MediaPlatform() itself lives in media_platform.cpp (target
// capture_platform), which alone knows the GStreamer backend.
#include "capture/platform/platform_registry.h"

namespace media {

namespace detail {
std::shared_ptr<IMediaPlatform>& TestPlatform() {
  static std::shared_ptr<IMediaPlatform> platform;
  return platform;
}
}  // namespace detail

void SetMediaPlatformForTesting(std::shared_ptr<IMediaPlatform> platform) {
  detail::TestPlatform() = std::move(platform);
}

}  // namespace media
