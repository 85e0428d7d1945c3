// Synthetic cameras: an in-process device provider whose devices make live videotestsrc
// elements, so the device monitor lists them like real cameras.
#pragma once

#include <string>

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

}  // namespace media::gst
