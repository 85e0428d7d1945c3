// Whether a media platform lists a video device by the name given (its friendly name).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/platform/media_platform.h"

namespace pwtest {

inline bool PlatformLists(media::IMediaPlatform& platform, const std::string& name) {
  std::vector<std::shared_ptr<media::IMoniker>> devices;
  platform.CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, devices);
  for (auto& d : devices) {
    std::shared_ptr<media::IPropertyBag> bag;
    std::string friendly;
    if (d->BindToPropertyBag(bag) == media::status::kOk && bag->Read("FriendlyName", friendly) == media::status::kOk &&
        friendly == name)
      return true;
  }
  return false;
}

}  // namespace pwtest
