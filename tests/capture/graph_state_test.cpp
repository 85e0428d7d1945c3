// The main frame's graph operations on the scripted media platform, failure branches first:
// each failure comes from the platform's own switches (a failing operation, a device that
// cannot be opened or is in use), and the test reads the result, the message shown and the
// state the frame is left in through the frame's public operations.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"

using media::ScriptedPlatform;
namespace status = media::status;

// Picking a device from the Devices menu is the one step these tests cannot take through a
// public operation: this hands the frame the moniker the menu would select. Nothing else.
struct CMainFrameTestPeer {
  static void SelectDevice(CMainFrame& f, ScriptedPlatform& p, size_t index) {
    std::vector<std::shared_ptr<media::IMoniker>> monikers;
    ASSERT_EQ(p.CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, monikers),
              status::kOk);
    f.m_selectedDevice = monikers.at(index);
  }
};

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "graph_state_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Camera A has a preview pin, Camera B none; then one that cannot be opened and one that is
// busy with another program (it opens, but its capture pin will not connect).
constexpr size_t kCameraA = 0;
constexpr size_t kBusyToOpen = 2;
constexpr size_t kInUse = 3;

media::ScriptedSettings Settings() {
  media::ScriptedSettings s = media::TwoCameraSettings();
  s.devices.push_back(media::FailingDevice("Locked Camera", status::kDeviceInUse));
  media::ScriptedDevice inUse = s.devices[kCameraA];
  inUse.displayName = "@device:scripted:camera-in-use";
  inUse.friendlyName = "Shared Camera";
  inUse.inUse = true;
  s.devices.push_back(inUse);
  return s;
}

std::string Hex(media::Status s) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(s));
  return text;
}

class GraphStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    res::SetLanguageFlag(res::kLangEnglish);
    CMainFrame::SetMessageBoxRunnerForTesting(
        [this](QMessageBox& box) { messages_.push_back(box.text().toStdString()); });
    frame_ = std::make_unique<CMainFrame>(res::kMainMenuEnglish, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    frame_->setCentralWidget(new QWidget(frame_.get()));
  }
  void TearDown() override {
    platform_->Settings().fail.clear();  // the closing must not fail on a leftover switch
    frame_.reset();
    CMainFrame::SetMessageBoxRunnerForTesting({});
  }

  // Selects the device and builds its capture filters, which must succeed.
  void Filters(size_t device) {
    CMainFrameTestPeer::SelectDevice(*frame_, *platform_, device);
    ASSERT_EQ(frame_->CreateCaptureFilters(), 1);
    ASSERT_TRUE(messages_.empty()) << messages_.front();
    platform_->ClearCallLog();
  }
  void Fail(const std::string& operation, media::Status answer = status::kFail) {
    platform_->Settings().fail[operation] = answer;
  }
  bool Logged(const std::string& line) {
    const auto& log = platform_->CallLog();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  bool LoggedPrefix(const std::string& prefix) {
    const auto& log = platform_->CallLog();
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  // After a failed CreateCaptureFilters nothing is held: a preview has nothing to build on
  // and does not even ask for a grabber.
  void ExpectFiltersReleased() {
    platform_->ClearCallLog();
    EXPECT_EQ(frame_->MakePreviewGraph(), 0);
    EXPECT_FALSE(Logged("Platform.CreateSampleGrabber"));
  }

  media::ScopedScriptedPlatform platform_{Settings()};
  std::unique_ptr<CMainFrame> frame_;
  std::vector<std::string> messages_;
};

// --- CreateCaptureFilters ---

struct FilterFailure {
  const char* what;
  const char* operation;  // switch set to kFail; nullptr: none
  int device;             // -1: no device selected
  std::string message;
};
void PrintTo(const FilterFailure& f, std::ostream* os) { *os << f.what; }

class CreateFiltersFailure : public GraphStateTest,
                             public ::testing::WithParamInterface<FilterFailure> {};

TEST_P(CreateFiltersFailure, ReportsOnceReleasesAndRecovers) {
  const FilterFailure& c = GetParam();
  if (c.operation) Fail(c.operation);
  if (c.device >= 0) CMainFrameTestPeer::SelectDevice(*frame_, *platform_, size_t(c.device));
  EXPECT_EQ(frame_->CreateCaptureFilters(), 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], c.message);
  ExpectFiltersReleased();

  // Once the cause is gone, the same call on a good device builds everything.
  platform_->Settings().fail.clear();
  messages_.clear();
  CMainFrameTestPeer::SelectDevice(*frame_, *platform_, kCameraA);
  EXPECT_EQ(frame_->CreateCaptureFilters(), 1);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, CreateFiltersFailure,
    ::testing::Values(
        FilterFailure{"no builder", "Platform.CreateCaptureGraphBuilder2", int(kCameraA),
                      "Cannot instantiate graph builder"},
        FilterFailure{"device cannot be opened", nullptr, int(kBusyToOpen),
                      "Error " + Hex(status::kDeviceInUse) + ": Cannot create video capture filter"},
        FilterFailure{"no device selected", nullptr, -1,
                      "Error 0: Cannot create video capture filter"},
        FilterFailure{"no graph", "Platform.CreateFilterGraph", int(kCameraA),
                      "Cannot instantiate filtergraph"},
        FilterFailure{"capture filter not added", "Graph.AddFilter", int(kCameraA),
                      "Error " + Hex(status::kFail) + ": Cannot add vidcap to filtergraph"}),
    [](const auto& info) {
      std::string n = info.param.what;
      std::replace(n.begin(), n.end(), ' ', '_');
      return n;
    });

