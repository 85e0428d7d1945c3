// Small AVIs built byte by byte for the reader and rebuild tests, laid out as a capture
// muxer writes them: RIFF "AVI " { LIST hdrl { avih, LIST strl { strh, strf }, LIST odml
// { dmlh } }, LIST movi { "00dc" frames }, idx1 }. Frame i holds the bytes (i + k) & 0xFF.
// The offsets of every size field are kept so a test can damage exactly one of them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "capture/avi/riff_source.h"

namespace avitest {

struct HandAvi {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> frameAt;  // chunk header offset of each frame
  uint64_t movi = 0;              // "LIST movi" header offset
  uint64_t idx1 = 0;              // "idx1" header offset (0: none)
  uint64_t strl = 0;              // "LIST strl" header offset

  void Put32(uint64_t at, uint32_t v) { avi::PutLe32(bytes.data() + at, v); }
};

inline std::vector<uint8_t> FramePayload(size_t index, uint32_t size) {
  std::vector<uint8_t> p(size);
  for (uint32_t k = 0; k < size; ++k) p[k] = uint8_t(index + k);
  return p;
}

class ByteWriter {
 public:
  std::vector<uint8_t>& out;
  void U32(uint32_t v) {
    uint8_t b[4];
    avi::PutLe32(b, v);
    out.insert(out.end(), b, b + 4);
  }
  void Id(const char (&s)[5]) { U32(avi::FourCC(s)); }
  void Zeros(size_t n) { out.insert(out.end(), n, 0); }
  size_t Here() const { return out.size(); }
  void PatchSize(size_t headerAt) { avi::PutLe32(out.data() + headerAt + 4, uint32_t(out.size() - headerAt - 8)); }
};

// `finished`: real sizes, header counts and idx1; otherwise what a writer that died leaves:
// RIFF and movi sizes covering only the header, zero counts, no index.
inline HandAvi BuildAvi(const std::vector<uint32_t>& frameSizes, bool finished = true) {
  HandAvi avi;
  ByteWriter w{avi.bytes};
  const uint32_t frames = finished ? uint32_t(frameSizes.size()) : 0;
  w.Id("RIFF"), w.U32(0), w.Id("AVI ");
  const size_t hdrl = w.Here();
  w.Id("LIST"), w.U32(0), w.Id("hdrl");
  w.Id("avih"), w.U32(56);
  w.U32(33333), w.U32(0), w.U32(0), w.U32(finished ? 0x10 : 0), w.U32(frames), w.U32(0), w.U32(1),
      w.U32(0), w.U32(16), w.U32(8), w.Zeros(16);
  avi.strl = w.Here();
  w.Id("LIST"), w.U32(0), w.Id("strl");
  w.Id("strh"), w.U32(56), w.Id("vids"), w.Id("MJPG"), w.Zeros(12), w.U32(1), w.U32(30), w.U32(0),
      w.U32(frames), w.Zeros(20);
  w.Id("strf"), w.U32(40), w.U32(40), w.U32(16), w.U32(8), w.U32(0x180001), w.Id("MJPG"), w.Zeros(20);
  w.PatchSize(avi.strl);
  const size_t odml = w.Here();
  w.Id("LIST"), w.U32(0), w.Id("odml"), w.Id("dmlh"), w.U32(4), w.U32(frames);
  w.PatchSize(odml);
  w.PatchSize(hdrl);
  avi.movi = w.Here();
  w.Id("LIST"), w.U32(4), w.Id("movi");
  const uint64_t headerEnd = w.Here();
  for (size_t i = 0; i < frameSizes.size(); ++i) {
    avi.frameAt.push_back(w.Here());
    w.Id("00dc"), w.U32(frameSizes[i]);
    const auto payload = FramePayload(i, frameSizes[i]);
    avi.bytes.insert(avi.bytes.end(), payload.begin(), payload.end());
    if (frameSizes[i] & 1) w.Zeros(1);
  }
  if (!finished) {
    avi.Put32(4, uint32_t(headerEnd - 8));
    return avi;
  }
  w.PatchSize(avi.movi);
  avi.idx1 = w.Here();
  w.Id("idx1"), w.U32(uint32_t(16 * frameSizes.size()));
  for (size_t i = 0; i < frameSizes.size(); ++i)
    w.Id("00dc"), w.U32(0x10), w.U32(uint32_t(avi.frameAt[i] - avi.movi - 8)), w.U32(frameSizes[i]);
  w.PatchSize(0);
  return avi;
}

}  // namespace avitest
