// Rebuilds an unfinished AVI from the frames it holds.
//
// A capture that dies before its writer finishes leaves the frames on disk but zero header
// counts, placeholder RIFF and "movi" sizes and no index, so players show nothing.
// ScanMovi walks the stream chunks from the first "movi" list onwards, stepping into any
// "RIFF AVIX" / "LIST movi" it meets and over index and padding chunks, until the file ends,
// a chunk is damaged (an id that is not text) or cut short, or the walk reaches space the
// capture cleared when it began (a zero id; the frame being written there is dropped when
// it ends in cleared bytes); every whole chunk is kept.
// PlanRebuild lays out a new file around those chunks and WriteRebuilt streams it:
//
//   RIFF "AVI "  LIST hdrl (avih, strl: strh strf [extra] [indx], LIST odml: dmlh)
//                LIST movi (chunks [ix##])  idx1
//   RIFF "AVIX"  LIST movi (chunks ix##)    ... only when the chunks pass `riffLimit`
//
// The header list is rebuilt from the source's stream headers and formats with the counts
// set from the chunks found. With one RIFF the file is a plain AVI with "idx1"; past the
// limit it is OpenDML: every RIFF's "movi" ends with one standard index ("ix00", ...) per
// stream and each stream header carries a super-index ("indx") pointing at them; "idx1"
// covers the first RIFF. Offsets in "idx1" are relative to the "movi" list. Which frames
// were key frames is not recorded in an unfinished file: every non-empty chunk is marked as
// one (true for raw video and Motion JPEG, the formats captures are written in).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "capture/avi/avi_reader.h"
#include "capture/avi/riff_source.h"

namespace avi {

inline constexpr uint64_t kDefaultRiffLimit = uint64_t{1} << 30;  // as common writers split
inline constexpr uint32_t kMaxFrameBytes = 1u << 29;  // larger "frames" are damage

struct FrameChunk {
  uint64_t data = 0;  // offset of the chunk's data in the source
  uint32_t id = 0;
  uint32_t size = 0;
  uint32_t stream = 0;
};

struct MoviScan {
  std::vector<FrameChunk> chunks;
  uint64_t end = 0;  // where the walk stopped
  std::string stop;  // why it stopped there
  bool aborted = false;
};

// `aborted` (may be empty) is polled every few thousand chunks. Without streams in `info`
// (a damaged header) chunks of any stream number are taken: PlanRebuild cannot use them,
// but `end` still tells where the frames end.
MoviScan ScanMovi(const ByteSource& src, const AviInfo& info, const std::function<bool()>& aborted);

struct RebuildPlan {
  struct Segment {
    size_t first = 0;  // chunk range [first, first + count)
    size_t count = 0;
    uint64_t offset = 0;  // of its RIFF header in the new file
    uint64_t movi = 0;    // of its "LIST movi" header
    uint32_t riffSize = 0;
    uint32_t moviSize = 0;
    std::vector<uint64_t> ixOffset;  // per stream; 0 when the stream has no chunk here
    std::vector<uint32_t> ixCount;
  };
  std::vector<AviStream> streams;
  std::vector<uint8_t> avih;
  std::vector<FrameChunk> chunks;
  std::vector<Segment> segments;
  std::vector<uint32_t> streamChunkId;  // the id each stream's index names
  bool openDml = false;
  uint32_t videoFrames = 0;  // chunks of video streams: the frames rescued
  uint64_t totalBytes = 0;   // size of the new file
};

// Needs a valid header list (info.headerValid). `riffLimit` is clamped to [1 KiB, 1 GiB].
RebuildPlan PlanRebuild(const AviInfo& info, std::vector<FrameChunk> chunks, uint64_t riffLimit);

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(std::span<const uint8_t> bytes) = 0;  // false stops the writing
};

enum class RebuildEnd { kDone, kSinkStopped, kSourceShort };

// Writes the planned file, frame data read from `src`. kSourceShort: the source lost bytes
// it had during the scan (the file changed under us).
RebuildEnd WriteRebuilt(const RebuildPlan& plan, const ByteSource& src, ByteSink& sink);

// Copies `length` bytes from the start of `src` (a finished AVI's RIFF chain).
RebuildEnd CopyPrefix(const ByteSource& src, uint64_t length, ByteSink& sink);

}  // namespace avi
