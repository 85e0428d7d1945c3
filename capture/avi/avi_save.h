// Saving a copy of the capture file.
//
// A finished AVI is copied byte for byte up to the end of its RIFF chain ("RIFF AVI " and any
// "RIFF AVIX" after it), which drops the space reserved after a capture written into a
// pre-allocated file. An unfinished one (no index, a RIFF size of zero or one running past
// the data) is rescued: its whole frames are written into a rebuilt, playable AVI
// (avi_rebuild.h).
//
// The copy replaces the target whole or not at all (imaging/core/file_replacement.h): a target
// the user may not write is refused before anything is read, a link's file is written, and a
// failure or an abort leaves an existing target as it was and nothing beside it. Runs on the caller's thread; `progress` is called
// from it after each block written, and `abort` may be set from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "capture/avi/avi_rebuild.h"

namespace avi {

enum class SaveError {
  kNone,
  kAborted,
  kInvalidArgument,  // an empty path
  kSameFile,         // the target is the capture file itself
  kOpenSource,
  kNotAvi,
  kDamagedHeader,  // unfinished, and its header list cannot be rebuilt from
  kNoFrames,       // unfinished, and not one whole frame in it
  kReadFailed,     // the source changed or could not be read while copying
  kCreateTarget,  // the target may not be written, or not created in its folder
  kWriteFailed,   // writing or committing the copy failed (disk full, ...)
};

struct SaveOptions {
  std::function<void(uint64_t done, uint64_t total)> progress;  // bytes of the copy
  const std::atomic<bool>* abort = nullptr;
  uint64_t riffLimit = kDefaultRiffLimit;  // where a rescued copy starts a new RIFF
};

struct SaveResult {
  SaveError error = SaveError::kNone;
  int sysError = 0;      // errno of the failing call, when there was one
  bool rescued = false;  // the copy was rebuilt from an unfinished file
  uint32_t frames = 0;   // video frames in the copy (from the header when copied as it was)
  uint64_t bytes = 0;    // size of the copy
  std::string detail;    // for logs: what the reader found or which call failed
  bool Ok() const { return error == SaveError::kNone; }
};

SaveResult SaveAviCopy(const std::string& from, const std::string& to, const SaveOptions& options = {});

}  // namespace avi
