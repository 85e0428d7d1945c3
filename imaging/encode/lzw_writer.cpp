#include "imaging/encode/lzw_writer.h"

#include <algorithm>

uint64_t GifLzwWriter::MaxCompressedSize(uint64_t pixels) {
  // At most one code per pixel, plus the first clear, one clear per table fill and the end
  // code; no code is wider than 12 bits.
  const uint64_t codes = pixels + 3 + pixels / (kCodeLimit - kFirstFreeCode);
  const uint64_t bytes = (codes * kMaxBits + 7) / 8;
  return bytes + (bytes + kBlockSize - 1) / kBlockSize;
}

void GifLzwWriter::Begin(CDataSink& sink, uint8_t firstPixel) {
  sink_ = &sink;
  codeSize_ = 9;
  clearPending_ = false;
  largestCode_ = (1 << codeSize_) - 1;
  nextFreeCode_ = kFirstFreeCode;
  blockCount_ = 0;
  accumulator_ = 0;
  accumulatedBits_ = 0;
  prefix_ = firstPixel;
  ClearHash();
  Output(kClearCode);
}

void GifLzwWriter::ClearHash() { std::fill(std::begin(hash_), std::end(hash_), -1); }

void GifLzwWriter::AddSlow(uint8_t pixel, int32_t key, int slot) {
  if (hash_[slot] >= 0) {
    const int step = slot == 0 ? 1 : kHashSize - slot;
    do {
      slot -= step;
      if (slot < 0) slot += kHashSize;
      if (hash_[slot] == key) {
        prefix_ = codes_[slot];
        return;
      }
    } while (hash_[slot] > 0);
  }
  Output(prefix_);
  if (nextFreeCode_ < kCodeLimit) {
    codes_[slot] = static_cast<uint16_t>(nextFreeCode_++);
    hash_[slot] = key;
  } else {
    ClearHash();
    nextFreeCode_ = kFirstFreeCode;
    clearPending_ = true;
    Output(kClearCode);
  }
  prefix_ = pixel;
}

void GifLzwWriter::Finish() {
  Output(prefix_);
  Output(kEndCode);
}

void GifLzwWriter::Output(int code) {
  if (accumulatedBits_ > 0) {
    accumulator_ &= (1u << accumulatedBits_) - 1;
    accumulator_ |= static_cast<uint32_t>(code) << accumulatedBits_;
  } else {
    accumulator_ = static_cast<uint32_t>(code);
  }
  accumulatedBits_ += codeSize_;
  while (accumulatedBits_ >= 8) {
    AppendByte(static_cast<uint8_t>(accumulator_));
    accumulator_ >>= 8;
    accumulatedBits_ -= 8;
  }

  if (nextFreeCode_ > largestCode_ && !clearPending_) {
    ++codeSize_;
    largestCode_ = codeSize_ == kMaxBits ? kCodeLimit : (1 << codeSize_) - 1;
  } else if (clearPending_) {
    codeSize_ = 9;
    largestCode_ = (1 << codeSize_) - 1;
    clearPending_ = false;
  }

  if (code == kEndCode) {
    while (accumulatedBits_ > 0) {
      AppendByte(static_cast<uint8_t>(accumulator_));
      accumulator_ >>= 8;
      accumulatedBits_ -= 8;
    }
    FlushBlock();
  }
}

void GifLzwWriter::FlushBlock() {
  if (blockCount_ == 0) return;
  block_[0] = static_cast<uint8_t>(blockCount_);
  sink_->WriteBytes(1 + static_cast<size_t>(blockCount_), block_);
  blockCount_ = 0;
}
