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

#include "capture/avi/avi_save.h"
#include "capture/platform/media_types.h"

namespace media {

// Creates the file when missing and reserves `bytes` without truncating what is there
// (a capture into it later overwrites from the start). kOk or a failure naming the cause
// (kAccessDenied, kFileNotFound for a missing folder, kDiskFull, kFail).
Status AllocateCaptureFile(const std::string& path, uint64_t bytes);

// Gives a reserved capture file exactly `bytes`, cutting a larger reservation back, but never
// into the AVI it holds: the file keeps at least the AVI's real length. kOk or a failure
// naming the cause.
Status TrimCaptureFile(const std::string& path, uint64_t bytes);

// Real length of an AVI from its first bytes and the file size: the RIFF chain clipped to
// the file. Nothing when the data does not start with "RIFF....AVI ".
// `readAt(offset, out)` fills `out` from the file and returns the bytes read.
std::optional<uint64_t> AviRealLength(
    uint64_t fileSize, const std::function<size_t(uint64_t, std::span<uint8_t>)>& readAt);
std::optional<uint64_t> AviRealLengthOfFile(const std::string& path);

// Copies the AVI in `from` to `to` through avi::SaveAviCopy: a finished AVI up to its real
// length, an unfinished one rebuilt from its whole frames. A file that is no AVI, or whose
// header is too damaged to rebuild from, is copied as it stands (up to its RIFF chain when it
// has one). `abort` is polled between blocks; when it answers true no copy is left and kFalse
// (1) is returned. kOk when copied; a failure otherwise (nothing is left at `to`).
Status CopyCaptureFile(const std::string& from, const std::string& to,
                       const std::function<bool()>& abort);

// Lets the code that starts a copy on this thread see its progress and its outcome (whether
// frames were rescued) while the copy goes through a builder whose interface carries neither.
// Installed for the lifetime of the object, on the thread that runs the copy.
struct CopyObserver {
  std::function<void(uint64_t done, uint64_t total)> progress;
  std::function<void(const avi::SaveResult&)> finished;
};
class ScopedCopyObserver {
 public:
  explicit ScopedCopyObserver(const CopyObserver* observer);
  ~ScopedCopyObserver();
  ScopedCopyObserver(const ScopedCopyObserver&) = delete;
  ScopedCopyObserver& operator=(const ScopedCopyObserver&) = delete;

 private:
  const CopyObserver* previous_;
};

}  // namespace media
