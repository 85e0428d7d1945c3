#include "capture/avi/avi_reader.h"

#include <algorithm>
#include <span>

namespace avi {
namespace {

constexpr size_t kMaxStreams = 100;      // chunk ids number streams with two digits
constexpr size_t kMaxExtraChunks = 16;   // per stream, beyond strh/strf/indx
constexpr uint32_t kMinStrhBytes = 48;   // up to dwSampleSize; rcFrame is optional in practice

// Walks the chunks of a list already in memory; a chunk that runs past the list ends it.
class ListWalker {
 public:
  explicit ListWalker(std::span<const uint8_t> body) : body_(body) {}

  bool Next(uint32_t& id, std::span<const uint8_t>& data) {
    if (body_.size() - pos_ < 8) return false;
    id = Le32(body_.data() + pos_);
    const uint32_t size = Le32(body_.data() + pos_ + 4);
    if (size > body_.size() - pos_ - 8) {
      damaged_ = true;
      return false;
    }
    data = body_.subspan(pos_ + 8, size);
    pos_ += 8 + size;
    if ((size & 1) && pos_ < body_.size()) ++pos_;
    return true;
  }
  bool Damaged() const { return damaged_; }

 private:
  std::span<const uint8_t> body_;
  size_t pos_ = 0;
  bool damaged_ = false;
};

bool IsList(uint32_t id, std::span<const uint8_t> data, uint32_t type) {
  return id == FourCC("LIST") && data.size() >= 4 && Le32(data.data()) == type;
}

std::vector<uint8_t> Copy(std::span<const uint8_t> data) { return {data.begin(), data.end()}; }

// One "strl" list: strh and strf are required; an OpenDML "indx" counts its entries.
bool ParseStreamList(std::span<const uint8_t> body, AviStream& out, bool& damaged) {
  ListWalker walk(body);
  uint32_t id = 0;
  std::span<const uint8_t> data;
  while (walk.Next(id, data)) {
    if (id == FourCC("strh")) {
      if (data.size() < kMinStrhBytes) continue;
      out.strh = Copy(data);
      out.type = Le32(data.data());
      out.handler = Le32(data.data() + 4);
      out.length = Le32(data.data() + 32);
    } else if (id == FourCC("strf")) {
      if (!data.empty()) out.strf = Copy(data);
    } else if (id == FourCC("indx")) {
      // wLongsPerEntry, bIndexSubType, bIndexType (0: an index of indexes), nEntriesInUse.
      if (data.size() >= 24 && data[3] == 0) {
        out.superIndexEntries = std::min<uint32_t>(Le32(data.data() + 4), uint32_t((data.size() - 24) / 16));
      }
    } else if (id != FourCC("JUNK") && out.extra.size() < kMaxExtraChunks) {
      out.extra.emplace_back(id, Copy(data));
    }
  }
  damaged = damaged || walk.Damaged();
  return !out.strh.empty() && !out.strf.empty();
}

// The "hdrl" list body (after its type): main header, streams, OpenDML header.
void ParseHeaderList(std::span<const uint8_t> body, AviInfo& info) {
  ListWalker walk(body);
  uint32_t id = 0;
  std::span<const uint8_t> data;
  bool damaged = false;
  bool incomplete = false;  // a stream without header or format: chunk ids would not match
  while (walk.Next(id, data)) {
    if (id == FourCC("avih")) {
      if (data.size() >= 40) info.avih = Copy(data.first(std::min<size_t>(data.size(), kAvihBytes)));
    } else if (IsList(id, data, FourCC("strl"))) {
      AviStream stream;
      if (!ParseStreamList(data.subspan(4), stream, damaged)) incomplete = true;
      else if (info.streams.size() < kMaxStreams) info.streams.push_back(std::move(stream));
    } else if (IsList(id, data, FourCC("odml"))) {
      ListWalker odml(data.subspan(4));
      std::span<const uint8_t> dmlh;
      uint32_t sub = 0;
      while (odml.Next(sub, dmlh)) {
        if (sub == FourCC("dmlh") && dmlh.size() >= 4) {
          info.hasOdml = true;
          info.odmlFrames = Le32(dmlh.data());
        }
      }
    }
  }
  damaged = damaged || walk.Damaged();
  info.headerValid = !info.avih.empty() && !info.streams.empty() && !incomplete;
  if (damaged && info.problem.empty()) info.problem = "a header chunk runs past its list";
}

bool ReadListType(const ByteSource& src, const Chunk& c, uint32_t& type) {
  uint8_t t[4];
  if (c.size < 4 || !src.ReadAt(c.Data(), t)) return false;
  type = Le32(t);
  return true;
}

// Top-level chunks of the first RIFF: header list, "movi" list, "idx1". Stops at anything
// that runs past `bound`, and at stream data met outside a list (a "movi" size that does not
// cover its frames, as an unfinished writer leaves it).
void WalkFirstRiff(const ByteSource& src, uint64_t bound, AviInfo& info) {
  RiffPart& riff = info.riffs.front();
  Chunk c;
  for (uint64_t at = 12; at + 8 <= bound && ReadChunk(src, at, c); at = c.End()) {
    if (StreamOfChunk(c.id) >= 0) {
      if (info.problem.empty()) info.problem = "the movi list size does not cover its data";
      return;
    }
    uint32_t type = 0;
    const bool list = c.id == FourCC("LIST") && ReadListType(src, c, type);
    // A writer killed before it first updated the "movi" size leaves 0 there (or less than
    // its type): the frames follow the type all the same.
    uint8_t t[4];
    if (c.id == FourCC("LIST") && c.size < 4 && riff.movi == 0 && src.ReadAt(c.Data(), t) &&
        Le32(t) == FourCC("movi")) {
      riff.movi = c.offset;
      riff.moviSize = c.size;
      info.firstChunk = c.offset + 12;
      if (info.problem.empty()) info.problem = "the movi list size is a placeholder";
      return;
    }
    if (list && type == FourCC("movi") && riff.movi == 0) {
      riff.movi = c.offset;
      riff.moviSize = c.size;
      info.firstChunk = c.offset + 12;
    }
    if (c.Data() + c.size > bound) {
      if (info.problem.empty()) info.problem = "chunk " + FourCCText(c.id) + " runs past its RIFF";
      return;
    }
    if (list && type == FourCC("hdrl") && !info.headerValid) {
      if (c.size > kMaxHeaderBytes) {
        info.problem = "the header list is too large";
        return;
      }
      std::vector<uint8_t> body(c.size - 4);
      if (!src.ReadAt(c.Data() + 4, body)) return;
      ParseHeaderList(body, info);
    } else if (c.id == FourCC("idx1") && riff.movi != 0 && !info.hasIdx1) {
      info.hasIdx1 = true;
      info.idx1Entries = c.size / 16;
    }
  }
}

// The "RIFF AVIX" extensions that follow a whole first RIFF.
void WalkExtensions(const ByteSource& src, AviInfo& info) {
  uint64_t at = info.riffs.front().offset + 8 + info.riffs.front().size + (info.riffs.front().size & 1);
  Chunk c;
  uint32_t type = 0;
  while (ReadChunk(src, at, c) && c.id == FourCC("RIFF") && src.Size() - at >= 12) {
    uint8_t t[4];
    if (!src.ReadAt(at + 8, t) || Le32(t) != FourCC("AVIX")) break;
    RiffPart part;
    part.offset = at;
    part.size = c.size;
    part.extension = true;
    part.whole = c.size >= 4 && c.Data() + c.size <= src.Size();
    Chunk movi;
    if (ReadChunk(src, at + 12, movi) && movi.id == FourCC("LIST") &&
        ReadListType(src, movi, type) && type == FourCC("movi")) {
      part.movi = movi.offset;
      part.moviSize = movi.size;
    }
    info.riffs.push_back(part);
    if (!part.whole) break;
    at = c.End();
  }
}

void Judge(AviInfo& info) {
  const RiffPart& first = info.riffs.front();
  std::string why;
  if (!first.whole) {
    why = first.size == 0 ? "the RIFF size is zero" : "the RIFF size runs past the end of the file";
  } else if (!info.headerValid) {
    why = "the header list is missing or damaged";
  } else if (first.movi == 0 || first.movi + 8 + first.moviSize > first.offset + 8 + first.size) {
    why = "no whole movi list";
  } else if (!info.problem.empty()) {
    why = info.problem;  // what the walk through the RIFF tripped over
  } else if (!info.hasIdx1 && std::none_of(info.streams.begin(), info.streams.end(),
                                           [](const AviStream& s) { return s.superIndexEntries > 0; })) {
    why = "no index";
  }
  for (size_t i = 1; i < info.riffs.size() && why.empty(); ++i) {
    const RiffPart& part = info.riffs[i];
    if (!part.whole) why = part.size == 0 ? "an AVIX RIFF size is zero" : "an AVIX RIFF runs past the end of the file";
    else if (part.movi == 0) why = "an AVIX RIFF has no movi list";
  }
  if (why.empty()) why = info.problem;
  info.problem = why;
  info.finished = why.empty();
  for (const RiffPart& part : info.riffs) {
    if (!part.whole) break;
    info.riffLength = part.offset + 8 + part.size + (part.size & 1);
  }
  info.riffLength = std::min(info.riffLength, info.fileSize);  // a missing final pad byte
}

}  // namespace

AviInfo ReadAviInfo(const ByteSource& src) {
  AviInfo info;
  info.fileSize = src.Size();
  uint8_t head[12];
  if (!src.ReadAt(0, head) || Le32(head) != FourCC("RIFF") || Le32(head + 8) != FourCC("AVI ")) {
    info.problem = "not an AVI file";
    return info;
  }
  info.isAvi = true;
  RiffPart first;
  first.size = Le32(head + 4);
  first.whole = first.size >= 4 && uint64_t(first.size) + 8 <= info.fileSize;
  info.riffs.push_back(first);
  // A broken RIFF size says nothing about where the data ends; look as far as the file goes.
  WalkFirstRiff(src, first.whole ? 8 + uint64_t(first.size) : info.fileSize, info);
  if (first.whole) WalkExtensions(src, info);
  Judge(info);
  return info;
}

}  // namespace avi
