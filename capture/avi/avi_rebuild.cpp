#include "capture/avi/avi_rebuild.h"

#include <algorithm>

namespace avi {
namespace {

constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kNotKeyframe = 0x80000000u;  // standard index: bit 31 of the size
constexpr uint32_t kDmlhBytes = 248;            // dwTotalFrames + dwFuture[61]
constexpr uint32_t kIxHeader = 24, kIxEntry = 8;
constexpr uint32_t kIndxHeader = 24, kIndxEntry = 16;
constexpr size_t kCopyBlock = 1 << 20;
constexpr size_t kAbortPollChunks = 4096;
constexpr size_t kAnyStream = 100;  // chunk ids number streams with two digits
constexpr size_t kHalfWrittenProbe = 16;

uint64_t Even(uint64_t n) { return n + (n & 1); }
uint64_t ChunkBytes(uint32_t size) { return 8 + Even(size); }

bool Printable(uint32_t id) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = uint8_t(id >> (8 * i));
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

uint32_t StreamChunkId(size_t stream, const char (&suffix)[3]) {
  const char id[5] = {char('0' + stream / 10), char('0' + stream % 10), suffix[0], suffix[1], 0};
  return FourCC(id);
}

// "ix00", "ix01", ...: the standard index of one stream.
uint32_t IndexChunkId(size_t stream) {
  const char id[5] = {'i', 'x', char('0' + stream / 10), char('0' + stream % 10), 0};
  return FourCC(id);
}

uint32_t SampleSize(const AviStream& s) { return s.strh.size() >= 48 ? Le32(s.strh.data() + 44) : 0; }

// Length in the stream's own units: frames for video, samples for fixed-size audio.
uint32_t Duration(const AviStream& s, uint64_t chunks, uint64_t bytes) {
  const uint32_t sample = SampleSize(s);
  const uint64_t n = (!s.IsVideo() && sample > 0) ? bytes / sample : chunks;
  return uint32_t(std::min<uint64_t>(n, UINT32_MAX));
}

class Bytes {
 public:
  std::vector<uint8_t> data;
  void U32(uint32_t v) {
    uint8_t b[4];
    PutLe32(b, v);
    data.insert(data.end(), b, b + 4);
  }
  void U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
  }
  void U16(uint16_t v) {
    data.push_back(uint8_t(v));
    data.push_back(uint8_t(v >> 8));
  }
  void Raw(std::span<const uint8_t> b) { data.insert(data.end(), b.begin(), b.end()); }
  void Chunk(uint32_t id, std::span<const uint8_t> body) {
    U32(id);
    U32(uint32_t(body.size()));
    Raw(body);
    if (body.size() & 1) data.push_back(0);
  }
  void ListHeader(uint32_t size, uint32_t type) {
    U32(FourCC("LIST"));
    U32(size);
    U32(type);
  }
};

// Segments per stream that hold its chunks: the entries of its super-index.
uint32_t SegmentsWith(const RebuildPlan& plan, size_t stream) {
  uint32_t n = 0;
  for (const auto& seg : plan.segments) n += seg.ixCount[stream] > 0;
  return n;
}

uint64_t StreamListBytes(const RebuildPlan& plan, size_t i) {
  const AviStream& s = plan.streams[i];
  uint64_t n = 12 + ChunkBytes(uint32_t(s.strh.size())) + ChunkBytes(uint32_t(s.strf.size()));
  for (const auto& [id, body] : s.extra) n += ChunkBytes(uint32_t(body.size()));
  if (plan.openDml) n += 8 + kIndxHeader + kIndxEntry * SegmentsWith(plan, i);
  return n;
}

uint64_t HeaderListBytes(const RebuildPlan& plan) {
  uint64_t n = 12 + 8 + kAvihBytes + 12 + 8 + kDmlhBytes;
  for (size_t i = 0; i < plan.streams.size(); ++i) n += StreamListBytes(plan, i);
  return n;
}

std::vector<uint8_t> HeaderList(const RebuildPlan& plan) {
  std::vector<uint64_t> chunks(plan.streams.size()), bytes(plan.streams.size());
  std::vector<uint32_t> largest(plan.streams.size());
  uint32_t firstRiffFrames = 0;
  for (size_t i = 0; i < plan.chunks.size(); ++i) {
    const FrameChunk& c = plan.chunks[i];
    ++chunks[c.stream];
    bytes[c.stream] += c.size;
    largest[c.stream] = std::max(largest[c.stream], c.size);
    if (i < plan.segments.front().count && plan.streams[c.stream].IsVideo()) ++firstRiffFrames;
  }
  const size_t main = size_t(std::find_if(plan.streams.begin(), plan.streams.end(),
                                          [](const AviStream& s) { return s.IsVideo(); }) -
                             plan.streams.begin()) % plan.streams.size();

  Bytes out;
  out.ListHeader(uint32_t(HeaderListBytes(plan) - 8), FourCC("hdrl"));
  std::vector<uint8_t> avih = plan.avih;
  PutLe32(avih.data() + 12, Le32(avih.data() + 12) | kAvifHasIndex);
  // Plain AVI counts every frame here; OpenDML counts the first RIFF's (dmlh has the rest).
  PutLe32(avih.data() + 16, firstRiffFrames);
  PutLe32(avih.data() + 24, uint32_t(plan.streams.size()));
  PutLe32(avih.data() + 28, *std::max_element(largest.begin(), largest.end()));
  out.Chunk(FourCC("avih"), avih);

  for (size_t i = 0; i < plan.streams.size(); ++i) {
    const AviStream& s = plan.streams[i];
    out.ListHeader(uint32_t(StreamListBytes(plan, i) - 8), FourCC("strl"));
    std::vector<uint8_t> strh = s.strh;
    PutLe32(strh.data() + 32, Duration(s, chunks[i], bytes[i]));
    PutLe32(strh.data() + 36, largest[i]);
    out.Chunk(FourCC("strh"), strh);
    out.Chunk(FourCC("strf"), s.strf);
    for (const auto& [id, body] : s.extra) out.Chunk(id, body);
    if (!plan.openDml) continue;
    const uint32_t entries = SegmentsWith(plan, i);
    out.U32(FourCC("indx"));
    out.U32(kIndxHeader + kIndxEntry * entries);
    out.U16(4);                  // longs per entry
    out.data.push_back(0);       // sub-type
    out.data.push_back(0);       // AVI_INDEX_OF_INDEXES
    out.U32(entries);
    out.U32(plan.streamChunkId[i]);
    out.U32(0), out.U32(0), out.U32(0);
    for (const auto& seg : plan.segments) {
      if (seg.ixCount[i] == 0) continue;
      out.U64(seg.ixOffset[i]);
      out.U32(8 + kIxHeader + kIxEntry * seg.ixCount[i]);
      uint64_t segBytes = 0;
      for (size_t k = seg.first; k < seg.first + seg.count; ++k)
        if (plan.chunks[k].stream == i) segBytes += plan.chunks[k].size;
      out.U32(Duration(s, seg.ixCount[i], segBytes));
    }
  }

  out.ListHeader(4 + 8 + kDmlhBytes, FourCC("odml"));
  std::vector<uint8_t> dmlh(kDmlhBytes, 0);
  PutLe32(dmlh.data(), uint32_t(std::min<uint64_t>(chunks[main], UINT32_MAX)));
  out.Chunk(FourCC("dmlh"), dmlh);
  return std::move(out.data);
}

// Buffers small writes so a run of little frames does not cost a system call each.
class Writer {
 public:
  explicit Writer(ByteSink& sink) : sink_(sink) { buffer_.reserve(kCopyBlock); }
  bool Put(std::span<const uint8_t> b) {
    if (buffer_.size() + b.size() > kCopyBlock && !Flush()) return false;
    if (b.size() >= kCopyBlock) return sink_.Write(b);
    buffer_.insert(buffer_.end(), b.begin(), b.end());
    return true;
  }
  bool Flush() {
    const bool ok = buffer_.empty() || sink_.Write(buffer_);
    buffer_.clear();
    return ok;
  }

