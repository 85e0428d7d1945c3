// The TIFF memory stream "MemSource": libtiff reading from, or writing into, a caller's
// buffer instead of a file.
//
// Read mode (OpenRead): the stream is `capacity` bytes at `data`, never written; libtiff
// maps it directly. Write mode (OpenWrite): writes and seeks are clipped to `capacity`; the
// size (the furthest position written or sought) starts at 0 and is kept in *sizeHolder,
// which must outlive the handle. The handle owns the stream record; TIFFClose releases it.
//
// libtiff's errors and warnings for the handle land in a TiffMessages (which must also
// outlive the handle) instead of on standard error, so failures can say what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct tiff;  // libtiff's TIFF

namespace tiffmemsource {

inline constexpr const char* kStreamName = "MemSource";

struct TiffMessages {
  std::string error;    // the last error
  std::string warning;  // the first warning
  // The error, else the warning, else a generic text.
  std::string Text() const;
  void Clear() {
    error.clear();
    warning.clear();
  }
};

// nullptr when libtiff refuses the data (messages says why).
tiff* OpenRead(const uint8_t* data, size_t capacity, TiffMessages* messages);
tiff* OpenWrite(uint8_t* data, size_t capacity, size_t* sizeHolder, TiffMessages* messages);

}  // namespace tiffmemsource
