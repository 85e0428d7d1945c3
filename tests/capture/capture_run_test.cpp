// The capture run on the scripted platform: the status texts, the Ready dialog, the time
// limit, the counters' absence and the ways a running capture ends.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>

#include "capture/capture_status.h"
#include "capture/dialogs/dialog_runner.h"
#include "frame_fixture.h"

namespace {

TEST(CaptureStatusText, ClosingFiguresFollowTheirFormat) {
  EXPECT_EQ(capture_status::ClosingText(150, 1, 10000, 76800),
            "Captured 150 frames in 10.0 sec (1 dropped): 15.0 fps 1.152 Meg/sec");
  EXPECT_EQ(capture_status::ClosingText(149, 0, 9990, 76800),
            "Captured 149 frames in 9.9 sec (0 dropped): 14.9 fps 1.145 Meg/sec");
  // No time passed: no rate at all rather than a division by zero.
  EXPECT_EQ(capture_status::ClosingText(3, 0, 0, 76800),
            "Captured 3 frames in 0.0 sec (0 dropped): 0.0 fps 0.000 Meg/sec");
}

TEST(CaptureStatusText, ThousandthsOfTheRateKeepTheirLeadingZeros) {
  // 21 frames a second of 50 000 bytes: 1 050 000 bytes/s.
  EXPECT_EQ(capture_status::ClosingText(21, 0, 1000, 50000),
            "Captured 21 frames in 1.0 sec (0 dropped): 21.0 fps 1.050 Meg/sec");
  // 1 005 000 bytes/s.
  EXPECT_EQ(capture_status::ClosingText(201, 0, 1000, 5000),
            "Captured 201 frames in 1.0 sec (0 dropped): 201.0 fps 1.005 Meg/sec");
  // A rate beyond 32 bits is pinned instead of wrapping into a negative figure.
  EXPECT_EQ(capture_status::ClosingText(1000, 0, 1, 1 << 30),
            "Captured 1000 frames in 0.0 sec (0 dropped): 1000000.0 fps 2147.483 Meg/sec");
}

TEST(CaptureStatusText, RunningFiguresShowTenthsOfASecond) {
  EXPECT_EQ(capture_status::RunningText(37, 2, 1234), "Captured 37 frames (2 dropped) 1.2sec");
  EXPECT_EQ(capture_status::RunningText(0, 0, 99), "Captured 0 frames (0 dropped) 0.0sec");
}

class CaptureRunTest : public FrameFixture {
 protected:
  void SetUp() override {
    FrameFixture::SetUp();
    file_ = QDir(configHome_.path()).filePath("clip.avi").toStdString();
    capture_dialogs::SetRunnerForTesting([this](QDialog& d) {
      readyCaption_ = d.windowTitle();
      if (auto* name = d.findChild<QLabel*>(QString::number(res::kIdcCaptureFileName)))
        readyName_ = name->text();
      ++readyShown_;
      return readyAnswer_;
    });
  }
  void TearDown() override {
    capture_dialogs::SetRunnerForTesting({});
    FrameFixture::TearDown();
  }
  // A frame whose profile names camera A, the capture file and the given extra settings.
  void StartWith(const std::string& extra) {
    WriteProfile(QByteArray::fromStdString("[camprof]\nCaptureFile=" + file_ +
                                           "\nVideoDevice2=@device:scripted:camera-a\n"
                                           "UseFrameRate=0\n" + extra));
    StartFrame();
  }
  void RunEventsFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  std::string file_;
  int readyAnswer_ = QDialog::Accepted;
  int readyShown_ = 0;
  QString readyCaption_, readyName_;
};

TEST_F(CaptureRunTest, StartAndStopWriteTheFileAndShowTheClosingStatistics) {
  platform_->Settings().devices[0].averageFrameSize = 76800;
  platform_->Settings().devices[0].dropEvery = 151;
  StartWith("");
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  EXPECT_EQ(readyShown_, 1);
  EXPECT_EQ(readyCaption_, "Ready to Capture");
  EXPECT_EQ(readyName_.toStdString(), file_);
  EXPECT_TRUE(Logged("Builder.SetOutputFileName " + file_));
  EXPECT_TRUE(Logged("AviMux.SetOutputCompatibilityIndex 1"));
  // The stream stays gated while the dialog is open and opens once the user agreed.
  EXPECT_TRUE(Logged("Builder.ControlStream capture start=max stop=none"));
  EXPECT_TRUE(Logged("Builder.ControlStream capture start=now stop=max"));
  EXPECT_TRUE(frame_->TimerRunning(CMainFrame::kCaptureTimer));

  platform_->DeliverFrames(40);
  platform_->AdvanceClock(1250);
  RunEventsFor(80);
  EXPECT_EQ(frame_->PaneText(), "Captured 40 frames (0 dropped) 1.2sec");

  platform_->DeliverFrames(111);
  platform_->AdvanceClock(10000 - 1250);
  frame_->OnCommand(cmd::kStopCapture);
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
  EXPECT_EQ(frame_->PaneText(),
            "Captured 150 frames in 10.0 sec (1 dropped): 15.0 fps 1.152 Meg/sec");
  EXPECT_TRUE(frame_->CaptureGraphBuilt());
  EXPECT_TRUE(messages_.empty());
}

// A part of the window that keeps every key for itself, as the menu bar does once a menu was
// worked from the keyboard.
class KeyHolder : public QWidget {
public:
  using QWidget::QWidget;

protected:
  void keyPressEvent(QKeyEvent* event) override { event->accept(); }
};

TEST_F(CaptureRunTest, EscapeEndsTheCaptureWhicheverPartOfTheWindowHasTheKeyboard) {
  StartWith("");
  auto* holder = new KeyHolder(frame_.get());
  QWidget elsewhere;  // another top-level window: its Escape is its own
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  platform_->DeliverFrames(30);
  platform_->AdvanceClock(1000);

  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(&elsewhere, &press);
  EXPECT_TRUE(frame_->Capturing());
  QCoreApplication::sendEvent(holder, &press);
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_TRUE(frame_->PaneText().startsWith("Captured 30 frames in 1.0 sec"))
      << frame_->PaneText().toStdString();

  // A second capture is watched again.
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  QKeyEvent again(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(holder, &again);
  EXPECT_FALSE(frame_->Capturing());
}

TEST_F(CaptureRunTest, CancellingTheReadyDialogStartsNothingAndBringsThePreviewBack) {
  readyAnswer_ = QDialog::Rejected;
  StartWith("WantPreview=1\n");
  ASSERT_TRUE(frame_->Previewing());
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_EQ(readyShown_, 1);
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(frame_->PreviewGraphBuilt());
  EXPECT_FALSE(Logged("Builder.ControlStream capture start=now stop=max"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CaptureRunTest, ATimeLimitOfZeroStopsAtTheFirstTick) {
  StartWith("UseTimeLimit=1\nTimeLimit=0\n");
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  RunEventsFor(150);
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
}

TEST_F(CaptureRunTest, ATimeLimitStopsOnceItsSecondsHavePassed) {
  StartWith("UseTimeLimit=1\nTimeLimit=3\n");
  frame_->OnCommand(cmd::kStartCapture);
  platform_->AdvanceClock(2999);
  RunEventsFor(80);
  EXPECT_TRUE(frame_->Capturing());
  platform_->AdvanceClock(1);
  RunEventsFor(80);
  EXPECT_FALSE(frame_->Capturing());
}

TEST_F(CaptureRunTest, WithoutACounterTheStatusSaysSoDuringAndAfter) {
  platform_->Settings().devices[0].hasDroppedFrames = false;
  StartWith("");
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  RunEventsFor(80);
  EXPECT_EQ(frame_->PaneText(), "Filter cannot report capture information");
  frame_->SetPaneText("");
  frame_->OnCommand(cmd::kStopCapture);
  EXPECT_EQ(frame_->PaneText(), "Filter cannot report capture information");
}

TEST_F(CaptureRunTest, NoCaptureFileNameAsksForOneAndBuildsNoGraphWhenCancelled) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:camera-a\nWantPreview=1\n");
  StartFrame();
  ASSERT_TRUE(frame_->Previewing());
  readyAnswer_ = QDialog::Rejected;
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_EQ(readyShown_, 1);
  EXPECT_EQ(readyCaption_, "Set Capture File");
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->CaptureGraphBuilt());
  // Backing out leaves the preview as it was.
  EXPECT_TRUE(frame_->Previewing());
}

TEST_F(CaptureRunTest, GraphFailuresReportAndLeaveNoCapture) {
  struct Row {
    const char* op;
    const char* message;
  };
  for (const Row& row : {Row{"Builder.SetOutputFileName", "Cannot set output file"},
                         Row{"Builder.RenderStream", "Cannot render video capture stream"},
                         Row{"MediaControl.Run", "Error 80004005: Cannot start graph"}}) {
    SCOPED_TRACE(row.op);
    messages_.clear();
    platform_->Settings().fail[row.op] = media::status::kFail;
    StartWith("");
    frame_->OnCommand(cmd::kStartCapture);
    EXPECT_FALSE(frame_->Capturing());
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), row.message);
    platform_->Settings().fail.clear();
    CloseFrame();
  }
}

TEST_F(CaptureRunTest, DeviceLostDuringACaptureEndsItWithItsStatistics) {
  platform_->Settings().devices[0].averageFrameSize = 1000;
  StartWith("WantPreview=1\n");
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  platform_->DeliverFrames(30);
  platform_->AdvanceClock(1000);
  platform_->LoseDevice(0);
  Pump();
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Stopping Capture (Device Lost). Select New Capture Device");
  EXPECT_EQ(frame_->PaneText(),
            "Captured 30 frames in 1.0 sec (0 dropped): 30.0 fps 0.030 Meg/sec");
}

TEST_F(CaptureRunTest, ErrorAbortDuringACaptureEndsItAndRestoresThePreview) {
  StartWith("WantPreview=1\n");
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing());
  platform_->DeliverFrames(5);
  platform_->InjectEvent(media::event::kErrorAbort, media::status::kDiskFull, 0);
  Pump();
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_TRUE(frame_->Previewing());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "ERROR during capture, error code=80070070");
  EXPECT_TRUE(frame_->PaneText().startsWith("Captured 5 frames in "));
}

}  // namespace
