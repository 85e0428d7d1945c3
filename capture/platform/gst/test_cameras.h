// Synthetic cameras: an in-process device provider whose devices make live videotestsrc
// elements, so the device monitor lists them like real cameras. Like real ones each runs only
// in the modes it lists (formats, sizes and discrete rates) and refuses any other. Each has
// camera controls through a V4L2 node in memory; brightness, contrast, saturation and hue act
// on its picture.
#pragma once

#include <memory>
#include <string>

#include "capture/platform/v4l2/fake_v4l2.h"
#include "capture/platform/v4l2/v4l2_controls.h"

namespace media::gst {

// Registers the provider (once) when LUMORA_TEST_CAMERAS asks for cameras; call before the
// device monitor starts.
void RegisterTestCameras();

// Test hooks: the provider lists one more device whose properties are `properties` (a
// GstStructure in text form, filled as a V4L2 or PipeWire provider would); it streams like
// the first camera. Returns false when the provider is not there or the text does not parse.
// The second hook takes all such devices away again.
bool AddTestDeviceForTesting(const std::string& name, const std::string& properties);
void RemoveTestDevicesForTesting();

// The in-memory node of camera `index` and its controls (null for a camera that does not exist).
std::string TestCameraNodePath(int index);
std::unique_ptr<v4l2::CV4L2Controls> TestCameraControls(int index);
// The node itself, which tests may give other inputs and norms (null as above).
std::shared_ptr<v4l2::FakeV4L2> TestCameraNode(int index);
// The camera was pulled out: its node answers ENODEV; a camera plugged in again gets a new one.
void UnplugTestCameraNode(int index);

}  // namespace media::gst
