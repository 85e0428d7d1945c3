#include "capture/device_category.h"

#include <algorithm>
#include <vector>

namespace {
// The category of the last call that named one, for calls that name none.
media::Guid g_category;
constexpr int kMaxNameChars = 256;
}  // namespace

int EnumDeviceCategory(media::IMediaPlatform& platform, const media::Guid* category, int index,
                       std::string* name, int nameChars,
                       std::shared_ptr<media::IBaseFilter>* filter) {
  if (category) g_category = *category;
  std::vector<std::shared_ptr<media::IMoniker>> monikers;
  if (platform.CreateClassEnumerator(g_category, monikers) != media::status::kOk) return -1;
  if (index < 0 || static_cast<size_t>(index) >= monikers.size()) return -1;
  media::IMoniker& moniker = *monikers[static_cast<size_t>(index)];
  if (name) {
    std::shared_ptr<media::IPropertyBag> bag;
    std::string friendly;
    if (media::Failed(moniker.BindToPropertyBag(bag)) || !bag ||
        media::Failed(bag->Read("FriendlyName", friendly)))
      return -1;
    const int keep = std::min(nameChars, kMaxNameChars) - 1;
    *name = keep > 0 ? friendly.substr(0, static_cast<size_t>(keep)) : std::string();
  }
  if (filter) moniker.BindToFilter(*filter);
  return index + 1;
}
