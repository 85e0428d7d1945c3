// What one decode may spend. A small file can ask for a lot: a huge declared size, embedded
// bitmaps of a billion pixels, a million drawing records. Three limits keep every decode
// bounded, each on by default and settable per decoder (CPicDecoder::SetLimits):
//
// - pixels: the declared size of the picture the decode returns (the result bitmap);
// - memory: bytes the decode holds besides the result at any one time: embedded bitmaps,
//   pattern brushes, drawing surfaces, row and strip buffers;
// - work: pixels painted by a metafile's drawing records, the picture's own white
//   background included.
//
// The defaults let any file under 1 MiB decode, or be refused, in a few seconds of CPU and
// the result bitmap plus 64 MiB. A refusal is a CTextException of code 10 whose text names
// the limit and the value that passed it ("... over the memory limit of N bytes"), unlike a
// corrupt file's code 2.
#pragma once

#include <cstdint>
#include <string>

struct DecodeLimits {
  // 2^28 pixels: 1 GiB at 32 bits per pixel.
  static constexpr uint64_t kDefaultMaxPixels = uint64_t{1} << 28;
  static constexpr uint64_t kDefaultMaxMemory = uint64_t{64} << 20;
  // About a second of solid fills on this class of machine, eight times the largest
  // picture's background.
  static constexpr uint64_t kDefaultMaxWork = uint64_t{1} << 31;

  uint64_t maxPixels = kDefaultMaxPixels;
  uint64_t maxMemory = kDefaultMaxMemory;
  uint64_t maxWork = kDefaultMaxWork;
};

// The running account of one decode against its limits. Not copyable: reservations refer
// to it.
class CDecodeBudget {
public:
  explicit CDecodeBudget(const DecodeLimits& limits) : limits_(limits) {}
  CDecodeBudget(const CDecodeBudget&) = delete;
  CDecodeBudget& operator=(const CDecodeBudget&) = delete;

  // Reserves working memory; false, and nothing reserved, when it would pass the limit.
  bool TryReserve(uint64_t bytes);
  void Release(uint64_t bytes);
  // As TryReserve, but a refusal raises code 10: "<what> of N bytes is over the memory
  // limit of M bytes (U in use)."
  void Reserve(uint64_t bytes, const char* what);

  // Counts painted pixels; over the work limit raises code 10 ("<what>: drawing work of N
  // pixels is over the work limit of M pixels.").
  void Spend(uint64_t pixels, const char* what);

  const DecodeLimits& Limits() const { return limits_; }
  uint64_t MemoryInUse() const { return inUse_; }
  uint64_t PeakMemory() const { return peak_; }
  uint64_t WorkDone() const { return work_; }

private:
  DecodeLimits limits_;
  uint64_t inUse_ = 0;
  uint64_t peak_ = 0;
  uint64_t work_ = 0;
};

// Working memory held for a scope; released when it ends.
class CBudgetReservation {
public:
  CBudgetReservation(CDecodeBudget& budget, uint64_t bytes, const char* what)
      : budget_(budget), bytes_(bytes) {
    budget_.Reserve(bytes, what);
  }
  ~CBudgetReservation() { budget_.Release(bytes_); }
  CBudgetReservation(const CBudgetReservation&) = delete;
  CBudgetReservation& operator=(const CBudgetReservation&) = delete;

private:
  CDecodeBudget& budget_;
  uint64_t bytes_;
};
