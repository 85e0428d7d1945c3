// What an error posted on a graph's bus means to the capture code: a status code of the media
// platform. The camera's own failures at start are told apart here, because the capture code
// answers them with advice rather than a number: busy (another program has the device) and
// permission refused (the user may not open the device node).
#pragma once

#include <gst/gst.h>

#include "capture/platform/media_types.h"

namespace media::gst {

// `debug` is the element's debug text (may be null): V4L2 sources name the system error there
// ("system error: Device or resource busy"), while the error code may only say that opening
// failed. `fromCapture`: the error came from the capture device's filter.
Status StatusOfError(const GError& error, const char* debug, bool fromCapture);

}  // namespace media::gst
