// Big-endian reading for the PICT decoder, straight from the source: every read goes
// through CDataSource::Take, so data that ends early raises code 11 before any byte is used,
// and the source's consumed count gives the file offset version 2 aligns opcodes to.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/decode/data_source.h"

namespace pict {

// top, left, bottom, right as stored (signed 16-bit).
struct Rect {
  int top = 0, left = 0, bottom = 0, right = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

class Stream {
public:
  explicit Stream(CDataSource& source) : source_(source) {}

  uint8_t U8() { return source_.Take(1)[0]; }
  uint16_t Be16() {
    auto b = source_.Take(2);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
  }
  int16_t S16() { return static_cast<int16_t>(Be16()); }
  uint32_t Be32() {
    auto b = source_.Take(4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  }
  std::span<const uint8_t> Take(size_t n) { return source_.Take(n); }
  void Skip(size_t n) { source_.Take(n); }
  Rect ReadRect() {
    Rect r;
    r.top = S16();
    r.left = S16();
    r.bottom = S16();
    r.right = S16();
    return r;
  }
  bool AtOddOffset() const { return (source_.GetBytesConsumed() & 1) != 0; }

private:
  CDataSource& source_;
};

}  // namespace pict
