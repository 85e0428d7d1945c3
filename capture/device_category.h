// Devices of a platform category (video input, video compressor) by enumeration position.
#pragma once

#include <memory>
#include <string>

#include "capture/platform/media_platform.h"

// Entry `index` of `category` (null: the category of the previous call). When `name` is
// given it receives the friendly name, at most min(nameChars, 256) - 1 characters; when
// `filter` is given the entry is bound to a new filter. Returns index + 1, or -1 when there is
// no such entry or its name cannot be read.
int EnumDeviceCategory(media::IMediaPlatform& platform, const media::Guid* category, int index,
                       std::string* name, int nameChars,
                       std::shared_ptr<media::IBaseFilter>* filter);
