// Synthetic cameras: an in-process device provider whose devices make live videotestsrc
// elements, so the device monitor lists them like real cameras.
#pragma once

namespace media::gst {

// Registers the provider (once) when LUMORA_TEST_CAMERAS asks for cameras; call before the
// device monitor starts.
void RegisterTestCameras();

}  // namespace media::gst
