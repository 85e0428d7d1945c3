// The GStreamer leak check of the test programs (gst_leak_check.cpp).
#pragma once

namespace gstleak {

// For a test that made the program's own platform (MediaPlatform()), which lives until the
// process ends by design: this run ends without the check (ctest runs each test alone).
void KeepsTheProgramPlatform();

}  // namespace gstleak
