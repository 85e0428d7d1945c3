// The AVI reader and the rescue writer on any input. Beyond not crashing, the rescue must
// keep its promise: whatever frames it finds, the file it writes reads back as finished,
// exactly as long as planned, with the same frames. The last byte picks the RIFF limit
// (1 to 8 KiB), so small inputs also reach the OpenDML layout with extension RIFFs.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "capture/avi/avi_rebuild.h"

namespace {

class VectorSink final : public avi::ByteSink {
 public:
  bool Write(std::span<const uint8_t> b) override {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return true;
  }
  std::vector<uint8_t> bytes;
};

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const avi::MemorySource src(std::span<const uint8_t>(data, size));
  const avi::AviInfo info = avi::ReadAviInfo(src);
  Require(info.riffLength <= size);
  if (info.finished) {
    VectorSink copy;
    Require(avi::CopyPrefix(src, info.riffLength, copy) == avi::RebuildEnd::kDone);
    Require(copy.bytes.size() == info.riffLength);
  }
  if (!info.headerValid) return 0;

  avi::MoviScan scan = avi::ScanMovi(src, info, {});
  const size_t frames = scan.chunks.size();
  if (frames == 0) return 0;
  const uint64_t limit = uint64_t{1024} << (size > 0 ? data[size - 1] % 4 : 0);
  const avi::RebuildPlan plan = avi::PlanRebuild(info, std::move(scan.chunks), limit);
  VectorSink out;
  Require(avi::WriteRebuilt(plan, src, out) == avi::RebuildEnd::kDone);
  Require(out.bytes.size() == plan.totalBytes);

  const avi::MemorySource rebuilt(out.bytes);
  const avi::AviInfo again = avi::ReadAviInfo(rebuilt);
  Require(again.finished);
  Require(again.riffLength == out.bytes.size());
  Require(again.streams.size() == info.streams.size());
  Require(avi::ScanMovi(rebuilt, again, {}).chunks.size() == frames);
  return 0;
}
