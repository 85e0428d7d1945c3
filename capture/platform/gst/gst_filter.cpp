#include "capture/platform/gst/gst_filter.h"

#include "capture/platform/gst/caps_convert.h"
#include "capture/platform/gst/gst_capture_filter.h"
#include "capture/platform/gst/gst_graph.h"

namespace media::gst {

using namespace gsth;

Status GPin::ConnectionMediaType(MediaType& type) {
  if (!Peer()) return status::kNotConnected;
  CapsRef caps(gst_pad_get_current_caps(ghost_.get()));
  if (!caps) {
    // Not negotiated yet (stopped graph): the device's chosen format, when it is one.
    auto owner = Owner();
    if (auto cap = std::dynamic_pointer_cast<GCaptureFilter>(owner)) {
      type = cap->Config()->Current();
      return status::kOk;
    }
    return status::kNotConnected;
  }
  auto entries = ExpandCaps(caps.get());
  if (entries.empty()) return status::kNotConnected;
  type = gstmap::MediaTypeFor(entries.front());
  return status::kOk;
}

}  // namespace media::gst