TEST_F(GraphStateTest, MissingStreamConfigurationIsReportedAndTheFiltersStay) {
  platform_->Settings().devices[kCameraA].hasStreamConfig = false;
  CMainFrameTestPeer::SelectDevice(*frame_, *platform_, kCameraA);
  EXPECT_EQ(frame_->CreateCaptureFilters(), 1);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error " + Hex(status::kNoInterface) +
                              ": Cannot find VCapture:IAMStreamConfig");
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
}

// --- MakePreviewGraph ---

struct PreviewFailure {
  const char* what;
  const char* operation;  // switch set to kFail; nullptr: the device is in use
  std::string message;
  media::Status result;
};
void PrintTo(const PreviewFailure& f, std::ostream* os) { *os << f.what; }

class MakePreviewFailure : public GraphStateTest,
                           public ::testing::WithParamInterface<PreviewFailure> {};

TEST_P(MakePreviewFailure, ReturnsTheStatusAndBuildsNothingToRun) {
  const PreviewFailure& c = GetParam();
  Filters(c.operation ? kCameraA : kInUse);
  if (c.operation) Fail(c.operation);
  EXPECT_EQ(frame_->MakePreviewGraph(), int(c.result));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], c.message);
  EXPECT_FALSE(frame_->PreviewGraphBuilt());
  EXPECT_FALSE(frame_->PreviewFaked());
  EXPECT_EQ(frame_->RunPreview(), 0);
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_FALSE(Logged("MediaControl.Run"));
}

const char kInUseText[] =
    "Could not connect capture pin #0 to grabber.\r\nIs the capture device being used by "
    "another application?";

INSTANTIATE_TEST_SUITE_P(
    Steps, MakePreviewFailure,
    ::testing::Values(
        PreviewFailure{"no grabber", "Platform.CreateSampleGrabber",
                       "Could not create SampleGrabber (is qedit.dll registered?)", status::kFail},
        PreviewFailure{"grabber not added", "Graph.AddFilter",
                       "Could not put sample grabber in graph", status::kFail},
        PreviewFailure{"device in use", nullptr, kInUseText, status::kCannotConnect},
        PreviewFailure{"connect fails", "Graph.Connect", kInUseText, status::kFail},
        PreviewFailure{"render fails", "Graph.Render",
                       "Could not render sample grabber output pin", status::kFail}),
    [](const auto& info) {
      std::string n = info.param.what;
      std::replace(n.begin(), n.end(), ' ', '_');
      return n;
    });

TEST_F(GraphStateTest, InUseDeviceShowsTheMessageAndPreviewsOnceReleased) {
  Filters(kInUse);
  frame_->OnCommand(cmd::kPreview);
  EXPECT_TRUE(frame_->WantPreview());
  EXPECT_FALSE(frame_->Previewing());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], kInUseText);

  // The other program lets go; switching the preview off and on again builds it.
  platform_->Settings().devices[kInUse].inUse = false;
  messages_.clear();
  frame_->OnCommand(cmd::kPreview);
  frame_->OnCommand(cmd::kPreview);
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(platform_->AnyGraphRunning());
  EXPECT_TRUE(messages_.empty());
}

