// Property pages of the GStreamer backend: Qt dialogs over GStreamer control interfaces.
#pragma once

#include <gst/video/colorbalance.h>

#include <string>

#include "capture/platform/media_platform.h"
#include "capture/platform/v4l2/v4l2_inputs.h"

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

// Modal pages choosing a device's video input / TV norm. OK switches the device; a choice
// it refuses is named on the page, which stays open. kOk on OK, kFalse on Cancel.
Status ShowCrossbar(QWidget* owner, int x, int y, const std::string& caption, v4l2::CV4L2Inputs& inputs);
Status ShowTuner(QWidget* owner, int x, int y, const std::string& caption, v4l2::CV4L2Inputs& inputs);

}  // namespace media::gstpages
