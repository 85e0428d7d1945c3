// Rescuing unfinished files in memory: which chunks the walk keeps, and whether the rebuilt
// file's indexes lead to every frame. The indexes are followed here by the rules of the
// format (idx1 offsets from the "movi" list, standard-index offsets from their base), so
// a wrong offset shows up even where a player would fall back to scanning the file.
#include "capture/avi/avi_rebuild.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/capture/avi/hand_avi.h"

namespace avi {
namespace {

using avitest::BuildAvi;
using avitest::FramePayload;
using avitest::HandAvi;

class VectorSink final : public ByteSink {
 public:
  explicit VectorSink(size_t failAfter = SIZE_MAX) : failAfter_(failAfter) {}
  bool Write(std::span<const uint8_t> b) override {
    if (bytes.size() + b.size() > failAfter_) return false;
    bytes.insert(bytes.end(), b.begin(), b.end());
    return true;
  }
  std::vector<uint8_t> bytes;

 private:
  size_t failAfter_;
};

MoviScan Scan(const std::vector<uint8_t>& bytes) {
  const MemorySource src(bytes);
  return ScanMovi(src, ReadAviInfo(src), {});
}

std::vector<uint8_t> Rebuild(const std::vector<uint8_t>& bytes, uint64_t limit, RebuildPlan* planOut = nullptr) {
  const MemorySource src(bytes);
  const AviInfo info = ReadAviInfo(src);
  EXPECT_TRUE(info.headerValid);
  RebuildPlan plan = PlanRebuild(info, ScanMovi(src, info, {}).chunks, limit);
  VectorSink sink;
  EXPECT_EQ(WriteRebuilt(plan, src, sink), RebuildEnd::kDone);
  EXPECT_EQ(sink.bytes.size(), plan.totalBytes);
  if (planOut) *planOut = std::move(plan);
  return sink.bytes;
}

// Frame `frame` of the hand-built source is a "00dc" chunk at `at` holding its payload.
void ExpectFrameAt(const std::vector<uint8_t>& file, uint64_t at, size_t frame, uint32_t size) {
  ASSERT_LE(at + 8 + size, file.size());
  EXPECT_EQ(Le32(file.data() + at), FourCC("00dc"));
  ASSERT_EQ(Le32(file.data() + at + 4), size);
  const std::vector<uint8_t> payload(file.begin() + long(at + 8), file.begin() + long(at + 8 + size));
  EXPECT_EQ(payload, FramePayload(frame, size)) << "frame " << frame;
}

// Follows idx1 over the frames of the first RIFF.
void ExpectIdx1Leads(const std::vector<uint8_t>& file, const std::vector<uint32_t>& sizes, size_t firstRiffFrames) {
  const MemorySource src(file);
  const AviInfo info = ReadAviInfo(src);
  ASSERT_EQ(info.idx1Entries, firstRiffFrames);
  const uint64_t moviBody = info.riffs[0].movi + 8;
  const uint64_t idx1 = info.riffs[0].movi + 8 + info.riffs[0].moviSize + (info.riffs[0].moviSize & 1);
  ASSERT_EQ(Le32(file.data() + idx1), FourCC("idx1"));
  for (size_t i = 0; i < firstRiffFrames; ++i) {
    const uint8_t* e = file.data() + idx1 + 8 + 16 * i;
    EXPECT_EQ(Le32(e), FourCC("00dc"));
    EXPECT_EQ(Le32(e + 4), sizes[i] > 0 ? 0x10u : 0u);  // key frame flag
    EXPECT_EQ(Le32(e + 12), sizes[i]);
    ExpectFrameAt(file, moviBody + Le32(e + 8), i, sizes[i]);
  }
}

// Follows the super-index of stream 0 to each standard index and on to every frame.
void ExpectSuperIndexLeads(const std::vector<uint8_t>& file, const std::vector<uint32_t>& sizes, size_t riffs) {
  const std::string text(file.begin(), file.begin() + long(std::min<size_t>(file.size(), 4096)));
  const size_t indx = text.find("indx");
  ASSERT_NE(indx, std::string::npos);
  const uint8_t* h = file.data() + indx + 8;
  ASSERT_EQ(Le16(h), 4);    // longs per entry
  ASSERT_EQ(h[3], 0);       // an index of indexes
  ASSERT_EQ(Le32(h + 4), riffs);
  EXPECT_EQ(Le32(h + 8), FourCC("00dc"));
  size_t frame = 0;
  for (size_t r = 0; r < riffs; ++r) {
    const uint8_t* entry = h + 24 + 16 * r;
    const uint64_t ix = Le64(entry);
    ASSERT_LE(ix + 32, file.size());
    ASSERT_EQ(Le32(file.data() + ix), FourCC("ix00"));
    EXPECT_EQ(Le32(entry + 8), Le32(file.data() + ix + 4) + 8);  // size of the whole chunk
    const uint8_t* s = file.data() + ix + 8;
    ASSERT_EQ(s[3], 1);  // an index of chunks
    const uint32_t n = Le32(s + 4);
    EXPECT_EQ(Le32(entry + 12), n);  // duration in frames
    const uint64_t base = Le64(s + 12);
    EXPECT_EQ(Le32(file.data() + base), FourCC("RIFF"));
    for (uint32_t k = 0; k < n; ++k, ++frame) {
      ASSERT_LT(frame, sizes.size());
      const uint32_t size = Le32(s + 24 + 8 * k + 4);
      EXPECT_EQ(size & 0x7fffffff, sizes[frame]);
      ExpectFrameAt(file, base + Le32(s + 24 + 8 * k) - 8, frame, sizes[frame]);
    }
  }
  EXPECT_EQ(frame, sizes.size());
}

struct ScanCase {
  const char* name;
  std::function<void(HandAvi&)> damage;
  size_t chunks;
  const char* stop;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class AviScan : public testing::TestWithParam<ScanCase> {};

TEST_P(AviScan, KeepsEveryWholeFrame) {
  HandAvi avi = BuildAvi({40, 41, 42, 43, 44}, false);
  GetParam().damage(avi);
  const MoviScan scan = Scan(avi.bytes);
  ASSERT_EQ(scan.chunks.size(), GetParam().chunks);
  EXPECT_NE(scan.stop.find(GetParam().stop), std::string::npos) << scan.stop;
  for (size_t i = 0; i < scan.chunks.size(); ++i) EXPECT_EQ(scan.chunks[i].size, 40 + i);
}

const ScanCase kScan[] = {
    {"UpToTheEnd", [](HandAvi&) {}, 5, "end of file"},
    {"CutInAFrame", [](HandAvi& a) { a.bytes.resize(a.frameAt[3] + 20); }, 3, "cut short"},
    {"CutInAHeader", [](HandAvi& a) { a.bytes.resize(a.frameAt[3] + 5); }, 3, "end of file"},
    {"ReservedZeros", [](HandAvi& a) { a.bytes.resize(a.bytes.size() + 4096, 0); }, 5, "cleared"},
    {"GarbageId", [](HandAvi& a) { a.Put32(a.frameAt[3], 0xFFFF0000u); }, 3, "damaged"},
    {"ChunkPastTheFile", [](HandAvi& a) { a.Put32(a.frameAt[2] + 4, 1u << 30); }, 2, "cut short"},
    {"UnknownStreamSkipped", [](HandAvi& a) { a.Put32(a.frameAt[4], FourCC("07dc")); }, 4, "end of file"},
    {"IntoAnExtension",
     [](HandAvi& a) {
       const std::vector<uint8_t> more = {'i', 'x', '0', '0', 2, 0, 0, 0, 9, 9, 'R', 'I', 'F', 'F', 0, 0, 0, 0,
                                          'A', 'V', 'I', 'X', 'L', 'I', 'S', 'T', 0, 0, 0, 0, 'm', 'o', 'v', 'i'};
       const auto frame = BuildAvi({44, 45}, false);
       a.bytes.resize(a.frameAt[4]);  // frame 4 again, then 45, behind an index and a new RIFF
       a.bytes.insert(a.bytes.end(), more.begin(), more.end());
       a.bytes.insert(a.bytes.end(), frame.bytes.begin() + long(frame.frameAt[0]), frame.bytes.end());
     },
     6, "end of file"},
};

INSTANTIATE_TEST_SUITE_P(Cases, AviScan, testing::ValuesIn(kScan),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AviRebuild, UnfinishedFileBecomesAFinishedPlainAvi) {
  const std::vector<uint32_t> sizes = {100, 33, 0, 250, 7, 64};
  const HandAvi source = BuildAvi(sizes, false);
  RebuildPlan plan;
  const std::vector<uint8_t> file = Rebuild(source.bytes, kDefaultRiffLimit, &plan);
  EXPECT_FALSE(plan.openDml);
  EXPECT_EQ(plan.videoFrames, sizes.size());

  const AviInfo info = ReadAviInfo(MemorySource(file));
  ASSERT_TRUE(info.finished) << info.problem;
  EXPECT_EQ(info.riffs.size(), 1u);
  EXPECT_EQ(info.riffLength, file.size());
  EXPECT_EQ(info.TotalFrames(), sizes.size());
  EXPECT_EQ(info.odmlFrames, sizes.size());
  ASSERT_EQ(info.streams.size(), 1u);
  EXPECT_EQ(info.streams[0].length, sizes.size());
  EXPECT_EQ(info.streams[0].strf, ReadAviInfo(MemorySource(source.bytes)).streams[0].strf);
  EXPECT_EQ(Le32(info.avih.data() + 12) & kAvifHasIndex, kAvifHasIndex);
  EXPECT_EQ(Le32(info.avih.data() + 28), 250u);  // suggested buffer: the largest frame
  ExpectIdx1Leads(file, sizes, sizes.size());
}

// Past the RIFF limit the copy is OpenDML: the first RIFF keeps idx1 for its own frames and
// every RIFF ends its movi list with a standard index the super-index points at.
TEST(AviRebuild, LargeRescueSplitsIntoExtensionRiffs) {
  std::vector<uint32_t> sizes;
  for (uint32_t i = 0; i < 40; ++i) sizes.push_back(280 + i % 3);
  const HandAvi source = BuildAvi(sizes, false);
  RebuildPlan plan;
  const std::vector<uint8_t> file = Rebuild(source.bytes, 2048, &plan);
  ASSERT_TRUE(plan.openDml);

  const AviInfo info = ReadAviInfo(MemorySource(file));
  ASSERT_TRUE(info.finished) << info.problem;
  ASSERT_GE(info.riffs.size(), 5u);
  for (size_t r = 0; r < info.riffs.size(); ++r) {
    EXPECT_EQ(info.riffs[r].extension, r > 0);
    // The limit counts frames and indexes; the first RIFF also holds the header list.
    EXPECT_LE(info.riffs[r].size - (r == 0 ? info.riffs[0].movi : 0), 2048u + 300u) << "RIFF " << r;
  }
  EXPECT_EQ(info.riffLength, file.size());
  EXPECT_EQ(info.streams[0].superIndexEntries, info.riffs.size());
  EXPECT_EQ(info.streams[0].length, sizes.size());
  EXPECT_EQ(info.odmlFrames, sizes.size());
  EXPECT_EQ(info.TotalFrames(), plan.segments[0].count);
  ExpectIdx1Leads(file, sizes, plan.segments[0].count);
  ExpectSuperIndexLeads(file, sizes, info.riffs.size());

  // The same file cut in the second frame of its last RIFF, whose size was never written:
  // the whole frames of every RIFF are found again, past the index chunks between them.
  const size_t lastFirst = plan.segments.back().first;
  const uint64_t cutAt = info.riffs.back().movi + 12 + 8 + sizes[lastFirst] + (sizes[lastFirst] & 1) + 20;
  std::vector<uint8_t> cut(file.begin(), file.begin() + long(cutAt));
  PutLe32(cut.data() + info.riffs.back().offset + 4, 0);
  EXPECT_FALSE(ReadAviInfo(MemorySource(cut)).finished);
  const size_t kept = lastFirst + 1;
  const MoviScan rescan = Scan(cut);
  EXPECT_EQ(rescan.chunks.size(), kept);
  const std::vector<uint8_t> again = Rebuild(cut, 2048);
  EXPECT_TRUE(ReadAviInfo(MemorySource(again)).finished);
  ExpectSuperIndexLeads(again, std::vector<uint32_t>(sizes.begin(), sizes.begin() + long(kept)),
                        ReadAviInfo(MemorySource(again)).riffs.size());
}

TEST(AviRebuild, ReportsASinkThatStopsAndASourceThatShrank) {
  const HandAvi source = BuildAvi({500, 500, 500}, false);
  const MemorySource src(source.bytes);
  const AviInfo info = ReadAviInfo(src);
  const RebuildPlan plan = PlanRebuild(info, ScanMovi(src, info, {}).chunks, kDefaultRiffLimit);

  VectorSink full(plan.totalBytes - 1);
  EXPECT_EQ(WriteRebuilt(plan, src, full), RebuildEnd::kSinkStopped);

  const MemorySource shorter(std::span<const uint8_t>(source.bytes).first(source.frameAt[2] + 100));
  VectorSink sink;
  EXPECT_EQ(WriteRebuilt(plan, shorter, sink), RebuildEnd::kSourceShort);
}

TEST(AviRebuild, ScanPollsTheAbortFlag) {
  const HandAvi source = BuildAvi({10, 10}, false);
  const MemorySource src(source.bytes);
  const MoviScan scan = ScanMovi(src, ReadAviInfo(src), [] { return true; });
  EXPECT_TRUE(scan.aborted);
  EXPECT_TRUE(scan.chunks.empty());
}

}  // namespace
}  // namespace avi
