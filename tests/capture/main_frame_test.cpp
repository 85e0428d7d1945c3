// The main frame on the scripted media platform: menu rules, Escape, graph events, closing
// order and the window fit. Widgets run on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"

using media::ScriptedPlatform;

// Reaches the frame's fields to put it into the states a capture run would leave, without
// the later capture operations that create them.
struct CMainFrameTestPeer {
  // Selects the device at `index` and creates its capture filters.
  static bool SelectDevice(CMainFrame& f, ScriptedPlatform& p, size_t index) {
    std::vector<std::shared_ptr<media::IMoniker>> monikers;
    if (p.CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, monikers) !=
        media::status::kOk)
      return false;
    for (size_t i = 0; i < monikers.size() && i < f.m_devices.size(); ++i)
      f.m_devices[i] = monikers[i];
    f.m_selectedDevice = monikers.at(index);
    return f.CreateCaptureFilters() == 1;
  }
  // A running capture to a file, as a capture run leaves the graph and the flags.
  static void StartCapturing(CMainFrame& f) {
    std::shared_ptr<media::IBaseFilter> mux;
    std::shared_ptr<media::IFileSinkFilter> sink;
    ASSERT_EQ(f.m_builder->SetOutputFileName(media::guid::kSubtypeAvi, "/tmp/lumora-test.avi",
                                             mux, sink),
              media::status::kOk);
    ASSERT_TRUE(media::Succeeded(f.m_builder->RenderStream(&media::guid::kPinCategoryCapture,
                                                           &media::guid::kMediaTypeVideo,
                                                           f.m_captureFilter, nullptr, mux)));
    f.m_fileWriter = mux;
    f.m_fileSink = sink;
    ASSERT_EQ(f.m_graph->QueryMediaEvent(f.m_mediaEvent), media::status::kOk);
    f.m_mediaEvent->SetNotifyWindow([&f](uint32_t, intptr_t) { f.OnGraphNotify(); },
                                    CMainFrame::kGraphEventMessage, 0);
    std::shared_ptr<media::IMediaControl> control;
    ASSERT_EQ(f.m_graph->QueryMediaControl(control), media::status::kOk);
    ASSERT_EQ(control->Run(), media::status::kOk);
    f.m_captureGraphBuilt = 1;
    f.m_capturing = 1;
    f.m_captureTimer.start();
  }
  static void SetWantPreview(CMainFrame& f, bool on) { f.m_wantPreview = on; }
  static void SetFlags(CMainFrame& f, int captureBuilt, int previewBuilt, int capturing,
                       int previewing, int wantPreview, int useCompressor) {
    f.m_captureGraphBuilt = captureBuilt;
    f.m_previewGraphBuilt = previewBuilt;
    f.m_capturing = capturing;
    f.m_previewing = previewing;
    f.m_wantPreview = wantPreview;
    f.m_useCompressor = useCompressor;
  }
  static void SetDeviceMenuBuilt(CMainFrame& f) { f.m_deviceMenuBuilt = 1; }
  static std::shared_ptr<media::IBaseFilter> CaptureFilter(CMainFrame& f) {
    return f.m_captureFilter;
  }
  static bool HoldsAnyReference(CMainFrame& f) {
    if (f.m_selectedDevice || f.m_graph || f.m_builder || f.m_captureFilter || f.m_mediaEvent ||
        f.m_videoWindow || f.m_sampleGrabber || f.m_fileWriter)
      return true;
    return std::any_of(f.m_devices.begin(), f.m_devices.end(), [](auto& d) { return !!d; });
  }
};

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "main_frame_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  // Closing a frame writes the capture settings: keep them out of the user's profile.
  static QTemporaryDir configHome;
  qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
  return *app;
}

