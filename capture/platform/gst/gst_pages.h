// Property pages of the GStreamer backend: Qt dialogs over GStreamer control interfaces.
#pragma once

#include <gst/video/colorbalance.h>

#include <string>

class QWidget;

namespace media::gstpages {

// Modal dialog with one slider per colour-balance channel (brightness, contrast, ...).
// Moving a slider changes the picture at once; Cancel puts every channel back. Placed at
// (x, y) of `owner` (screen origin without owner). Returns true on OK.
bool ShowColorBalance(QWidget* owner, int x, int y, const std::string& caption,
                      GstColorBalance* balance);

}  // namespace media::gstpages