 private:
  ByteSink& sink_;
  std::vector<uint8_t> buffer_;
};

// Copies `size` source bytes from `at` through `out`.
RebuildEnd CopyRange(const ByteSource& src, uint64_t at, uint64_t size, Writer& out,
                     std::vector<uint8_t>& block) {
  while (size > 0) {
    const size_t n = size_t(std::min<uint64_t>(size, kCopyBlock));
    block.resize(n);
    if (!src.ReadAt(at, block)) return RebuildEnd::kSourceShort;
    if (!out.Put(block)) return RebuildEnd::kSinkStopped;
    at += n;
    size -= n;
  }
  return RebuildEnd::kDone;
}

// A capture starts on cleared space (media::ClearCaptureFile), so the first zero chunk id is
// where its writer stopped. A frame that writer was still writing then has its header but
// ends in cleared bytes (or, after a power cut or a trim, in zeros at the end of the file): the last frame right before the cleared space is dropped when its
// last bytes are still zero (at worst a whole frame that really ended in zeros).
void DropHalfWritten(const ByteSource& src, uint64_t stop, std::vector<FrameChunk>& chunks) {
  if (chunks.empty()) return;
  const FrameChunk& last = chunks.back();
  if (last.data + Even(last.size) != stop || last.size < kHalfWrittenProbe) return;
  uint8_t tail[kHalfWrittenProbe];
  if (!src.ReadAt(last.data + last.size - kHalfWrittenProbe, tail)) return;
  if (std::all_of(std::begin(tail), std::end(tail), [](uint8_t b) { return b == 0; })) chunks.pop_back();
}

}  // namespace

