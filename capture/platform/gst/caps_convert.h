// Caps <-> media types and device display names: the GStreamer side of the pure helpers in
// format_map.h.
#pragma once

#include <gst/gst.h>

#include <string>
#include <vector>

#include "capture/platform/gst/format_map.h"
#include "gstqt/gst_handles.h"
#include "capture/platform/media_types.h"

namespace media::gst {

// Fixed caps structures of a device, expanded over format and frame-rate lists. Size ranges
// (some drivers and converters) are offered at the common sizes they contain.
std::vector<gstmap::CapsEntry> ExpandCaps(const GstCaps* caps);
// Caps for a video-info media type at `rate` (none for 0/1); null when the subtype has no caps.
gsth::CapsRef CapsForMediaType(const MediaType& type, gstmap::Rate rate);
// What a device's properties say about its identity (V4L2 and PipeWire providers, and the
// synthetic cameras).
gstmap::DeviceIdentity IdentityOf(GstDevice* device);
// The stable display name of a device (its identity, kept in the settings).
std::string DisplayNameOf(GstDevice* device);

}  // namespace media::gst
