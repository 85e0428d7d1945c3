// Pure helpers of the GStreamer backend: caps <-> media types, capability grouping, frame
// intervals, device identities and drop counting.
#include "capture/platform/gst/format_map.h"

#include <gtest/gtest.h>

namespace media::gstmap {
namespace {

struct CodeCase {
  const char* media;
  const char* format;
  Guid subtype;
  uint16_t bits;
  uint32_t compression;
};

class CodeForCapsTest : public testing::TestWithParam<CodeCase> {};

TEST_P(CodeForCapsTest, MapsBothWays) {
  const auto& c = GetParam();
  const auto code = CodeForCaps(c.media, c.format);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(code->subtype, c.subtype);
  EXPECT_EQ(code->bitCount, c.bits);
  EXPECT_EQ(code->compression, c.compression);
  const auto back = CapsForSubtype(c.subtype);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->first, c.media);
  EXPECT_EQ(back->second, c.format);
}

// Subtypes and codes as AVI files and capture drivers name them.
INSTANTIATE_TEST_SUITE_P(
    Formats, CodeForCapsTest,
    testing::Values(CodeCase{"video/x-raw", "BGR", guid::kSubtypeRGB24, 24, 0},
                    CodeCase{"video/x-raw", "BGRx", guid::kSubtypeRGB32, 32, 0},
                    CodeCase{"video/x-raw", "YUY2", guid::kSubtypeYUY2, 16, 0x32595559},
                    CodeCase{"video/x-raw", "I420", guid::kSubtypeI420, 12, 0x30323449},
                    CodeCase{"image/jpeg", "", guid::kSubtypeMJPG, 24, 0x47504A4D}));

TEST(CodeForCapsTest, UnknownFormatsHaveNoCode) {
  EXPECT_FALSE(CodeForCaps("video/x-raw", "P010_10LE").has_value());
  EXPECT_FALSE(CodeForCaps("video/x-h264", "").has_value());
  EXPECT_FALSE(CapsForSubtype(guid::kSubtypeAvi).has_value());
}

TEST(FrameIntervalTest, HundredNanosecondUnits) {
  EXPECT_EQ(FrameInterval(30, 1), 333333);
  EXPECT_EQ(FrameInterval(30000, 1001), 333666);  // NTSC: 1001/30000 s
  EXPECT_EQ(FrameInterval(0, 1), 0);
  EXPECT_EQ(FrameInterval(-5, 1), 0);
  EXPECT_EQ(RateForInterval(333333), (std::pair<int, int>{30, 1}));  // the rate it was rounded from
  EXPECT_EQ(RateForInterval(400000), (std::pair<int, int>{25, 1}));
  EXPECT_EQ(RateForInterval(333667), (std::pair<int, int>{30000, 1001}));
  EXPECT_EQ(RateForInterval(1333333), (std::pair<int, int>{15, 2}));
  EXPECT_EQ(RateForInterval(667111), (std::pair<int, int>{10000000, 667111}));  // 14.99 f/s is exact
  EXPECT_EQ(RateForInterval(0), (std::pair<int, int>{0, 1}));
}

TEST(GroupCapabilitiesTest, MergesRatesOfOneSizeAndDropsUnknownFormats) {
  const std::vector<CapsEntry> entries = {
      {"video/x-raw", "YUY2", 640, 480, 15, 1}, {"video/x-raw", "YUY2", 640, 480, 30, 1},
      {"video/x-raw", "P010_10LE", 640, 480, 30, 1}, {"image/jpeg", "", 1280, 720, 30, 1},
      {"video/x-raw", "YUY2", 320, 240, 30, 1},   {"video/x-raw", "YUY2", 0, 240, 30, 1}};
  const auto caps = GroupCapabilities(entries);
  ASSERT_EQ(caps.size(), 3u);
  EXPECT_EQ(caps[0].entry.width, 640);
  EXPECT_EQ(caps[0].minInterval, 333333);
  EXPECT_EQ(caps[0].maxInterval, 666666);
  EXPECT_EQ(caps[0].entry.fpsNum, 30);  // the capability's own format runs at the fastest rate
  EXPECT_EQ(caps[0].rates, (std::vector<Rate>{{15, 1}, {30, 1}}));
  EXPECT_EQ(caps[1].entry.mediaType, "image/jpeg");
  EXPECT_EQ(caps[2].entry.width, 320);
  const MediaType mt = MediaTypeFor(caps[1].entry);
  ASSERT_TRUE(mt.IsVideoInfo());
  EXPECT_EQ(mt.videoInfo->bmiHeader.biCompression, MakeFourcc('M', 'J', 'P', 'G'));
}

// A wanted interval reaches the device as its own fraction when it is a listed rate rounded;
// any other rate is made by conversion from the slowest listed rate fast enough.
TEST(ListedRateTest, WantedIntervalsMeetTheDevicesFractions) {
  Capability c;
  c.rates = {{30, 1}, {15, 1}, {30000, 1001}, {60, 1}};
  const struct {
    int64_t interval;
    std::optional<Rate> listed;
    Rate source;
  } cases[] = {
      {333333, Rate{30, 1}, {30, 1}},          {333334, Rate{30, 1}, {30, 1}},
      {333666, Rate{30000, 1001}, {30000, 1001}}, {333667, Rate{30000, 1001}, {30000, 1001}},
      {666666, Rate{15, 1}, {15, 1}},          {166666, Rate{60, 1}, {60, 1}},
      {667111, std::nullopt, {15, 1}},          // 14.99 f/s: converted from 15/1
      {400000, std::nullopt, {30000, 1001}},    // 25 f/s
      {100000, std::nullopt, {60, 1}},          // faster than any: from the fastest
  };
  for (const auto& k : cases) {
    EXPECT_EQ(ListedRate(c, k.interval), k.listed) << k.interval;
    EXPECT_EQ(SourceRateFor(c, k.interval), k.source) << k.interval;
  }
  EXPECT_EQ(SourceRateFor(Capability{}, 333333), (Rate{0, 1}));
}

struct IdentityCase {
  DeviceIdentity id;
  const char* expected;
};

class DeviceDisplayNameTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(DeviceDisplayNameTest, UsesTheMostStablePropertyPresent) {
  EXPECT_EQ(DeviceDisplayName(GetParam().id), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Identities, DeviceDisplayNameTest,
    testing::Values(
        IdentityCase{{2, "", "", "", "", "", "", "Lumora Test Camera 3"}, "@device:gst:test:2"},
        IdentityCase{{-1, "A1B2", "046d", "0825", "usb-0000:00:14.0-1", "C270", "/dev/video0", "C270"},
                     "@device:gst:usb:046d:0825:A1B2"},
        IdentityCase{{-1, "", "", "", "usb-0000:00:14.0-1", "C270", "/dev/video2", "C270"},
                     "@device:gst:bus:usb-0000:00:14.0-1:C270"},
        IdentityCase{{-1, "", "", "", "", "", "/dev/video4", "Capture card"}, "@device:gst:name:Capture card"},
        IdentityCase{{-1, "", "", "", "", "", "/dev/video4", ""}, "@device:gst:path:/dev/video4"}));

TEST(DropCounterTest, CountsGapsInSequenceNumbers) {
  DropCounter c;
  for (uint64_t o : {10, 11, 12, 15, 16, 20}) c.Add(o);  // 13, 14, 17, 18, 19 missing
  EXPECT_EQ(c.Dropped(), 5u);
  EXPECT_EQ(c.Seen(), 6u);
  c.Add(3);  // the driver restarted its count: not a loss
  c.Add(4);
  c.Add(DropCounter::kNoOffset);
  c.Add(6);
  EXPECT_EQ(c.Dropped(), 6u);
}

}  // namespace
}  // namespace media::gstmap

