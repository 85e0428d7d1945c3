// Where the capture code finds a device's V4L2 controls: the backend that knows which node
// (real or fake) stands behind a device registers a finder; without one no device has any.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "capture/platform/v4l2/v4l2_controls.h"

namespace v4l2 {

// Opens the controls of the device with that display name (null: it has none).
using ControlsFinder = std::function<std::unique_ptr<CV4L2Controls>(const std::string&)>;
void SetControlsFinder(ControlsFinder finder);
std::unique_ptr<CV4L2Controls> ControlsForDevice(const std::string& displayName);

}  // namespace v4l2
