// GifLzwWriter: the GIF variable-code-size LZW compressor and its sub-block packer.
//
// Codes start at 9 bits (clear 256, end 257, first free 258) and grow to 12; when all 4096
// codes are in use the next unmatched string sends a clear code and the table restarts.
// Strings are found in a 5003-slot open-addressing hash ((pixel << 12) + prefix as key,
// (pixel << 4) XOR prefix as first slot, secondary step 5003 - slot). Packed bytes leave in
// data sub-blocks of at most 254 bytes, each preceded by its count byte.
//
// The caller feeds the pixels of the picture in file order (interlaced or not) with
// Begin, Add and Finish. Finish sends the end code and flushes; it does not write the
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
  void Add(uint8_t pixel) {
    const int32_t key = (static_cast<int32_t>(pixel) << kMaxBits) + prefix_;
    int slot = (static_cast<int>(pixel) << 4) ^ prefix_;
    if (hash_[slot] == key) {
      prefix_ = codes_[slot];
      return;
    }
    AddSlow(pixel, key, slot);
  }
  void Finish();

private:
  void AddSlow(uint8_t pixel, int32_t key, int slot);
  void ClearHash();
  void Output(int code);
  void AppendByte(uint8_t value) {
    block_[1 + blockCount_++] = value;
    if (blockCount_ == kBlockSize) FlushBlock();
  }
  void FlushBlock();

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
  uint8_t block_[1 + kBlockSize];  // count byte, then the data
  int blockCount_ = 0;
};
