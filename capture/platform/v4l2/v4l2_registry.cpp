#include "capture/platform/v4l2/v4l2_registry.h"

namespace v4l2 {
namespace {
ControlsFinder& Finder() {
  static ControlsFinder finder;
  return finder;
}
}  // namespace

void SetControlsFinder(ControlsFinder finder) { Finder() = std::move(finder); }

std::unique_ptr<CV4L2Controls> ControlsForDevice(const std::string& displayName) {
  return Finder() ? Finder()(displayName) : nullptr;
}

}  // namespace v4l2