// A camera that another program holds, or that the user may not open, is found out only when
// its graph runs: at the start (the run fails) or once running (an error abort, which the
// stream's own error may follow). Either way the user hears the cause, not a number.
TEST_F(GraphStateTest, BusyOrRefusedCameraIsToldWithItsRemedyWhenItsGraphRuns) {
  const std::string denied =
      "Could not open the capture device \"Camera A\": permission denied.\r\nAdd your user to "
      "the \"video\" group (sudo usermod -aG video $USER), then log out and log in again.";
  const struct {
    media::Status why;
    bool atStart;
    std::string message;
  } cases[] = {{status::kDeviceInUse, true, kInUseText},
               {status::kDeviceAccessDenied, true, denied},
               {status::kDeviceInUse, false, kInUseText},
               {status::kDeviceAccessDenied, false, denied}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.why) + (c.atStart ? " at start" : " while running"));
    Filters(kCameraA);
    ASSERT_EQ(frame_->MakePreviewGraph(), 1);
    if (c.atStart) {
      Fail("MediaControl.Run", c.why);
      EXPECT_EQ(frame_->RunPreview(), 0);
    } else {
      ASSERT_EQ(frame_->RunPreview(), 1);
      platform_->InjectEvent(media::event::kErrorAbort, c.why, 0);
      platform_->InjectEvent(media::event::kErrorAbort, status::kFail, 0);
      for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    EXPECT_EQ(messages_, std::vector<std::string>{c.message});
    EXPECT_FALSE(frame_->Previewing());
    EXPECT_FALSE(platform_->AnyGraphRunning());
    platform_->Settings().fail.clear();
    messages_.clear();
    frame_->DismantleGraph();
    frame_->ReleaseCaptureFilters();
  }
}

TEST_F(GraphStateTest, PreviewFromTheCapturePinSetsPreviewFakedUntilDismantled) {
  Filters(kCameraA);
  Fail("Graph.Render", status::kPreviewFromCapture);
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_TRUE(frame_->PreviewGraphBuilt());
  EXPECT_TRUE(frame_->PreviewFaked());
  frame_->DismantleGraph();
  EXPECT_FALSE(frame_->PreviewFaked());
  EXPECT_FALSE(frame_->PreviewGraphBuilt());

  // A plain render leaves the flag clear.
  platform_->Settings().fail.clear();
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
  EXPECT_FALSE(frame_->PreviewFaked());
}

TEST_F(GraphStateTest, OtherRenderSuccessTriesThePreviewStreamAndGoesOn) {
  Filters(kCameraA);
  Fail("Graph.Render", status::kFalse);
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
  EXPECT_TRUE(Logged("Builder.RenderStream preview vids"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "This graph cannot preview!");
  EXPECT_TRUE(frame_->PreviewGraphBuilt());
  EXPECT_FALSE(frame_->PreviewFaked());
}

TEST_F(GraphStateTest, NoVideoWindowIsReportedAndTheGraphStillRuns) {
  Filters(kCameraA);
  Fail("Graph.QueryVideoWindow", status::kNoInterface);
  EXPECT_EQ(frame_->MakePreviewGraph(), 1);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "This graph cannot preview properly");
  EXPECT_FALSE(LoggedPrefix("VideoWindow."));
  EXPECT_EQ(frame_->RunPreview(), 1);
  EXPECT_TRUE(platform_->AnyGraphRunning());
}

// --- RunPreview and HaltPreview ---

TEST_F(GraphStateTest, RunFailureStopsTheGraphAndLeavesPreviewingOff) {
  Filters(kCameraA);
  ASSERT_EQ(frame_->MakePreviewGraph(), 1);
  Fail("MediaControl.Run");
  platform_->ClearCallLog();
  EXPECT_EQ(frame_->RunPreview(), 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error " + Hex(status::kFail) + ": Cannot run preview graph");
  EXPECT_FALSE(frame_->Previewing());
  const auto& log = platform_->CallLog();
  const auto run = std::find(log.begin(), log.end(), "MediaControl.Run");
  ASSERT_NE(run, log.end());
  EXPECT_NE(std::find(run, log.end(), "MediaControl.Stop"), log.end()) << "stopped after the failed run";

  // Without a media control nothing is run at all.
  Fail("Graph.QueryMediaControl", status::kNoInterface);
  platform_->ClearCallLog();
  messages_.clear();
  EXPECT_EQ(frame_->RunPreview(), 0);
  EXPECT_FALSE(Logged("MediaControl.Run"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error " + Hex(status::kNoInterface) + ": Cannot run preview graph");
}

TEST_F(GraphStateTest, HaltFailureKeepsPreviewingSet) {
  Filters(kCameraA);
  ASSERT_EQ(frame_->MakePreviewGraph(), 1);
  ASSERT_EQ(frame_->RunPreview(), 1);
  Fail("MediaControl.Stop");
  EXPECT_EQ(frame_->HaltPreview(), 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error " + Hex(status::kFail) + ": Cannot stop preview graph");
  EXPECT_TRUE(frame_->Previewing());
  platform_->Settings().fail.clear();
  EXPECT_EQ(frame_->HaltPreview(), 1);
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_FALSE(platform_->AnyGraphRunning());
}

}  // namespace
