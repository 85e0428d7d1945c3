#include "capture/platform/gst/gst_errors.h"

#include <cerrno>
#include <cstring>

namespace media::gst {
namespace {

// Whether the debug text names system error `err`, in the program's language or in English
// (the text GStreamer elements print is g_strerror's).
bool Names(const char* debug, int err, const char* english) {
  if (!debug) return false;
  return std::strstr(debug, g_strerror(err)) || std::strstr(debug, english);
}

}  // namespace

Status StatusOfError(const GError& error, const char* debug, bool fromCapture) {
  if (error.domain == GST_RESOURCE_ERROR) {
    if (fromCapture) {
      if (error.code == GST_RESOURCE_ERROR_BUSY || Names(debug, EBUSY, "Device or resource busy"))
        return status::kDeviceInUse;
      if (error.code == GST_RESOURCE_ERROR_NOT_AUTHORIZED || Names(debug, EACCES, "Permission denied") ||
          Names(debug, EPERM, "Operation not permitted"))
        return status::kDeviceAccessDenied;
    }
    switch (error.code) {
      case GST_RESOURCE_ERROR_NO_SPACE_LEFT: return status::kDiskFull;
      case GST_RESOURCE_ERROR_NOT_FOUND: return status::kFileNotFound;
      case GST_RESOURCE_ERROR_OPEN_WRITE:
      case GST_RESOURCE_ERROR_NOT_AUTHORIZED: return status::kAccessDenied;
      case GST_RESOURCE_ERROR_BUSY:
      case GST_RESOURCE_ERROR_OPEN_READ_WRITE: return status::kDeviceInUse;
      default: return status::kFail;
    }
  }
  if (error.domain == GST_STREAM_ERROR &&
      (error.code == GST_STREAM_ERROR_FORMAT || error.code == GST_STREAM_ERROR_CODEC_NOT_FOUND))
    return status::kInvalidMediaType;
  // A source whose format the graph refused stops with a generic stream error; the reason
  // is only in the debug text.
  if (error.domain == GST_STREAM_ERROR && debug && std::strstr(debug, "not-negotiated"))
    return status::kInvalidMediaType;
  // A format nothing in the graph takes: no element links to it, or none decodes it.
  if (error.domain == GST_CORE_ERROR &&
      (error.code == GST_CORE_ERROR_NEGOTIATION || error.code == GST_CORE_ERROR_MISSING_PLUGIN))
    return status::kInvalidMediaType;
  return status::kFail;
}

}  // namespace media::gst
