#include "imaging/decode/decode_budget.h"

#include <algorithm>
#include <cstdio>

#include "imaging/decode/pic_decoder.h"

bool CDecodeBudget::TryReserve(uint64_t bytes) {
  if (bytes > limits_.maxMemory || inUse_ > limits_.maxMemory - bytes) return false;
  inUse_ += bytes;
  peak_ = std::max(peak_, inUse_);
  return true;
}

void CDecodeBudget::Release(uint64_t bytes) { inUse_ -= std::min(bytes, inUse_); }

void CDecodeBudget::Reserve(uint64_t bytes, const char* what) {
  if (TryReserve(bytes)) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "%s of %llu bytes is over the memory limit of %llu bytes (%llu in use).", what,
                static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(limits_.maxMemory),
                static_cast<unsigned long long>(inUse_));
  CPicDecoder::RaiseError(textexception::kNoMemory, text);
}

void CDecodeBudget::Spend(uint64_t pixels, const char* what) {
  work_ = pixels > UINT64_MAX - work_ ? UINT64_MAX : work_ + pixels;
  if (work_ <= limits_.maxWork) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "%s: drawing work of %llu pixels is over the work limit of %llu pixels.", what,
                static_cast<unsigned long long>(work_),
                static_cast<unsigned long long>(limits_.maxWork));
  CPicDecoder::RaiseError(textexception::kNoMemory, text);
}
