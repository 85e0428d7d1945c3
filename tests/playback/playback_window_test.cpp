// The playback window driven by its keys and commands on real clips.
#include <QAction>

#include "tests/playback/playback_fixture.h"

namespace {

using playbacktest::PlaybackFixture;

constexpr int kPlaybackItems[] = {cmd::kPlayPausePlay,    cmd::kPlayStop,
                                  cmd::kPlayDoubleSize,   cmd::kPlayNormalSize,
                                  cmd::kPlayFullScreen,   cmd::kPlayRateIncrease,
                                  cmd::kPlayRateDecrease, cmd::kPlayRateNormal,
                                  cmd::kPlayRateHalf,     cmd::kPlayRateDouble};

class PlaybackWindowTest : public PlaybackFixture {
 protected:
  void ExpectNoClip() {
    EXPECT_EQ(window_->PlayState(), playback::kNoClip);
    EXPECT_EQ(window_->Graph(), nullptr);
    EXPECT_EQ(window_->VideoWidget(), nullptr);
    EXPECT_EQ(Title(), "Reelview Media Player");
    EXPECT_EQ(window_->frameGeometry().size(), QSize(240, 120));  // frame included
    for (int id : kPlaybackItems) EXPECT_FALSE(window_->Action(id)->isEnabled()) << id;
    EXPECT_TRUE(window_->Action(cmd::kPlayOpenClip)->isEnabled());
  }
  double Volume() const {
    double volume = -1;
    g_object_get(window_->Graph()->Pipeline(), "volume", &volume, nullptr);
    return volume;
  }
};

TEST_F(PlaybackWindowTest, AudioClipPlaysInSmallWindowWithItemsGreyedAndMuteToggles) {
  const std::string wav = playbacktest::ToneWav();
  Open(wav);
  ASSERT_TRUE(shown_.empty()) << shown_.front().text.toStdString();
  EXPECT_TRUE(window_->AudioOnly());
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
  EXPECT_EQ(Title(), "tone.wav [Audio] ");
  EXPECT_EQ(window_->frameGeometry().size(), QSize(240, 120));
  EXPECT_LT(window_->size().height(), 120);  // the frame takes its share
  for (int id : kPlaybackItems) EXPECT_FALSE(window_->Action(id)->isEnabled()) << id;
  EXPECT_EQ(window_->VideoWidget(), nullptr);

  // The keys still work on a greyed menu.
  Key(Qt::Key_M);
  EXPECT_EQ(Title(), "tone.wav [Audio] (Muted)");
  EXPECT_EQ(window_->Volume(), -10000);
  EXPECT_EQ(Volume(), 0.0);
  Key(Qt::Key_M);
  EXPECT_EQ(Title(), "tone.wav [Audio] ");
  EXPECT_EQ(window_->Volume(), 0);
  EXPECT_DOUBLE_EQ(Volume(), 1.0);
  // Frame steps and full screen need video: nothing happens.
  Key(Qt::Key_Space);
  Key(Qt::Key_F);
  EXPECT_FALSE(window_->FullScreen());
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
}

TEST_F(PlaybackWindowTest, RateKeysStepByQuarterAndDownRestoresNormal) {
  Open(playbacktest::MjpegAvi(60));
  ASSERT_EQ(window_->PlayState(), playback::kRunning);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] ");
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] (Rate:1.50)");
  Key(Qt::Key_Left);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] (Rate:1.25)");
  Key(Qt::Key_Down);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] ");
  window_->OnCommand(cmd::kPlayRateHalf);
  EXPECT_DOUBLE_EQ(window_->Rate(), 0.5);
  // The graph refuses a rate of zero: the rate and title stay.
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  EXPECT_DOUBLE_EQ(window_->Rate(), 0.25);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] (Rate:0.25)");
  // Mute on a clip without sound ends quietly.
  Key(Qt::Key_M);
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(window_->Volume(), 0);
}

TEST_F(PlaybackWindowTest, PauseStopAndStepWhileStoppedStartsAndStepsThreeFrames) {
  Open(playbacktest::MjpegAvi(60));
  ASSERT_EQ(window_->PlayState(), playback::kRunning);
  Key(Qt::Key_P);
  EXPECT_EQ(window_->PlayState(), playback::kPaused);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] (Paused)");
  Key(Qt::Key_S);
  EXPECT_EQ(window_->PlayState(), playback::kStopped);
  EXPECT_EQ(Title(), "mjpeg60.avi [Video] ");
  ASSERT_TRUE(livetest::WaitFor([&] { return PositionMs() == 0; }, 10000));

  Key(Qt::Key_3);
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
  ASSERT_TRUE(livetest::WaitFor([&] { return window_->Graph()->StepsCompleted() == 1; }, 10000));
  // Three frames of 33 ms on (one more may slip by between the start and the pause).
  const gint64 at = PositionMs();
  EXPECT_GE(at, 2 * 33);
  EXPECT_LE(at, 5 * 34);
}

