// The reader on hand-built files: what a finished AVI looks like, and each way a file can be
// unfinished or damaged, named by the check that should notice it.
#include "capture/avi/avi_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/capture/avi/hand_avi.h"

namespace avi {
namespace {

using avitest::BuildAvi;
using avitest::HandAvi;

AviInfo Read(const std::vector<uint8_t>& bytes) { return ReadAviInfo(MemorySource(bytes)); }

TEST(AviReader, DescribesAFinishedFile) {
  const HandAvi avi = BuildAvi({100, 41, 0, 7});
  const AviInfo info = Read(avi.bytes);
  EXPECT_TRUE(info.finished) << info.problem;
  EXPECT_TRUE(info.headerValid);
  ASSERT_EQ(info.streams.size(), 1u);
  EXPECT_TRUE(info.streams[0].IsVideo());
  EXPECT_EQ(info.streams[0].handler, FourCC("MJPG"));
  EXPECT_EQ(info.streams[0].length, 4u);
  EXPECT_EQ(info.streams[0].strf.size(), 40u);
  EXPECT_EQ(info.TotalFrames(), 4u);
  EXPECT_EQ(info.Width(), 16u);
  EXPECT_EQ(info.Height(), 8u);
  EXPECT_TRUE(info.hasOdml);
  EXPECT_EQ(info.odmlFrames, 4u);
  EXPECT_TRUE(info.hasIdx1);
  EXPECT_EQ(info.idx1Entries, 4u);
  EXPECT_EQ(info.firstChunk, avi.frameAt[0]);
  ASSERT_EQ(info.riffs.size(), 1u);
  EXPECT_EQ(info.riffLength, avi.bytes.size());
}

// A capture written into a pre-allocated file: reserved zeros (or an older capture's bytes)
// follow the RIFF chain and are not part of the AVI.
TEST(AviReader, RealLengthStopsAtTheEndOfTheRiffChain) {
  HandAvi avi = BuildAvi({64, 64});
  const size_t length = avi.bytes.size();
  avi.bytes.resize(length + 8192, 0);
  AviInfo info = Read(avi.bytes);
  EXPECT_TRUE(info.finished) << info.problem;
  EXPECT_EQ(info.riffLength, length);

  // An extension RIFF follows the first one and counts; the debris after it does not.
  std::vector<uint8_t> avix = {'R', 'I', 'F', 'F', 16, 0, 0, 0, 'A', 'V', 'I', 'X',
                               'L', 'I', 'S', 'T', 4,  0, 0, 0, 'm', 'o', 'v', 'i'};
  avi.bytes.resize(length);
  avi.bytes.insert(avi.bytes.end(), avix.begin(), avix.end());
  avi.bytes.insert(avi.bytes.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 0});
  info = Read(avi.bytes);
  EXPECT_TRUE(info.finished) << info.problem;
  ASSERT_EQ(info.riffs.size(), 2u);
  EXPECT_TRUE(info.riffs[1].extension);
  EXPECT_EQ(info.riffs[1].movi, length + 12);
  EXPECT_EQ(info.riffLength, length + avix.size());
}

struct DamageCase {
  const char* name;
  std::function<void(HandAvi&)> damage;
  const char* problem;  // a piece of the expected reason
  bool headerValid;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class AviReaderDamage : public testing::TestWithParam<DamageCase> {};

TEST_P(AviReaderDamage, IsNotFinished) {
  HandAvi avi = BuildAvi({30, 31, 32});
  GetParam().damage(avi);
  const AviInfo info = Read(avi.bytes);
  EXPECT_FALSE(info.finished);
  EXPECT_NE(info.problem.find(GetParam().problem), std::string::npos) << info.problem;
  EXPECT_EQ(info.headerValid, GetParam().headerValid);
  EXPECT_LE(info.riffLength, avi.bytes.size());
}

const DamageCase kDamage[] = {
    {"KilledWriter", [](HandAvi& a) { a = BuildAvi({30, 31, 32}, false); }, "no index", true},
    {"RiffSizeZero", [](HandAvi& a) { a.Put32(4, 0); }, "RIFF size is zero", true},
    {"CutBeforeTheIndex", [](HandAvi& a) { a.bytes.resize(a.idx1); }, "runs past the end", true},
    {"CutInAFrame", [](HandAvi& a) { a.bytes.resize(a.frameAt[1] + 12); }, "runs past the end", true},
    {"IndexRenamed", [](HandAvi& a) { a.Put32(a.idx1, FourCC("JUNK")); }, "no index", true},
    {"MoviSizePlaceholder",
     [](HandAvi& a) {
       a.Put32(a.movi + 4, 4);
       a.Put32(4, uint32_t(a.bytes.size() - 8));
     },
     "movi list size", true},
    {"MoviPastRiff", [](HandAvi& a) { a.Put32(a.movi + 4, 1u << 20); }, "movi", true},
    {"StreamListPastHeader", [](HandAvi& a) { a.Put32(a.strl + 4, 5000); }, "header list", false},
    {"NoStreamFormat", [](HandAvi& a) { a.Put32(a.strl + 12 + 64, FourCC("strx")); }, "header list", false},
    {"ExtensionSizeZero",
     [](HandAvi& a) { a.bytes.insert(a.bytes.end(), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', 'X'}); },
     "AVIX RIFF size is zero", true},
    {"ExtensionPastData",
     [](HandAvi& a) { a.bytes.insert(a.bytes.end(), {'R', 'I', 'F', 'F', 99, 0, 0, 0, 'A', 'V', 'I', 'X'}); },
     "AVIX RIFF runs past", true},
};

INSTANTIATE_TEST_SUITE_P(Cases, AviReaderDamage, testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AviReader, RefusesWhatIsNotAnAvi) {
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'},
        std::vector<uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V'}}) {
    const AviInfo info = Read(bytes);
    EXPECT_FALSE(info.isAvi);
    EXPECT_FALSE(info.finished);
    EXPECT_EQ(info.problem, "not an AVI file");
    EXPECT_EQ(info.riffLength, 0u);
  }
}

// The header list is read into memory; a size past the limit is refused before allocating.
TEST(AviReader, RefusesAnOversizedHeaderList) {
  HandAvi avi = BuildAvi({8});
  const uint32_t huge = kMaxHeaderBytes + 16;
  avi.bytes.resize(12 + 8 + huge + 64, 0);
  avi.Put32(4, uint32_t(avi.bytes.size() - 8));
  avi.Put32(16, huge);
  const AviInfo info = Read(avi.bytes);
  EXPECT_FALSE(info.headerValid);
  EXPECT_FALSE(info.finished);
  EXPECT_NE(info.problem.find("header list"), std::string::npos) << info.problem;
}

}  // namespace
}  // namespace avi