struct ShownMessage {
  QString caption, text;
  QMessageBox::Icon icon;
  Qt::WindowModality modality;
  QWidget* owner;
};

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    res::SetLanguageFlag(res::kLangEnglish);
    messages_.clear();
    CMainFrame::SetMessageBoxRunnerForTesting([this](QMessageBox& box) {
      messages_.push_back({box.windowTitle(), box.text(), box.icon(), box.windowModality(),
                           box.parentWidget()});
    });
    frame_ = std::make_unique<CMainFrame>(res::kMainMenuEnglish, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    frame_->setCentralWidget(new QWidget(frame_.get()));
  }
  void TearDown() override {
    frame_.reset();
    CMainFrame::SetMessageBoxRunnerForTesting({});
  }

  // Lets queued notifications (graph events, device changes) arrive.
  static void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  void PressEscape() {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(frame_.get(), &press);
  }
  bool Logged(const std::string& line) {
    const auto& log = platform_->CallLog();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // Index of the first log line that starts with `prefix`, or -1.
  long FirstIndex(const std::string& prefix) {
    const auto& log = platform_->CallLog();
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i].rfind(prefix, 0) == 0) return long(i);
    return -1;
  }
  long LastIndex(const std::string& prefix) {
    const auto& log = platform_->CallLog();
    for (size_t i = log.size(); i-- > 0;)
      if (log[i].rfind(prefix, 0) == 0) return long(i);
    return -1;
  }
  void StartCapturingOn(size_t device, bool wantPreview) {
    ASSERT_TRUE(CMainFrameTestPeer::SelectDevice(*frame_, *platform_, device));
    CMainFrameTestPeer::SetWantPreview(*frame_, wantPreview);
    CMainFrameTestPeer::StartCapturing(*frame_);
    ASSERT_TRUE(frame_->Capturing());
    platform_->ClearCallLog();
  }

  media::ScopedScriptedPlatform platform_{media::TwoCameraSettings()};
  std::unique_ptr<CMainFrame> frame_;
  std::vector<ShownMessage> messages_;
};

// --- Menu rules ---

// The states the capture operations can reach: at most one graph, capturing only with the
// capture graph, previewing only with the preview graph; want preview is independent.
struct RuleRow {
  int captureBuilt, previewBuilt, capturing, previewing, wantPreview;
  // Expected: enabled = capture commands (Start Capture, devices, device dialogs, time limit),
  // Stop Capture enabled, Preview enabled and checked.
  bool captureCommandsEnabled, stopEnabled, previewEnabled, previewChecked;
};

class MenuRulesTest : public MainFrameTest, public ::testing::WithParamInterface<RuleRow> {};

