// Opening the window from the main window's command, the running-graph registration, and
// clips written by other programs.
#include <unistd.h>

#include <QMainWindow>

#include "playback/open_playback_window.h"
#include "playback/running_objects.h"
#include "tests/playback/playback_fixture.h"

namespace {

using playbacktest::PlaybackFixture;

class PlaybackOpenTest : public PlaybackFixture {};

TEST_F(PlaybackOpenTest, VideoPlaybackPlaysTheCaptureFileAtOnceAndRegistersTheGraph) {
  QMainWindow main;
  main.show();
  const std::string clip = playbacktest::MjpegAvi(60);
  OpenPlaybackWindow(&main, clip);
  window_ = CPlaybackWnd::Find();
  ASSERT_NE(window_, nullptr);
  EXPECT_EQ(window_->objectName(), "PlayBackWnd");
  EXPECT_EQ(window_->windowTitle(), "PlayBack Window");  // until the posted Open runs
  EXPECT_EQ(window_->parentWidget(), &main);
  ASSERT_TRUE(livetest::WaitFor([&] { return window_->PlayState() == playback::kRunning; }));
  EXPECT_TRUE(fileDialogs_.empty());
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] ");
  ASSERT_TRUE(livetest::WaitFor(
      [&] { return static_cast<CPlaybackWnd*>(window_)->Graph()->Frames()->framesReceived > 3; }));

  // The playing graph is found under its name while it plays, and gone after the clip closes.
  GstElement* pipeline = window_->Graph()->Pipeline();
  const std::string name = playback::GraphRegistrationName(pipeline, getpid());
  EXPECT_EQ(name.rfind("FilterGraph ", 0), 0u);
  EXPECT_EQ(name.size(), std::string("FilterGraph 12345678 pid 12345678").size());
  EXPECT_EQ(playback::FindRegisteredGraph(name), pipeline);
  EXPECT_STREQ(GST_OBJECT_NAME(pipeline), name.c_str());
  window_->OnCommand(cmd::kFileClose);
  EXPECT_EQ(playback::FindRegisteredGraph(name), nullptr);

  // A second request replaces the window instead of leaving the first one's graph behind.
  QPointer<CPlaybackWnd> first = window_;
  OpenPlaybackWindow(&main, "");
  window_ = CPlaybackWnd::Find();
  EXPECT_NE(window_, first);
  EXPECT_FALSE(first->isVisible());
  EXPECT_EQ(first->Graph(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull());
  ASSERT_TRUE(livetest::WaitFor([&] { return !fileDialogs_.empty(); }, 5000));
}

// Clips written by another program play as video in the window.
struct ForeignClip {
  const char* file;
  const char* codecs;  // ffmpeg's encoder options
};

void PrintTo(const ForeignClip& c, std::ostream* os) { *os << c.file; }

class ForeignClipTest : public PlaybackFixture, public testing::WithParamInterface<ForeignClip> {};

TEST_P(ForeignClipTest, PlaysAsVideo) {
  if (livetest::Shell("command -v ffmpeg").empty()) GTEST_SKIP() << "ffmpeg not installed";
  const std::string path = playbacktest::MediaPath(GetParam().file);
  if (::access(path.c_str(), R_OK) != 0) {
    const std::string part = path + "." + std::to_string(::getpid()) + "." + GetParam().file;
    livetest::Shell(std::string("ffmpeg -loglevel error -y -f lavfi -i "
                                "testsrc=duration=0.5:size=320x240:rate=30 -f lavfi -i "
                                "sine=duration=0.5 -pix_fmt yuv420p ") +
                    GetParam().codecs + " '" + part + "' 2>&1 && mv '" + part + "' '" + path + "'");
  }
  if (::access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "ffmpeg cannot write " << path;
  Open(path);
  if (!shown_.empty() && shown_[0].text.startsWith("FAILED(hr=0x80040218)"))
    GTEST_SKIP() << "no decoder installed for " << path;
  ASSERT_TRUE(shown_.empty()) << shown_.front().text.toStdString();
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
  EXPECT_FALSE(window_->AudioOnly());
  EXPECT_EQ(window_->size(), QSize(320, 240));
  ASSERT_TRUE(livetest::WaitFor([&] { return window_->Graph()->Frames()->framesReceived > 3; }));
  // It has sound too, so mute works.
  window_->OnKey(Qt::Key_M);
  EXPECT_EQ(window_->Volume(), -10000);
}

INSTANTIATE_TEST_SUITE_P(Containers, ForeignClipTest,
                         testing::Values(ForeignClip{"mjpeg.avi", "-c:v mjpeg -c:a pcm_s16le"},
                                         ForeignClip{"h264.mp4", "-c:v libx264 -c:a aac"},
                                         ForeignClip{"vp8.webm", "-c:v libvpx -c:a libvorbis"}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           for (char& c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

}  // namespace
