// Small helpers shared by the GStreamer backend's files.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <string>

namespace media::gst {

// Milliseconds of a monotonic clock (wraps like a 32-bit tick count).
uint32_t NowMs();
// One line on stderr: "lumora2003: where: what".
void Warn(const char* where, const std::string& what);
// Runs `fn` on the UI thread later (at once when there is no event loop object).
void Post(std::function<void()> fn);
// A string field of a structure ("" when absent).
std::string StructString(const GstStructure* s, const char* field);

}  // namespace media::gst
