#include "imaging/encode/lzw_writer.h"

#include <algorithm>
#include <cstring>

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
  stagedCount_ = 0;
  accumulator_ = 0;
  accumulatedBits_ = 0;
  prefix_ = firstPixel;
  ClearHash();
  Output(kClearCode);
}

void GifLzwWriter::ClearHash() { std::fill(std::begin(hash_), std::end(hash_), -1); }

// Follows the probe sequence from `slot`, whose entry is taken and not `key`. True with
// `slot` at the match; false with `slot` where the string would go.
bool GifLzwWriter::Probe(int32_t key, int& slot) const {
  int at = slot;
  const int step = at == 0 ? 1 : kHashSize - at;
  do {
    at -= step;
    if (at < 0) at += kHashSize;
    if (hash_[at] == key) {
      slot = at;
      return true;
    }
  } while (hash_[at] > 0);
  slot = at;
  return false;
}

void GifLzwWriter::AddPixels(const uint8_t* pixel, const uint8_t* end) {
  // The current string's code lives in a local: the member would be reloaded and stored
  // for every pixel, pixels being bytes that may alias anything.
  int prefix = prefix_;
  for (; pixel != end; ++pixel) {
    const int p = *pixel;
    const int32_t key = (p << kMaxBits) + prefix;
    int slot = (p << 4) ^ prefix;
    const int32_t held = hash_[slot];
    if (held == key || (held >= 0 && Probe(key, slot))) {
      prefix = codes_[slot];
      continue;
    }
    Output(prefix);
    if (nextFreeCode_ < kCodeLimit) {
      codes_[slot] = static_cast<uint16_t>(nextFreeCode_++);
      hash_[slot] = key;
    } else {
      ClearHash();
      nextFreeCode_ = kFirstFreeCode;
      clearPending_ = true;
      Output(kClearCode);
    }
    prefix = p;
  }
  prefix_ = prefix;
}

void GifLzwWriter::Finish() {
  Output(prefix_);
  Output(kEndCode);
}

void GifLzwWriter::Output(int code) {
  // Bits above accumulatedBits_ are always zero; at most 7 + 12 bits are held, so each
  // code completes at most two bytes. Both are stored and only the whole ones counted.
  accumulator_ |= static_cast<uint32_t>(code) << accumulatedBits_;
  accumulatedBits_ += codeSize_;
  staged_[stagedCount_] = static_cast<uint8_t>(accumulator_);
  staged_[stagedCount_ + 1] = static_cast<uint8_t>(accumulator_ >> 8);
  const int whole = accumulatedBits_ >> 3;
  stagedCount_ += whole;
  accumulator_ >>= 8 * whole;
  accumulatedBits_ -= 8 * whole;
  if (stagedCount_ >= kStagedBlocks * kBlockSize) FlushBlocks(false);

  if (nextFreeCode_ > largestCode_ && !clearPending_) {
    ++codeSize_;
    largestCode_ = codeSize_ == kMaxBits ? kCodeLimit : (1 << codeSize_) - 1;
  } else if (clearPending_) {
    codeSize_ = 9;
    largestCode_ = (1 << codeSize_) - 1;
    clearPending_ = false;
  }

  if (code == kEndCode) {
    if (accumulatedBits_ > 0) {  // fewer than 8 bits: one last byte
      staged_[stagedCount_++] = static_cast<uint8_t>(accumulator_);
      accumulator_ = 0;
      accumulatedBits_ = 0;
    }
    FlushBlocks(true);
  }
}

void GifLzwWriter::FlushBlocks(bool all) {
  const int full = stagedCount_ / kBlockSize;
  const int blocks = full + (all && stagedCount_ % kBlockSize != 0 ? 1 : 0);
  uint8_t* out = framed_;
  for (int b = 0; b < blocks; ++b) {
    const int count = b < full ? kBlockSize : stagedCount_ % kBlockSize;
    *out++ = static_cast<uint8_t>(count);
    std::memcpy(out, staged_ + b * kBlockSize, size_t(count));
    out += count;
  }
  const int left = all ? 0 : stagedCount_ - full * kBlockSize;
  std::memmove(staged_, staged_ + full * kBlockSize, size_t(left));
  stagedCount_ = left;
  sink_->WriteBytes(size_t(out - framed_), framed_);
}
