// Internal: where the test hook keeps the installed platform.
#pragma once

#include <memory>

#include "capture/platform/media_platform.h"

namespace media::detail {
std::shared_ptr<IMediaPlatform>& TestPlatform();
}  // namespace media::detail