TEST_P(MenuRulesTest, StatesFollowTheFlagsWhenAPopupOpens) {
  const RuleRow r = GetParam();
  for (int useCompressor : {0, 1}) {
    CMainFrameTestPeer::SetFlags(*frame_, r.captureBuilt, r.previewBuilt, r.capturing,
                                 r.previewing, r.wantPreview, useCompressor);
    // Opening any popup of the bar applies the rules (here the File popup).
    QMetaObject::invokeMethod(frame_->MenuAt(0), "aboutToShow");
    for (int id : {cmd::kStartCapture, cmd::kSetTimeLimit, cmd::kDeviceFirst,
                   cmd::kDeviceDialogFirst})
      EXPECT_EQ(frame_->Action(id)->isEnabled(), r.captureCommandsEnabled) << id;
    EXPECT_EQ(frame_->Action(cmd::kStopCapture)->isEnabled(), r.stopEnabled);
    EXPECT_EQ(frame_->Action(cmd::kPreview)->isEnabled(), r.previewEnabled);
    EXPECT_EQ(frame_->Action(cmd::kPreview)->isChecked(), r.previewChecked);
    EXPECT_EQ(frame_->Action(cmd::kCompression)->isChecked(), useCompressor == 1);
    EXPECT_FALSE(frame_->Action(cmd::kLanguageChinese)->isChecked());
    EXPECT_TRUE(frame_->Action(cmd::kLanguageEnglish)->isChecked());
    // Commands outside the rules keep their state (no automatic greying).
    for (int id : {cmd::kSetFrameRate, cmd::kSnapshot, cmd::kSetCaptureFile,
                   cmd::kVideoPlayback, cmd::kAppExit, cmd::kAppAbout})
      EXPECT_TRUE(frame_->Action(id)->isEnabled()) << id;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllReachableStates, MenuRulesTest,
    ::testing::Values(
        //       cg pg cap prv want | capture stop  preview checked
        RuleRow{0, 0, 0, 0, 0, true, false, true, false},
        RuleRow{0, 0, 0, 0, 1, true, false, true, true},
        RuleRow{1, 0, 0, 0, 0, true, false, true, false},
        RuleRow{1, 0, 0, 0, 1, true, false, true, true},
        RuleRow{1, 0, 1, 0, 0, false, true, false, false},
        RuleRow{1, 0, 1, 0, 1, false, true, false, true},
        RuleRow{0, 1, 0, 0, 0, true, false, true, false},
        RuleRow{0, 1, 0, 0, 1, true, false, true, true},
        RuleRow{0, 1, 0, 1, 0, true, false, true, false},
        RuleRow{0, 1, 0, 1, 1, true, false, true, true}));

TEST_F(MainFrameTest, RulesReachEntriesAddedAfterCreation) {
  // Device entries beyond the placeholder follow the rules as well. The list stands as
  // built: opening the popup does not list the devices again.
  CMainFrameTestPeer::SetDeviceMenuBuilt(*frame_);
  QMenu* devices = frame_->MenuAt(1);
  auto* second = new QAction(QStringLiteral("Camera B"), devices);
  second->setData(cmd::kDeviceFirst + 1);
  devices->addAction(second);
  QMenu* options = frame_->MenuAt(2);
  auto* dialog = new QAction(QStringLiteral("Video Source..."), options);
  dialog->setData(cmd::kDeviceDialogFirst + 1);
  options->addAction(dialog);
  CMainFrameTestPeer::SetFlags(*frame_, 1, 0, 1, 0, 0, 0);
  QMetaObject::invokeMethod(devices, "aboutToShow");
  EXPECT_FALSE(second->isEnabled());
  EXPECT_FALSE(dialog->isEnabled());
  CMainFrameTestPeer::SetFlags(*frame_, 1, 0, 0, 0, 0, 0);
  QMetaObject::invokeMethod(options, "aboutToShow");
  EXPECT_TRUE(second->isEnabled());
  EXPECT_TRUE(dialog->isEnabled());
}

// --- Escape ---

struct EscapeRow {
  bool capturing, wantPreview;
  bool stopLogged, previewRunsAfter;
};

class EscapeTest : public MainFrameTest, public ::testing::WithParamInterface<EscapeRow> {};

TEST_P(EscapeTest, StopsOnlyACaptureAndBringsThePreviewBackWhenWanted) {
  const EscapeRow r = GetParam();
  if (r.capturing) {
    StartCapturingOn(0, r.wantPreview);
  } else {
    ASSERT_TRUE(CMainFrameTestPeer::SelectDevice(*frame_, *platform_, 0));
    CMainFrameTestPeer::SetWantPreview(*frame_, r.wantPreview);
    platform_->ClearCallLog();
  }
  PressEscape();
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_EQ(Logged("MediaControl.Stop"), r.stopLogged);
  EXPECT_EQ(frame_->Previewing(), r.previewRunsAfter);
  EXPECT_EQ(Logged("Graph.AddFilter Grabber"), r.previewRunsAfter);
  if (r.previewRunsAfter) {
    // The capture graph goes before the preview graph is built and run.
    EXPECT_LT(FirstIndex("MediaControl.Stop"), FirstIndex("Graph.RemoveFilter"));
    EXPECT_LT(FirstIndex("Graph.RemoveFilter"), FirstIndex("Graph.AddFilter Grabber"));
    EXPECT_LT(FirstIndex("Graph.AddFilter Grabber"), LastIndex("MediaControl.Run"));
    EXPECT_TRUE(frame_->PreviewGraphBuilt());
    EXPECT_FALSE(frame_->CaptureGraphBuilt());
  }
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
  EXPECT_TRUE(messages_.empty());
}

INSTANTIATE_TEST_SUITE_P(CapturingAndWantPreview, EscapeTest,
                         ::testing::Values(EscapeRow{false, false, false, false},
                                           EscapeRow{false, true, false, false},
                                           EscapeRow{true, false, true, false},
                                           EscapeRow{true, true, true, true}));

TEST_F(MainFrameTest, OtherKeysDoNotStopACapture) {
  StartCapturingOn(0, false);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QCoreApplication::sendEvent(frame_.get(), &press);
  EXPECT_TRUE(frame_->Capturing());
  EXPECT_FALSE(Logged("MediaControl.Stop"));
}

// --- Graph events ---

class ErrorAbortTest : public MainFrameTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ErrorAbortTest, EndsTheCaptureReportsTheCodeAndRestoresAWantedPreview) {
  const bool wantPreview = GetParam();
  StartCapturingOn(0, wantPreview);
  platform_->InjectEvent(media::event::kErrorAbort, media::status::kDiskFull, 0);
  Pump();
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_TRUE(Logged("MediaControl.Stop"));
  EXPECT_EQ(frame_->Previewing(), wantPreview);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("ERROR during capture, error code=80070070"));
  EXPECT_EQ(messages_[0].caption, QStringLiteral("lumora2003"));
  EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
  EXPECT_EQ(messages_[0].modality, Qt::ApplicationModal);
  EXPECT_EQ(messages_[0].owner, frame_.get());
  if (wantPreview) {
    // The preview is back before the user reads the message.
    EXPECT_TRUE(platform_->AnyGraphRunning());
  }
}

