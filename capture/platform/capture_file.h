// Capture-file helpers shared by the backends: reserving space for the capture file and
// copying it to its real length.
//
// The AVI written into a pre-allocated file is shorter than the file; its real length is the
// sum of the consecutive top-level RIFF chunks ("RIFF....AVI " then, past about 1 GB, any
// "RIFF....AVIX" extensions), each 8 bytes of header plus its even-padded size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "capture/platform/media_types.h"

namespace media {

// Creates the file when missing and reserves `bytes` without truncating what is there
// (a capture into it later overwrites from the start). kOk or a failure naming the cause
// (kAccessDenied, kFileNotFound for a missing folder, kDiskFull, kFail).
Status AllocateCaptureFile(const std::string& path, uint64_t bytes);

// Real length of an AVI from its first bytes and the file size: the RIFF chain clipped to
// the file. Nothing when the data does not start with "RIFF....AVI ".
// `readAt(offset, out)` fills `out` from the file and returns the bytes read.
std::optional<uint64_t> AviRealLength(
    uint64_t fileSize, const std::function<size_t(uint64_t, std::span<uint8_t>)>& readAt);
std::optional<uint64_t> AviRealLengthOfFile(const std::string& path);

// Copies the AVI in `from` to `to`, only its real length (the whole file when it is not an
// AVI). `abort` is polled between blocks; when it answers true the partial copy is removed
// and kFalse (1) returned. kOk when copied; a failure otherwise (the destination is removed).
Status CopyCaptureFile(const std::string& from, const std::string& to,
                       const std::function<bool()>& abort);

}  // namespace media