TEST_F(PlaybackWindowTest, FinishedClipStartsAgainFromTheBeginning) {
  Open(playbacktest::MjpegAvi(15));  // half a second
  ASSERT_EQ(window_->PlayState(), playback::kRunning);
  const auto& frames = window_->Graph()->Frames();
  // More frames than the clip holds arrive only when it plays again after its end.
  ASSERT_TRUE(livetest::WaitFor([&] { return frames->framesReceived > 40; }, 20000));
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(PlaybackWindowTest, SizeKeysFollowTheVideo) {
  Open(playbacktest::MjpegAvi(60));
  ASSERT_FALSE(window_->AudioOnly());
  EXPECT_EQ(window_->size(), QSize(320, 240));
  EXPECT_TRUE(window_->Action(cmd::kPlayNormalSize)->isChecked());
  Key(Qt::Key_D);
  EXPECT_EQ(window_->size(), QSize(640, 480));
  EXPECT_TRUE(window_->Action(cmd::kPlayDoubleSize)->isChecked());
  EXPECT_FALSE(window_->Action(cmd::kPlayNormalSize)->isChecked());
  Key(Qt::Key_T);
  EXPECT_EQ(window_->size(), QSize(240, 180));
  EXPECT_FALSE(window_->Action(cmd::kPlayDoubleSize)->isChecked());
  EXPECT_FALSE(window_->Action(cmd::kPlayNormalSize)->isChecked());
  Key(Qt::Key_H);  // 160 x 120, held at the minimum width (frame included)
  EXPECT_EQ(window_->frameGeometry().width(), 200);
  EXPECT_EQ(window_->height(), 120);
  Key(Qt::Key_N);
  EXPECT_EQ(window_->size(), QSize(320, 240));
  EXPECT_TRUE(window_->Action(cmd::kPlayNormalSize)->isChecked());
}

TEST_F(PlaybackWindowTest, FullScreenLeftByEscapeAndByToggle) {
  Open(playbacktest::MjpegAvi(60));
  QWidget* video = window_->VideoWidget();
  ASSERT_NE(video, nullptr);
  Key(Qt::Key_Return);
  EXPECT_TRUE(window_->FullScreen());
  EXPECT_TRUE(video->isWindow());
  // Keys pressed on the full-screen video still reach the window.
  QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QCoreApplication::sendEvent(video, &right);
  EXPECT_DOUBLE_EQ(window_->Rate(), 1.25);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(video, &escape);
  EXPECT_FALSE(window_->FullScreen());
  EXPECT_FALSE(video->isWindow());
  EXPECT_EQ(window_->PlayState(), playback::kRunning);  // Escape left full screen only

  Key(Qt::Key_F);
  EXPECT_TRUE(window_->FullScreen());
  window_->OnCommand(cmd::kPlayFullScreen);
  EXPECT_FALSE(window_->FullScreen());
  // Closing the clip in full screen takes the video window with it.
  Key(Qt::Key_F);
  Key(Qt::Key_Q);
  ExpectNoClip();
  EXPECT_FALSE(window_->FullScreen());
}

TEST_F(PlaybackWindowTest, EscapeClosesTheClip) {
  Open(playbacktest::MjpegAvi(60));
  ASSERT_EQ(window_->PlayState(), playback::kRunning);
  ASSERT_NE(window_->RegistrationCookie(), 0u);
  Key(Qt::Key_Escape);
  ExpectNoClip();
  EXPECT_EQ(window_->RegistrationCookie(), 0u);
}

TEST_F(PlaybackWindowTest, UpperCasePlaylistNameIsRefused) {
  pick_ = playbacktest::MediaPath("LIST.ASX");
  livetest::Shell("echo '<asx/>' > '" + pick_ + "'");
  Open("");
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_EQ(fileDialogs_[0], "Open Media File...");
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].caption, "Reelview Sample");
  EXPECT_EQ(shown_[0].text,
            "ASX Playlists are not supported by this application.\n\n"
            "Please select a valid media file.");
  ExpectNoClip();
}

TEST_F(PlaybackWindowTest, OpenDialogOffersTheMediaFiltersAndCancelKeepsNoClip) {
  Open("");
  ASSERT_EQ(fileDialogs_.size(), 1u);
  ASSERT_EQ(filters_.size(), 5);
  EXPECT_TRUE(filters_[0].startsWith("Video Files (*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v) ("));
  EXPECT_TRUE(filters_[0].contains("*.AVI"));
  EXPECT_TRUE(filters_[4].startsWith("All Files (*.*) (*)"));
  EXPECT_TRUE(shown_.empty());
  ExpectNoClip();

  // Open from the menu again, this time choosing a clip.
  pick_ = playbacktest::RawAvi();
  window_->Action(cmd::kPlayOpenClip)->trigger();
  EXPECT_EQ(window_->PlayState(), playback::kRunning);
  EXPECT_EQ(Title(), "raw.avi [Video] ");
  EXPECT_EQ(window_->frameGeometry().width(), 200);  // 176 wide, held at the minimum
  EXPECT_EQ(window_->height(), 144);
}

TEST_F(PlaybackWindowTest, FileThatCannotBeRenderedShowsRenderFileFailure) {
  const std::string bad = playbacktest::MediaPath("notes.avi");
  livetest::Shell("echo 'not a video' > '" + bad + "'");
  Open(bad);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].caption, "Reelview Sample");
  EXPECT_TRUE(shown_[0].text.startsWith("FAILED(hr=0x8004")) << shown_[0].text.toStdString();
  EXPECT_TRUE(shown_[0].text.endsWith(" in pGB->RenderFile(wFile, NULL)\n"));
  ExpectNoClip();

  // A missing file fails the same way, with the file-not-found status.
  shown_.clear();
  window_->SetClipName(playbacktest::MediaPath("gone.avi"));
  window_->OnCommand(cmd::kPlayOpenClip);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "FAILED(hr=0x80070002) in pGB->RenderFile(wFile, NULL)\n");
  ExpectNoClip();
}

TEST_F(PlaybackWindowTest, ExitCommandClosesTheWindowAndItsClip) {
  Open(playbacktest::MjpegAvi(60));
  ASSERT_NE(window_->Graph(), nullptr);
  window_->OnCommand(cmd::kPlayExit);
  ASSERT_FALSE(window_.isNull());
  EXPECT_EQ(window_->Graph(), nullptr);
  EXPECT_FALSE(window_->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window_.isNull());
  EXPECT_EQ(CPlaybackWnd::Find(), nullptr);
}

}  // namespace