INSTANTIATE_TEST_SUITE_P(WantPreview, ErrorAbortTest, ::testing::Bool());

TEST_F(MainFrameTest, ErrorAbortShowsItsOwnCodeWhenOtherEventsFollow) {
  StartCapturingOn(0, false);
  platform_->InjectEvent(media::event::kErrorAbort, media::MakeStatus(0x80070015), 0);
  platform_->InjectEvent(media::event::kComplete, 0, 0);
  Pump();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("ERROR during capture, error code=80070015"));
}

TEST_F(MainFrameTest, LossOfTheCaptureDeviceEndsTheCapture) {
  StartCapturingOn(0, true);
  platform_->LoseDevice(0);
  Pump();
  EXPECT_FALSE(frame_->Capturing());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text,
            QStringLiteral("Stopping Capture (Device Lost). Select New Capture Device"));
  // The handler leaves at once: no preview comes back and the graph stays as it is.
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_TRUE(frame_->CaptureGraphBuilt());
}

TEST_F(MainFrameTest, LossOfAnotherDeviceChangesNothing) {
  StartCapturingOn(0, false);
  std::vector<std::shared_ptr<media::IMoniker>> monikers;
  platform_->CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, monikers);
  std::shared_ptr<media::IBaseFilter> other;
  ASSERT_EQ(monikers.at(1)->BindToFilter(other), media::status::kOk);
  platform_->ClearCallLog();
  platform_->InjectEvent(media::event::kDeviceLost, 0, 0, other);
  // The capture device coming back (second parameter 1) is no loss either.
  platform_->InjectEvent(media::event::kDeviceLost, 0, 1,
                         CMainFrameTestPeer::CaptureFilter(*frame_));
  Pump();
  EXPECT_TRUE(frame_->Capturing());
  EXPECT_FALSE(Logged("MediaControl.Stop"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFrameTest, DeviceArrivalOrRemovalClearsTheDeviceMenuFlag) {
  CMainFrameTestPeer::SetDeviceMenuBuilt(*frame_);
  ASSERT_TRUE(frame_->DeviceMenuBuilt());
  platform_->FireDeviceChange();
  Pump();
  EXPECT_FALSE(frame_->DeviceMenuBuilt());
}

// --- Commands ---

TEST_F(MainFrameTest, PreviewCommandTogglesWantPreview) {
  ASSERT_TRUE(CMainFrameTestPeer::SelectDevice(*frame_, *platform_, 1));
  frame_->OnCommand(cmd::kPreview);
  EXPECT_TRUE(frame_->WantPreview());
  EXPECT_TRUE(frame_->Previewing());
  frame_->OnCommand(cmd::kPreview);
  EXPECT_FALSE(frame_->WantPreview());
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_TRUE(frame_->PreviewGraphBuilt());  // halted, not dismantled
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFrameTest, StopCaptureCommandEndsTheCapture) {
  StartCapturingOn(0, true);
  frame_->OnCommand(cmd::kStopCapture);
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_TRUE(frame_->Previewing());
}

TEST_F(MainFrameTest, UnhandledCommandsGoToTheApplication) {
  std::vector<int> routed;
  QObject::connect(frame_.get(), &CMainFrame::RouteCommand,
                   [&routed](int id) { routed.push_back(id); });
  frame_->OnCommand(cmd::kAppAbout);
  frame_->OnCommand(cmd::kFileNew);
  frame_->OnCommand(cmd::kPreview);  // handled, then the framework's processing follows
  EXPECT_EQ(routed, (std::vector<int>{cmd::kAppAbout, cmd::kFileNew, cmd::kPreview}));
}

// --- Closing ---

TEST_F(MainFrameTest, ClosingDuringACaptureStopsItThenDismantlesAndReleases) {
  StartCapturingOn(0, true);
  frame_->show();
  frame_->close();
  const long stop = FirstIndex("MediaControl.Stop");
  const long detach = FirstIndex("Graph.Disconnect");
  const long remove = FirstIndex("Graph.RemoveFilter");
  ASSERT_GE(stop, 0);
  ASSERT_GE(detach, 0);
  ASSERT_GE(remove, 0);
  EXPECT_LT(stop, detach);
  EXPECT_LT(detach, remove);
  // The closing never brings a preview back, even when one is wanted.
  EXPECT_FALSE(Logged("Graph.AddFilter Grabber"));
  EXPECT_FALSE(Logged("MediaControl.Run"));
  EXPECT_FALSE(frame_->Capturing());
  EXPECT_FALSE(frame_->CaptureGraphBuilt());
  EXPECT_FALSE(CMainFrameTestPeer::HoldsAnyReference(*frame_));
  EXPECT_FALSE(frame_->TimerRunning(CMainFrame::kCaptureTimer));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFrameTest, ClosingDuringAPreviewHaltsItFirst) {
  ASSERT_TRUE(CMainFrameTestPeer::SelectDevice(*frame_, *platform_, 0));
  frame_->OnCommand(cmd::kPreview);
  ASSERT_TRUE(frame_->Previewing());
  platform_->ClearCallLog();
  frame_->close();
  const std::vector<std::string>& log = platform_->CallLog();
  ASSERT_FALSE(log.empty());
  // HaltPreview stops the graph before anything is taken apart; EndCapture has nothing to do.
  EXPECT_EQ(std::count(log.begin(), log.end(), "MediaControl.Stop"), 1);
  ASSERT_GE(FirstIndex("MediaControl.Stop"), 0);
  EXPECT_LT(FirstIndex("MediaControl.Stop"), FirstIndex("VideoWindow.Owner 0"));
  EXPECT_LT(FirstIndex("VideoWindow.Owner 0"), FirstIndex("Graph.RemoveFilter"));
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_FALSE(frame_->PreviewGraphBuilt());
  EXPECT_FALSE(CMainFrameTestPeer::HoldsAnyReference(*frame_));
  EXPECT_FALSE(platform_->AnyGraphRunning());
}

// --- Window layout ---

struct FitRow {
  QSize window, client;
  int w, h, toolBar, statusBar;
  QSize expected;
};

class FitArithmeticTest : public ::testing::TestWithParam<FitRow> {};

TEST_P(FitArithmeticTest, OuterSizeHoldsVideoAndBothBars) {
  const FitRow r = GetParam();
  EXPECT_EQ(CMainFrame::FittedWindowSize(r.window, r.client, r.w, r.h, r.toolBar, r.statusBar),
            r.expected);
}

INSTANTIATE_TEST_SUITE_P(
    HandComputed, FitArithmeticTest,
    ::testing::Values(
        // 8 px of side borders, 48 px of caption + menu: 8 + 320, 48 + 240 + 26 + 20.
        FitRow{{808, 629}, {800, 581}, 320, 240, 26, 20, {328, 334}},
        // A window smaller than the video grows; one larger shrinks.
        FitRow{{208, 148}, {200, 100}, 640, 480, 26, 20, {648, 574}},
        FitRow{{1288, 1000}, {1280, 952}, 160, 120, 0, 0, {168, 168}},
        // Hidden bars that report no height add nothing.
        FitRow{{100, 100}, {100, 100}, 176, 144, 0, 0, {176, 144}}));

TEST_F(MainFrameTest, FitWindowToVideoLeavesTheToolBarStripAboveTheVideo) {
  frame_->show();
  // Timer 77 reads the bars' rectangles 100 ms after creation, then stops itself.
  QElapsedTimer t;
  t.start();
  while (frame_->TimerRunning(CMainFrame::kStartupTimer) && t.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(frame_->TimerRunning(CMainFrame::kStartupTimer));
  EXPECT_EQ(CMainFrame::TheMainFrame(), frame_.get());
  EXPECT_FALSE(frame_->ToolBar()->isVisible());
  EXPECT_GT(frame_->ToolBarHeight(), 0);
  EXPECT_GT(frame_->StatusBarHeight(), 0);

  frame_->FitWindowToVideo(640, 480);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame_->width(), 640);
  EXPECT_EQ(frame_->centralWidget()->height(), 480 + frame_->ToolBarHeight());
  EXPECT_EQ(frame_->height(),
            frame_->menuBar()->height() + frame_->ToolBarHeight() + 480 + frame_->StatusBarHeight());
}

TEST_F(MainFrameTest, CreationMakesTheBarsAndTheStartupTimer) {
  EXPECT_TRUE(frame_->TimerRunning(CMainFrame::kStartupTimer));
  EXPECT_EQ(frame_->PaneText(), QStringLiteral("Ready"));
  EXPECT_EQ(frame_->ToolBar()->objectName(), QString::number(CMainFrame::kToolBarId));
  EXPECT_TRUE(frame_->ToolBar()->isHidden());
  // Seven popups; Devices and Options at positions 1 and 2 with their placeholders.
  EXPECT_EQ(frame_->menuBar()->actions().size(), 7);
  EXPECT_EQ(frame_->MenuAt(1)->actions().first()->data().toInt(), cmd::kDeviceFirst);
  EXPECT_EQ(frame_->MenuAt(2)->actions().first()->data().toInt(), cmd::kPreview);
  EXPECT_EQ(frame_->MenuAt(2)->actions().last()->data().toInt(), cmd::kDeviceDialogFirst);
  // No maximise box.
  EXPECT_FALSE(frame_->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainFrameTest, ShowErrorFormatsStatusCodesInHex) {
  EXPECT_EQ(frame_->ShowError("Error %x: Cannot run preview graph", 0x80004005u), 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("Error 80004005: Cannot run preview graph"));
}

}  // namespace
