// Where the playback window goes: all of it on the screen of the main window when it opens,
// and still all of it on screen after the video resizes it or full screen ends. On the
// offscreen platform the test sets up two screens side by side, the first 1600 x 1000.
#include <QMainWindow>
#include <QScreen>
#include <QTemporaryFile>

#include "playback/open_playback_window.h"
#include "playback/window_placement.h"
#include "tests/playback/playback_fixture.h"

namespace {

TEST(PlaceInsideTest, MovesTheLeastThatBringsTheFrameOnScreen) {
  const QRect second(1600, 0, 1280, 1024);
  const struct {
    QRect frame, available;
    QPoint expected;
  } cases[] = {
      {{100, 100, 324, 265}, {0, 0, 1600, 1000}, {100, 100}},       // inside: stays
      {{600, 900, 324, 265}, {0, 0, 1600, 1000}, {600, 735}},       // below the bottom
      {{1500, 40, 324, 265}, {0, 0, 1600, 1000}, {1276, 40}},       // past the right edge
      {{-50, -20, 324, 265}, {0, 30, 1600, 970}, {0, 30}},          // above a top panel
      {{1276, 900, 644, 505}, second, {1600, 519}},                 // onto the other screen
      {{300, 700, 2000, 1100}, {0, 0, 1600, 1000}, {0, 0}},         // larger: top-left shown
      {{2000, 10, 1400, 900}, second, {1600, 10}},                  // wider than the screen
  };
  for (const auto& c : cases)
    EXPECT_EQ(playback::PlaceInside(c.frame, c.available), c.expected)
        << c.frame.x() << "," << c.frame.y();
}

class PlaybackPlacementTest : public playbacktest::PlaybackFixture {
 protected:
  static void SetUpTestSuite() {
    // Two screens for the offscreen platform, given before the application starts.
    if (!QCoreApplication::instance() && qgetenv("QT_QPA_PLATFORM") == "offscreen") {
      static QTemporaryFile config;
      if (config.open()) {
        config.write(R"({"screens": [
          {"name": "left", "x": 0, "y": 0, "width": 1600, "height": 1000},
          {"name": "right", "x": 1600, "y": 0, "width": 1280, "height": 1024}]})");
        config.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
      }
    }
    PlaybackFixture::SetUpTestSuite();
  }

  // The whole window lies on the screen that holds the centre of `of`.
  void ExpectOnScreenOf(const QWidget& of, const char* when) {
    QScreen* screen = QGuiApplication::screenAt(of.frameGeometry().center());
    ASSERT_NE(screen, nullptr) << when;
    EXPECT_TRUE(screen->availableGeometry().contains(window_->frameGeometry()))
        << when << ": window " << window_->frameGeometry().x() << ","
        << window_->frameGeometry().y() << " " << window_->frameGeometry().width() << "x"
        << window_->frameGeometry().height() << " on " << screen->name().toStdString();
  }

  QMainWindow main_;
};

TEST_F(PlaybackPlacementTest, StaysOnScreenWhenTheVideoResizesIt) {
  const QRect area = QGuiApplication::screens().front()->availableGeometry();
  // The main window sits low on the first screen; the window system opens the small playback
  // window centred over it, and the clip then makes it larger.
  main_.setGeometry(area.center().x() - 200, area.bottom() - 150, 400, 140);
  main_.show();
  window_ = new CPlaybackWnd(&main_, res::kPlaybackMenuEnglish);
  window_->move(main_.frameGeometry().center() - QPoint(50, 50));
  window_->show();
  window_->SetClipName(playbacktest::MjpegAvi(60));
  window_->OnCommand(cmd::kPlayOpenClip);
  ASSERT_EQ(window_->PlayState(), playback::kRunning);
  ASSERT_EQ(window_->size(), QSize(320, 240));
  ExpectOnScreenOf(main_, "opened");
  window_->OnKey(Qt::Key_D);
  ASSERT_EQ(window_->size(), QSize(640, 480));
  ExpectOnScreenOf(main_, "double size");

  // Full screen and back leaves the window where it was.
  const QRect before = window_->frameGeometry();
  window_->OnKey(Qt::Key_F);
  ASSERT_TRUE(window_->FullScreen());
  window_->OnKey(Qt::Key_Escape);
  ASSERT_FALSE(window_->FullScreen());
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->frameGeometry(), before);

  // Closing the clip shrinks the window to the player size in place.
  window_->OnKey(Qt::Key_Q);
  ExpectOnScreenOf(main_, "no clip");
}

TEST_F(PlaybackPlacementTest, OpensOnTheMainWindowsScreen) {
  if (QGuiApplication::screens().size() < 2) GTEST_SKIP() << "one screen only";
  const QRect area = QGuiApplication::screens()[1]->availableGeometry();
  // In the bottom right corner of the second screen.
  main_.setGeometry(area.right() - 300, area.bottom() - 120, 300, 120);
  main_.show();
  OpenPlaybackWindow(&main_, playbacktest::MjpegAvi(60));
  window_ = CPlaybackWnd::Find();
  ASSERT_NE(window_, nullptr);
  ExpectOnScreenOf(main_, "shown");
  ASSERT_TRUE(livetest::WaitFor([&] { return window_->PlayState() == playback::kRunning; }));
  ExpectOnScreenOf(main_, "playing");
  window_->OnKey(Qt::Key_D);
  ExpectOnScreenOf(main_, "double size");
}

}  // namespace
