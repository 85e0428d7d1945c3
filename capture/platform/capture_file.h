// Capture-file helpers shared by the backends: reserving space for the capture file, clearing
// it when a capture starts, flushing it while one runs and copying it to its real length.
//
// The AVI written into a pre-allocated file is shorter than the file. A finished one ends
// with its chain of top-level RIFF chunks ("RIFF....AVI " then, past about 1 GB, any
// "RIFF....AVIX" extensions). An unfinished one (its writer killed) still holds placeholder
// sizes: it ends after its last whole chunk, and since every capture starts on cleared space
// nothing of an earlier, longer recording can follow it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "capture/avi/avi_save.h"
#include "capture/platform/media_types.h"

namespace media {

// Creates the file when missing and reserves `bytes` without truncating what is there
// (a capture into it later overwrites from the start). kOk or a failure naming the cause
// (kAccessDenied, kFileNotFound for a missing folder, kDiskFull, kFail).
Status AllocateCaptureFile(const std::string& path, uint64_t bytes);

// The trim would have to guess where an unfinished recording ends (its header list is too
// damaged to walk its frames): nothing is cut.
inline constexpr Status kRecordingEndUnknown = MakeStatus(0x8007000D);

// Gives a reserved capture file exactly `bytes`, cutting a larger reservation back, but never
// into the AVI it holds: the file keeps at least the AVI's real length. kOk,
// kRecordingEndUnknown, or a failure naming the cause.
Status TrimCaptureFile(const std::string& path, uint64_t bytes);

// Real length of an AVI: a finished one's RIFF chain clipped to the file; an unfinished
// one's end of its last whole chunk. Nothing when the data does not start with "RIFF....AVI ".
// `readAt(offset, out)` fills `out` from the file and returns the bytes read.
std::optional<uint64_t> AviRealLength(
    uint64_t fileSize, const std::function<size_t(uint64_t, std::span<uint8_t>)>& readAt);
std::optional<uint64_t> AviRealLength(const avi::ByteSource& src);
std::optional<uint64_t> AviRealLengthOfFile(const std::string& path);

// Called by the writer with the capture file open, before the capture's first byte: zeroes
// the whole file without giving back its reserved size, so that what an earlier capture left
// there can never be taken for this capture's frames (a rescue stops at the first zero).
Status ClearCaptureFile(int fd);

// Flushes a file's data to the disk every `interval` on a thread of its own while it lives,
// so that a power cut loses at most about that much of a capture; the writer never waits
// for it. The descriptor must stay open until the object is gone.
class PeriodicFlush {
 public:
  PeriodicFlush(int fd, std::chrono::milliseconds interval);
  ~PeriodicFlush();
  PeriodicFlush(const PeriodicFlush&) = delete;
  PeriodicFlush& operator=(const PeriodicFlush&) = delete;

 private:
  int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything it uses exists
};

// Copies the AVI in `from` to `to` through avi::SaveAviCopy: a finished AVI up to its real
// length, an unfinished one rebuilt from its whole frames, always written beside the target
// and renamed over it. A file that is no AVI, or whose header is too damaged to rebuild
// from, is not copied: it would not play. `abort` is polled between blocks; when it answers
// true no copy is left and kFalse (1) is returned. kOk when copied; a failure otherwise
// (the target, if any, is left as it was).
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