namespace media::gstmap {
namespace {

DeviceIdentity V4l2(const std::string& bus, const std::string& path) {
  DeviceIdentity id;
  id.name = "USB Camera";
  id.card = "USB Camera";
  id.busInfo = bus;
  id.path = path;
  return id;
}

TEST(DeviceIdentityTest, OneCameraThroughTwoProvidersIsListedOnce) {
  DeviceIdentity v4l2 = V4l2("usb-0000:00:14.0-1", "/dev/video0");
  DeviceIdentity pipewire = v4l2;  // the same camera as PipeWire describes it
  pipewire.path = "";
  const auto names = DeviceDisplayNames({v4l2, pipewire});
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "@device:gst:bus:usb-0000:00:14.0-1:USB Camera");
  EXPECT_EQ(names[1], "");
}

TEST(DeviceIdentityTest, TwoIdenticalCamerasWithoutSerialsStayTwo) {
  // On the bus: told apart by position.
  auto names = DeviceDisplayNames({V4l2("usb-1", "/dev/video0"), V4l2("usb-2", "/dev/video2")});
  EXPECT_NE(names[0], names[1]);
  EXPECT_FALSE(names[0].empty() || names[1].empty());
  // Known only by name and path: the second is known by its path.
  DeviceIdentity a, b;
  a.name = b.name = "Integrated Camera";
  a.path = "/dev/video0";
  b.path = "/dev/video2";
  names = DeviceDisplayNames({a, b});
  EXPECT_EQ(names[0], "@device:gst:name:Integrated Camera");
  EXPECT_EQ(names[1], "@device:gst:path:/dev/video2");
  // A single one keeps its name, whatever its path is today.
  EXPECT_EQ(DeviceDisplayNames({b})[0], "@device:gst:name:Integrated Camera");
}

// A device listing 30 and 15 fps offers the rates between; a single rate is offered alone;
// a rate already at an edge (one off by rounding) is not offered twice.
TEST(OfferedIntervalsTest, UsualRatesInsideTheRange) {
  EXPECT_EQ(OfferedIntervals(333333, 666667), (std::vector<int64_t>{333333, 400000, 416666, 500000, 666667}));
  EXPECT_EQ(OfferedIntervals(333334, 333334), (std::vector<int64_t>{333334}));
  EXPECT_EQ(OfferedIntervals(166667, 2000000).front(), 166667);
  EXPECT_EQ(OfferedIntervals(166667, 2000000).back(), 2000000);
  EXPECT_EQ(OfferedIntervals(166667, 2000000).size(), 10u);
  EXPECT_TRUE(OfferedIntervals(0, 0).empty());
}

}  // namespace
}  // namespace media::gstmap