MoviScan ScanMovi(const ByteSource& src, const AviInfo& info, const std::function<bool()>& aborted) {
  MoviScan scan;
  const uint64_t size = src.Size();
  uint64_t at = info.firstChunk;
  if (at == 0) {
    scan.stop = "no movi list";
    return scan;
  }
  // Without a usable header the walk still finds where the frames end: any stream counts.
  const size_t streams = info.streams.empty() ? kAnyStream : info.streams.size();
  Chunk c;
  for (size_t steps = 0;; ++steps) {
    if (aborted && steps % kAbortPollChunks == 0 && aborted()) {
      scan.aborted = true;
      break;
    }
    if (!ReadChunk(src, at, c)) {
      scan.stop = "end of file";
      DropHalfWritten(src, at, scan.chunks);  // a file trimmed after the kill, or a power cut
      break;
    }
    uint8_t type[4];
    const bool container = (c.id == FourCC("RIFF") || c.id == FourCC("LIST")) && src.ReadAt(at + 8, type);
    if (container && (Le32(type) == FourCC("AVIX") || Le32(type) == FourCC("movi") ||
                      Le32(type) == FourCC("rec "))) {
      at += 12;  // step inside: its size may be a placeholder
      continue;
    }
    if (c.id == 0) {
      scan.stop = "cleared space";
      DropHalfWritten(src, at, scan.chunks);
      break;
    }
    if (!Printable(c.id)) {
      scan.stop = "damaged chunk";
      break;
    }
    if (c.Data() + c.size > size) {
      scan.stop = "chunk " + FourCCText(c.id) + " cut short";
      break;
    }
    const int stream = StreamOfChunk(c.id);
    if (stream >= 0 && size_t(stream) < streams) {
      if (c.size > kMaxFrameBytes) {
        scan.stop = "oversized chunk";
        break;
      }
      scan.chunks.push_back({c.Data(), c.id, c.size, uint32_t(stream)});
    }
    at = c.End();  // index, padding and unknown chunks are stepped over
  }
  scan.end = std::min(at, size);
  return scan;
}

RebuildPlan PlanRebuild(const AviInfo& info, std::vector<FrameChunk> chunks, uint64_t riffLimit) {
  const uint64_t limit = std::clamp<uint64_t>(riffLimit, uint64_t{1} << 10, kDefaultRiffLimit);
  RebuildPlan plan;
  plan.streams = info.streams;
  plan.avih = info.avih;
  plan.avih.resize(kAvihBytes, 0);
  plan.chunks = std::move(chunks);
  const size_t streams = plan.streams.size();

  plan.streamChunkId.assign(streams, 0);
  for (size_t i = 0; i < streams; ++i)
    plan.streamChunkId[i] = StreamChunkId(i, plan.streams[i].IsVideo() ? "db" : "wb");
  std::vector<bool> seen(streams, false);
  uint64_t all = 0;
  for (const FrameChunk& c : plan.chunks) {
    if (!seen[c.stream]) plan.streamChunkId[c.stream] = c.id;
    seen[c.stream] = true;
    all += ChunkBytes(c.size) + 16;
    plan.videoFrames += plan.streams[c.stream].IsVideo();
  }
  plan.openDml = all > limit;

  // Fill RIFFs up to the limit, counting each chunk's index entries with it.
  auto newSegment = [&](size_t first) {
    RebuildPlan::Segment seg;
    seg.first = first;
    seg.ixOffset.assign(streams, 0);
    seg.ixCount.assign(streams, 0);
    plan.segments.push_back(std::move(seg));
  };
  newSegment(0);
  uint64_t used = 0;
  for (size_t i = 0; i < plan.chunks.size(); ++i) {
    const FrameChunk& c = plan.chunks[i];
    uint64_t cost = ChunkBytes(c.size) + (plan.segments.size() == 1 ? 16 : 0);
    if (plan.openDml) cost += kIxEntry + (plan.segments.back().ixCount[c.stream] == 0 ? 8 + kIxHeader : 0);
    if (plan.openDml && used + cost > limit && plan.segments.back().count > 0) {
      newSegment(i);
      used = 0;
      cost = ChunkBytes(c.size) + kIxEntry + 8 + kIxHeader;
    }
    used += cost;
    ++plan.segments.back().count;
    ++plan.segments.back().ixCount[c.stream];
  }

  // Place everything; the header list size depends only on how many RIFFs hold each stream.
  uint64_t at = 0;
  for (size_t k = 0; k < plan.segments.size(); ++k) {
    RebuildPlan::Segment& seg = plan.segments[k];
    seg.offset = at;
    seg.movi = at + 12 + (k == 0 ? HeaderListBytes(plan) : 0);
    uint64_t pos = seg.movi + 12;
    for (size_t i = seg.first; i < seg.first + seg.count; ++i) pos += ChunkBytes(plan.chunks[i].size);
    if (plan.openDml) {
      for (size_t s = 0; s < streams; ++s) {
        if (seg.ixCount[s] == 0) continue;
        seg.ixOffset[s] = pos;
        pos += 8 + kIxHeader + uint64_t(kIxEntry) * seg.ixCount[s];
      }
    }
    seg.moviSize = uint32_t(pos - seg.movi - 8);
    if (k == 0) pos += 8 + 16 * uint64_t(seg.count);
    seg.riffSize = uint32_t(pos - seg.offset - 8);
    at = pos;
  }
  plan.totalBytes = at;
  return plan;
}

