// The table of running graphs. A playing clip's pipeline is registered under the name
// "FilterGraph %08x pid %08x" (graph address, process id) so it can be found and inspected
// while it plays: the pipeline takes that name, and with GST_DEBUG_DUMP_DOT_DIR set its graph
// is written out as a DOT file on registration.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <string>

#include "playback/playback_status.h"

namespace playback {

std::string GraphRegistrationName(const void* graph, unsigned long processId);

// Registers `pipeline` (a reference is held until revoked); `cookie` is non-zero on success.
Status RegisterGraph(GstElement* pipeline, uint32_t& cookie);
void RevokeGraph(uint32_t cookie);
// The pipeline registered under `name`, or nullptr (not a new reference).
GstElement* FindRegisteredGraph(const std::string& name);

}  // namespace playback
