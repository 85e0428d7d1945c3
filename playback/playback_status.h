// Status codes of the playback graph. Failures have the top bit set; the window shows them in
// hexadecimal, so each failure site keeps a code of its own kind.
#pragma once

#include <cstdint>

namespace playback {

using Status = uint32_t;

inline constexpr Status kOk = 0;
inline constexpr Status kNotImplemented = 0x80004001;  // e.g. the volume of a clip without sound
inline constexpr Status kNoInterface = 0x80004002;     // the clip has no such facility (no video)
inline constexpr Status kFail = 0x80004005;
inline constexpr Status kFileNotFound = 0x80070002;
inline constexpr Status kInvalidArg = 0x80070057;     // a rate or volume out of range
inline constexpr Status kTimeout = 0x800705B4;        // the clip did not preroll in time
inline constexpr Status kCannotRender = 0x80040218;   // no decoder or renderer for a stream
inline constexpr Status kUnknownFileType = 0x80040240;

inline bool Failed(Status s) { return (s & 0x80000000u) != 0; }

}  // namespace playback
