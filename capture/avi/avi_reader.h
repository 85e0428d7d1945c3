// Reads the structure of an AVI file without decoding anything: the header list (main
// header, stream headers and formats, the OpenDML extended header and super-indexes), the
// top-level RIFF chunks ("RIFF AVI " and the "RIFF AVIX" extensions that follow it past about
// 1 GB), their "movi" lists and the "idx1" index.
//
// It answers two questions for the capture file: how long the AVI really is (a capture
// written into a pre-allocated file is followed by reserved space), and whether the writer
// finished it. A writer that dies mid-capture leaves the header counts at zero, the RIFF and
// "movi" sizes as placeholders and no index; such a file is "unfinished" and can be rescued
// (avi_rebuild.h). Every size is checked against the file before use; a damaged file gives
// an AviInfo with `problem` set, never a crash. The header list is read into memory only
// up to kMaxHeaderBytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/avi/riff_source.h"

namespace avi {

inline constexpr uint32_t kMaxHeaderBytes = 1u << 20;
inline constexpr uint32_t kAvihBytes = 56;  // the main header as the format defines it
inline constexpr uint32_t kAvifHasIndex = 0x10;

struct AviStream {
  uint32_t type = 0;     // strh fccType: "vids", "auds", ...
  uint32_t handler = 0;  // strh fccHandler: the codec ("MJPG", "I420", ...)
  uint32_t length = 0;   // strh dwLength: frames (or samples) the header claims
  std::vector<uint8_t> strh;
  std::vector<uint8_t> strf;
  // Other per-stream chunks ("strd", "strn", "vprp"), kept so a rebuilt header keeps them.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> extra;
  uint32_t superIndexEntries = 0;  // OpenDML "indx" entries in use (0: none)
  bool IsVideo() const { return type == FourCC("vids"); }
};

// One top-level RIFF chunk of the chain.
struct RiffPart {
  uint64_t offset = 0;
  uint32_t size = 0;       // as stored (0 or a placeholder in an unfinished file)
  bool extension = false;  // "AVIX" rather than "AVI "
  bool whole = false;      // size non-zero and within the file
  uint64_t movi = 0;       // offset of its "LIST movi" header; 0 when none was found
  uint32_t moviSize = 0;
};

struct AviInfo {
  uint64_t fileSize = 0;
  bool isAvi = false;  // starts with "RIFF....AVI "
  // Header list: valid when it holds a main header and at least one stream, every stream
  // with both its header and format.
  bool headerValid = false;
  std::vector<uint8_t> avih;
  std::vector<AviStream> streams;
  bool hasOdml = false;
  uint32_t odmlFrames = 0;  // dmlh dwTotalFrames

  std::vector<RiffPart> riffs;  // the consecutive chain, the first one included even if broken
  uint64_t firstChunk = 0;      // offset of the first chunk in the first "movi" list, or 0
  bool hasIdx1 = false;
  uint32_t idx1Entries = 0;

  // Sum of the consecutive whole RIFF chunks (each header, size and pad byte): the bytes a
  // copy of a finished AVI holds. Anything after it is reserved space or debris.
  uint64_t riffLength = 0;
  bool finished = false;
  std::string problem;  // why the file is not finished (or not an AVI); empty when finished

  uint32_t TotalFrames() const { return avih.size() >= 20 ? Le32(avih.data() + 16) : 0; }
  uint32_t Width() const { return avih.size() >= 40 ? Le32(avih.data() + 32) : 0; }
  uint32_t Height() const { return avih.size() >= 40 ? Le32(avih.data() + 36) : 0; }
  uint32_t MicroSecPerFrame() const { return avih.size() >= 4 ? Le32(avih.data()) : 0; }
};

AviInfo ReadAviInfo(const ByteSource& src);

}  // namespace avi