RebuildEnd WriteRebuilt(const RebuildPlan& plan, const ByteSource& src, ByteSink& sink) {
  Writer out(sink);
  std::vector<uint8_t> block;
  for (size_t k = 0; k < plan.segments.size(); ++k) {
    const RebuildPlan::Segment& seg = plan.segments[k];
    Bytes head;
    head.U32(FourCC("RIFF"));
    head.U32(seg.riffSize);
    head.U32(k == 0 ? FourCC("AVI ") : FourCC("AVIX"));
    if (k == 0) head.Raw(HeaderList(plan));
    head.ListHeader(seg.moviSize, FourCC("movi"));
    if (!out.Put(head.data)) return RebuildEnd::kSinkStopped;

    Bytes idx1;
    std::vector<Bytes> ix(plan.streams.size());
    uint64_t pos = seg.movi + 12;
    for (size_t i = seg.first; i < seg.first + seg.count; ++i) {
      const FrameChunk& c = plan.chunks[i];
      idx1.U32(c.id);
      idx1.U32(c.size > 0 ? kAviifKeyframe : 0);
      idx1.U32(uint32_t(pos - (seg.movi + 8)));
      idx1.U32(c.size);
      ix[c.stream].U32(uint32_t(pos + 8 - seg.offset));
      ix[c.stream].U32(c.size > 0 ? c.size : kNotKeyframe);

      uint8_t header[8];
      PutLe32(header, c.id);
      PutLe32(header + 4, c.size);
      if (!out.Put(header)) return RebuildEnd::kSinkStopped;
      if (const RebuildEnd end = CopyRange(src, c.data, c.size, out, block); end != RebuildEnd::kDone)
        return end;
      static const uint8_t kPad[1] = {0};
      if ((c.size & 1) && !out.Put(kPad)) return RebuildEnd::kSinkStopped;
      pos += ChunkBytes(c.size);
    }
    for (size_t s = 0; plan.openDml && s < plan.streams.size(); ++s) {
      if (seg.ixCount[s] == 0) continue;
      Bytes chunk;
      chunk.U32(IndexChunkId(s));
      chunk.U32(kIxHeader + kIxEntry * seg.ixCount[s]);
      chunk.U16(2);               // longs per entry
      chunk.data.push_back(0);    // sub-type
      chunk.data.push_back(1);    // AVI_INDEX_OF_CHUNKS
      chunk.U32(seg.ixCount[s]);
      chunk.U32(plan.streamChunkId[s]);
      chunk.U64(seg.offset);      // entries count from the start of this RIFF
      chunk.U32(0);
      chunk.Raw(ix[s].data);
      if (!out.Put(chunk.data)) return RebuildEnd::kSinkStopped;
    }
    if (k == 0) {
      Bytes tail;
      tail.Chunk(FourCC("idx1"), idx1.data);
      if (!out.Put(tail.data)) return RebuildEnd::kSinkStopped;
    }
  }
  return out.Flush() ? RebuildEnd::kDone : RebuildEnd::kSinkStopped;
}

RebuildEnd CopyPrefix(const ByteSource& src, uint64_t length, ByteSink& sink) {
  Writer out(sink);
  std::vector<uint8_t> block;
  const RebuildEnd end = CopyRange(src, 0, length, out, block);
  if (end != RebuildEnd::kDone) return end;
  return out.Flush() ? RebuildEnd::kDone : RebuildEnd::kSinkStopped;
}

}  // namespace avi
