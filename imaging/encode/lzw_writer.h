// GifLzwWriter: the GIF variable-code-size LZW compressor and its sub-block packer.
//
// Codes start at 9 bits (clear 256, end 257, first free 258) and grow to 12; when all 4096
// codes are in use the next unmatched string sends a clear code and the table restarts.
// Strings are found in a 5003-slot open-addressing hash ((pixel << 12) + prefix as key,
// (pixel << 4) XOR prefix as first slot, secondary step 5003 - slot). Packed bytes leave in
// data sub-blocks of at most 254 bytes, each preceded by its count byte.
//
// The caller feeds the pixels of the picture in file order (interlaced or not) with
// Begin, AddPixels and Finish. Finish sends the end code and flushes; it does not write the
// zero-length block that terminates the data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/encode/data_sink.h"

class GifLzwWriter {
public:
  static constexpr int kHashSize = 5003;
  static constexpr int kMaxBits = 12;
  static constexpr int kCodeLimit = 1 << kMaxBits;
  static constexpr int kClearCode = 256;
  static constexpr int kEndCode = 257;
  static constexpr int kFirstFreeCode = 258;
  static constexpr int kBlockSize = 254;

  // Largest number of bytes (sub-block counts included) that `pixels` pixels can produce.
  static uint64_t MaxCompressedSize(uint64_t pixels);

  void Begin(CDataSink& sink, uint8_t firstPixel);
  // Adds the pixels [pixel, end) in order.
  void AddPixels(const uint8_t* pixel, const uint8_t* end);
  void Finish();

private:
  bool Probe(int32_t key, int& slot) const;
  void ClearHash();
  void Output(int code);
  void FlushBlocks(bool all);

  CDataSink* sink_ = nullptr;
  int32_t hash_[kHashSize];
  uint16_t codes_[kHashSize];
  int prefix_ = 0;
  int codeSize_ = 9;
  int largestCode_ = 511;
  int nextFreeCode_ = kFirstFreeCode;
  bool clearPending_ = false;
  uint32_t accumulator_ = 0;
  int accumulatedBits_ = 0;
  // Packed bytes wait here and leave as sub-blocks many at a time: 254 bytes each, the
  // last one shorter when the end code has been sent. Two bytes of slack for Output.
  static constexpr int kStagedBlocks = 64;
  uint8_t staged_[kStagedBlocks * kBlockSize + 2];
  int stagedCount_ = 0;
  uint8_t framed_[kStagedBlocks * (1 + kBlockSize)];  // the sub-blocks with their counts
};
