// Property pages of the GStreamer backend: Qt dialogs over GStreamer control interfaces.
#pragma once

#include <gst/video/colorbalance.h>

#include <string>

#include "capture/platform/media_platform.h"

class QWidget;

namespace media::gstpages {

// Modal dialog with one slider per colour-balance channel (brightness, contrast, ...).
// Moving a slider changes the picture at once; Cancel puts every channel back. Placed at
// (x, y) of `owner` (screen origin without owner). Returns true on OK.
bool ShowColorBalance(QWidget* owner, int x, int y, const std::string& caption,
                      GstColorBalance* balance);

// Modal page choosing a device's colour space, output size and frame rate among what its
// stream configuration lists (frame-rate ranges as the usual rates inside them). OK sets
// the format; one the device refuses keeps the page open. kOk on OK, kFalse on Cancel.
Status ShowStreamFormat(QWidget* owner, int x, int y, const std::string& caption,
                        IAMStreamConfig& config);

}  // namespace media::gstpages
