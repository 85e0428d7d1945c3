#include "playback/playback_title.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using playback::TitleState;

struct TitleCase {
  TitleState state;
  const char* expected;
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << '"' << c.expected << '"'; }

class PlaybackTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(PlaybackTitleTest, FormatsStateIntoTitle) {
  EXPECT_EQ(playback::PlaybackTitle(GetParam().state), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    States, PlaybackTitleTest,
    testing::Values(
        TitleCase{{"", false, 0, playback::kRunning, 2.0}, "Reelview Media Player"},
        TitleCase{{"/home/u/cap.avi", false, 0, playback::kRunning, 1.0}, "cap.avi [Video] "},
        TitleCase{{"C:\\clips\\song.wav", true, 0, playback::kStopped, 1.0}, "song.wav [Audio] "},
        TitleCase{{"plain.avi", false, -10000, playback::kPaused, 1.5},
                  "plain.avi [Video] (Muted)(Paused)(Rate:1.50)"},
        TitleCase{{"a/b\\c.mp4", false, -5000, playback::kRunning, 0.25},
                  "c.mp4 [Video] (Rate:0.25)"},
        // A path ending in a separator names no file; the brackets still follow.
        TitleCase{{"/tmp/", true, 0, playback::kRunning, 1.0}, " [Audio] "}));

TEST(PlaybackTitle, LongPathIsNotCut) {
  const std::string name(600, 'x');
  const std::string title = playback::PlaybackTitle({"/d/" + name, false, 0, playback::kRunning, 1.0});
  EXPECT_EQ(title, name + " [Video] ");
}

}  // namespace
