// Devices and the preview on the scripted platform: the Devices menu, selection and its
// status text, the Options menu's device dialogs and their commands, hot-plug, and the
// Preview command with the preview graph's rules.
#include <QAction>
#include <QMenu>
#include <cstdio>

#include "tests/capture/frame_fixture.h"

using media::ScriptedDevice;
using Dialog = CMainFrame::DeviceDialog;

namespace {

constexpr int kDevicesMenu = 1;
constexpr int kOptionsMenu = 2;

std::string Hex(media::Status s) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(s));
  return text;
}

ScriptedDevice Device(const std::string& id, const std::string& name) {
  ScriptedDevice d;
  d.displayName = "@device:scripted:" + id;
  d.friendlyName = name;
  return d;
}

class DevicesTest : public FrameFixture {
 protected:
  void OpenPopup(int position) { QMetaObject::invokeMethod(frame_->MenuAt(position), "aboutToShow"); }
  void SetDevices(std::vector<ScriptedDevice> devices) {
    platform_->Settings().devices = std::move(devices);
  }
  void WantPreviewAtStart() { WriteProfile("[camprof]\nWantPreview=1\n"); }
};

// --- Devices menu and selection ---

TEST_F(DevicesTest, TwoDevicesAreItems16And17AndTheSavedOneIsChecked) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:camera-b\n");
  StartFrame();
  EXPECT_EQ(MenuTexts(kDevicesMenu), (std::vector<std::string>{"Camera A", "Camera B"}));
  const QList<QAction*> items = frame_->MenuAt(kDevicesMenu)->actions();
  EXPECT_EQ(items[0]->data().toInt(), 16);
  EXPECT_EQ(items[1]->data().toInt(), 17);
  EXPECT_FALSE(items[0]->isChecked());
  EXPECT_TRUE(items[1]->isChecked());
  EXPECT_EQ(frame_->DeviceCount(), 2);
  EXPECT_EQ(frame_->PaneText(), "Camera B");
}

TEST_F(DevicesTest, ChoosingTheOtherDeviceMovesTheCheckAndThePreview) {
  WantPreviewAtStart();
  StartFrame();
  ASSERT_TRUE(frame_->Previewing());
  platform_->ClearCallLog();
  frame_->OnCommand(cmd::kDeviceFirst + 1);
  EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:scripted:camera-b");
  EXPECT_TRUE(Logged("MediaControl.Stop"));
  EXPECT_TRUE(Logged("Moniker.BindToFilter Camera B"));
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(frame_->Action(cmd::kDeviceFirst + 1)->isChecked());
  EXPECT_FALSE(frame_->Action(cmd::kDeviceFirst)->isChecked());
  EXPECT_EQ(frame_->PaneText(), "Camera B");
  // The same device again: nothing is rebuilt, only the marks and the text are set.
  platform_->ClearCallLog();
  frame_->SetPaneText("stale");
  frame_->OnCommand(cmd::kDeviceFirst + 1);
  EXPECT_EQ(CountLogged("Moniker.BindToFilter"), 0);
  EXPECT_EQ(CountLogged("MediaControl."), 0);
  EXPECT_EQ(frame_->PaneText(), "Camera B");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DevicesTest, AtMostTenDevicesAndNamelessOnesKeepTheirPlace) {
  std::vector<ScriptedDevice> devices;
  for (int i = 0; i < 12; ++i) devices.push_back(Device("d" + std::to_string(i), "Cam " + std::to_string(i)));
  devices[1].friendlyName.clear();  // no "FriendlyName" in its property bag
  devices[2].friendlyName = "R&D camera";
  SetDevices(devices);
  StartFrame();
  EXPECT_EQ(frame_->DeviceCount(), 10);
  const QList<QAction*> items = frame_->MenuAt(kDevicesMenu)->actions();
  ASSERT_EQ(items.size(), 9);
  EXPECT_EQ(items[0]->data().toInt(), 16);
  EXPECT_EQ(items[1]->data().toInt(), 18);  // position 1 has no item
  EXPECT_EQ(items[1]->text(), "R&&D camera");
  EXPECT_EQ(items[8]->data().toInt(), 25);
  frame_->OnCommand(18);
  EXPECT_EQ(frame_->PaneText(), "R&D camera");
}

TEST_F(DevicesTest, NoDevicesOrNoEnumeratorLeaveAnEmptyMenu) {
  // No hardware and no way to look for it are different messages.
  const struct {
    const char* failing;  // operation made to fail, or none
    bool withDevice;
    const char* message;
  } cases[] = {{nullptr, false, "Sorry, you have no video capture hardware"},
               {"Platform.CreateClassEnumerator", true, "Sorry, you have no video capture hardware"},
               {"Platform.CreateSystemDeviceEnum", true, "Error Creating Device Enumerator"}};
  for (const auto& c : cases) {
    SetDevices(c.withDevice ? std::vector<media::ScriptedDevice>{Device("a", "A")}
                            : std::vector<media::ScriptedDevice>{});
    platform_->Settings().fail.clear();
    if (c.failing) platform_->Settings().fail[c.failing] = media::status::kFail;
    messages_.clear();
    StartFrame();
    EXPECT_EQ(messages_, std::vector<std::string>{c.message}) << c.message;
    EXPECT_TRUE(frame_->MenuAt(kDevicesMenu)->actions().isEmpty());
    EXPECT_FALSE(frame_->SelectedDevice());
    frame_.reset();
  }
}

TEST_F(DevicesTest, ADeviceThatCannotBeOpenedLeavesNoCaptureFilter) {
  SetDevices({media::FailingDevice("Busy Cam")});
  WantPreviewAtStart();
  StartFrame();
  EXPECT_EQ(messages_, std::vector<std::string>{"Error " + Hex(media::status::kDeviceInUse) +
                                                ": Cannot create video capture filter"});
  EXPECT_FALSE(frame_->PreviewGraphBuilt());
  OpenPopup(kOptionsMenu);
  EXPECT_EQ(MenuTexts(kOptionsMenu), (std::vector<std::string>{"Preview", "-"}));
}

struct StatusRow {
  bool hasCompression;
  std::string description, version, expected;
};
class StatusTextTest : public DevicesTest, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(StatusTextTest, CompressionInformationOrTheDeviceName) {
  const StatusRow r = GetParam();
  ScriptedDevice d = Device("c", "Capture Card");
  d.hasCompression = r.hasCompression;
  d.compressionDescription = r.description;
  d.compressionVersion = r.version;
  SetDevices({d});
  StartFrame();
  EXPECT_EQ(frame_->PaneText().toStdString(), r.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, StatusTextTest,
    ::testing::Values(StatusRow{true, "Acme MPEG", "2.1", "Acme MPEG - 2.1"},
                      StatusRow{true, "Acme MPEG", "", "Capture Card"},
                      StatusRow{true, "", "2.1", "Capture Card"},
                      StatusRow{false, "", "", "Capture Card"},
                      // Longer than the buffers it is asked with: cut to 79 and 39.
                      StatusRow{true, std::string(100, 'd'), std::string(50, 'v'),
                                std::string(79, 'd') + " - " + std::string(39, 'v')}));

// --- Options menu and device dialogs ---

TEST_F(DevicesTest, DriverDialogsWithAFormatDialogAreTheOnlyEntries) {
  ScriptedDevice d = Device("vfw", "VfW Cam");
  d.driverDialogs = media::dialog::kFormat | media::dialog::kSource | media::dialog::kDisplay;
  d.filterPages = 2;
  d.capturePinPages = 1;
  SetDevices({d});
  StartFrame();
  OpenPopup(kOptionsMenu);
  EXPECT_EQ(MenuTexts(kOptionsMenu),
            (std::vector<std::string>{"Preview", "-", "Video Format...", "Video Source...",
                                      "Video Display..."}));
  EXPECT_EQ(frame_->DialogPosition(Dialog::DriverFormat), 0);
  EXPECT_EQ(frame_->DialogPosition(Dialog::DriverSource), 1);
  EXPECT_EQ(frame_->DialogPosition(Dialog::DriverDisplay), 2);
  EXPECT_EQ(frame_->DialogPosition(Dialog::FilterPages), -1);
}

TEST_F(DevicesTest, PropertyPagesFollowTheDriversSourceDialogInOrder) {
  ScriptedDevice d = Device("tv", "TV Card");
  d.driverDialogs = media::dialog::kSource;
  d.hasPreviewPin = true;
  d.filterPages = 1;
  d.capturePinPages = 1;
  d.previewPinPages = 1;
  d.hasCrossbar = true;
  d.crossbarPages = 1;
  d.hasTuner = true;
  d.tunerPages = 1;
  SetDevices({d});
  StartFrame(res::kMainMenuEnglish);
  OpenPopup(kOptionsMenu);
  EXPECT_EQ(MenuTexts(kOptionsMenu),
            (std::vector<std::string>{"Preview", "-", "Video Source...", "Video Source...",
                                      "Video Format...", "Video Preview Pin...",
                                      "Video Crossbar...", "TV Tuner..."}));
  EXPECT_EQ(frame_->DialogPosition(Dialog::CapturePinPages), 2);
  EXPECT_EQ(frame_->DialogPosition(Dialog::TunerPages), 5);
  // Opening the popup again rebuilds the same entries, not more.
  OpenPopup(kOptionsMenu);
  EXPECT_EQ(MenuTexts(kOptionsMenu).size(), 8u);
  // In Chinese the entries that have a Chinese text use it.
  frame_.reset();
  StartFrame(res::kMainMenuChinese);
  OpenPopup(kOptionsMenu);
  EXPECT_EQ(MenuTexts(kOptionsMenu),
            (std::vector<std::string>{"预览", "-", "视频源...", "视频源...", "视频格式...",
                                      "Video Preview Pin...", "Video Crossbar...", "TV Tuner..."}));
}

TEST_F(DevicesTest, DriverFormatDialogThatCannotConnectRebuildsTheWantedPreview) {
  ScriptedDevice d = Device("vfw", "VfW Cam");
  d.driverDialogs = media::dialog::kFormat;
  d.formatDialogResult = media::status::kCannotConnect;
  SetDevices({d});
  WantPreviewAtStart();
  StartFrame();
  ASSERT_TRUE(frame_->Previewing());
  platform_->ClearCallLog();
  frame_->OnCommand(cmd::kDeviceDialogFirst + frame_->DialogPosition(Dialog::DriverFormat));
  EXPECT_TRUE(Logged("Dialog.Show VfW Cam 2"));
  EXPECT_TRUE(Logged("Graph.RemoveFilter Grabber"));  // dismantled after "cannot connect"
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_EQ(CountLogged("MediaControl.Run"), 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DevicesTest, PageCommandsOpenThePropertyFrameOnTheirObject) {
  ScriptedDevice d = Device("tv", "TV Card");
  d.hasPreviewPin = true;
  d.filterPages = 2;
  d.capturePinPages = 1;
  d.previewPinPages = 1;
  d.hasCrossbar = true;
  d.crossbarPages = 3;
  d.hasTuner = true;
  d.tunerPages = 1;
  SetDevices({d});
  WantPreviewAtStart();
  StartFrame();
  struct Row {
    Dialog which;
    std::string frame;
    bool rebuildsPreview;
  } rows[] = {{Dialog::FilterPages, "PropertyFrame TV Card 2 at 30,30", false},
              {Dialog::CapturePinPages, "PropertyFrame StreamConfig 1 at 30,30", true},
              {Dialog::PreviewPinPages, "PropertyFrame StreamConfig 1 at 30,30", true},
              {Dialog::CrossbarPages, "PropertyFrame Crossbar 3 at 30,30", false},
              {Dialog::TunerPages, "PropertyFrame TVTuner 1 at 30,30", false}};
  for (const Row& r : rows) {
    platform_->ClearCallLog();
    frame_->OnCommand(cmd::kDeviceDialogFirst + frame_->DialogPosition(r.which));
    EXPECT_TRUE(Logged(r.frame)) << r.frame;
    EXPECT_EQ(CountLogged("Graph.RemoveFilter Grabber"), r.rebuildsPreview ? 1 : 0) << r.frame;
    EXPECT_TRUE(frame_->Previewing()) << r.frame;
  }
  EXPECT_TRUE(messages_.empty());
}

// --- Preview ---

TEST_F(DevicesTest, PreviewCommandBuildsRunsAndHaltsWithItsCheckMark) {
  StartFrame();
  frame_->OnCommand(cmd::kPreview);
  EXPECT_TRUE(frame_->Previewing());
  OpenPopup(kOptionsMenu);
  EXPECT_TRUE(frame_->Action(cmd::kPreview)->isChecked());
  const auto window = platform_->LastVideoWindow();
  EXPECT_TRUE(window.visible);
  EXPECT_EQ(window.top, frame_->ToolBarHeight());
  EXPECT_EQ(window.left, 0);
  EXPECT_EQ(window.width, 320);
  EXPECT_EQ(window.height, 240);
  EXPECT_NE(std::find(platform_->FiltersInGraph().begin(), platform_->FiltersInGraph().end(),
                      "Grabber"),
            platform_->FiltersInGraph().end());
  frame_->OnCommand(cmd::kPreview);
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_TRUE(frame_->PreviewGraphBuilt());
  OpenPopup(kOptionsMenu);
  EXPECT_FALSE(frame_->Action(cmd::kPreview)->isChecked());
  // Halting again is not an error.
  EXPECT_EQ(frame_->HaltPreview(), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DevicesTest, ADeviceWithoutAPreviewPinPreviewsThroughTheGrabber) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:camera-b\nWantPreview=1\n");
  StartFrame();
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(Logged("Graph.Connect Camera B:Capture->Grabber:In"));
  EXPECT_TRUE(Logged("Graph.Render Grabber:Out"));
  EXPECT_TRUE(platform_->LastVideoWindow().visible);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DevicesTest, ADeviceInUseFailsWithTheTwoLineMessage) {
  platform_->Settings().devices[0].inUse = true;
  WantPreviewAtStart();
  StartFrame();
  EXPECT_EQ(messages_, std::vector<std::string>{
                           "Could not connect capture pin #0 to grabber.\r\nIs the capture "
                           "device being used by another application?"});
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_FALSE(frame_->PreviewGraphBuilt());
}

TEST_F(DevicesTest, TheFrameRateIsImposedOnlyWhenWanted) {
  struct Row {
    const char* profile;
    const char* setFormat;  // nullptr: the device's own rate stays
  } rows[] = {{"[camprof]\nWantPreview=1\nFrameRate=333333\n", "StreamConfig.SetFormat 320x240 333333"},
              {"[camprof]\nWantPreview=1\n", "StreamConfig.SetFormat 320x240 667111"},
              {"[camprof]\nWantPreview=1\nUseFrameRate=0\n", nullptr}};
  for (const Row& r : rows) {
    WriteProfile(r.profile);
    platform_->ClearCallLog();
    StartFrame();
    EXPECT_TRUE(frame_->Previewing());
    if (r.setFormat)
      EXPECT_TRUE(Logged(r.setFormat)) << r.profile;
    else
      EXPECT_EQ(CountLogged("StreamConfig.SetFormat"), 0) << r.profile;
    frame_.reset();
  }
}

// --- Hot-plug ---

TEST_F(DevicesTest, APluggedInCameraShowsUpWhenTheMenuNextOpens) {
  StartFrame();
  platform_->Settings().devices.push_back(Device("c", "Camera C"));
  OpenPopup(kDevicesMenu);
  EXPECT_EQ(MenuTexts(kDevicesMenu).size(), 2u);  // no notice yet: the list stands
  platform_->FireDeviceChange();
  Pump();
  OpenPopup(kDevicesMenu);
  EXPECT_EQ(MenuTexts(kDevicesMenu),
            (std::vector<std::string>{"Camera A", "Camera B", "Camera C"}));
  EXPECT_TRUE(frame_->Action(cmd::kDeviceFirst)->isChecked());
  // The selected device is still the selected one after the rebuild.
  platform_->ClearCallLog();
  frame_->OnCommand(cmd::kDeviceFirst);
  EXPECT_EQ(CountLogged("Moniker.BindToFilter"), 0);
}

TEST_F(DevicesTest, PullingOutThePreviewedCameraStopsThePreview) {
  WantPreviewAtStart();
  StartFrame();
  ASSERT_TRUE(frame_->Previewing());
  platform_->LoseDevice(0);
  Pump();
  EXPECT_EQ(messages_,
            std::vector<std::string>{"Stopping Capture (Device Lost). Select New Capture Device"});
  EXPECT_FALSE(frame_->Previewing());
  EXPECT_FALSE(platform_->AnyGraphRunning());
  OpenPopup(kDevicesMenu);
  EXPECT_EQ(MenuTexts(kDevicesMenu), std::vector<std::string>{"Camera B"});
  frame_->OnCommand(cmd::kDeviceFirst);
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_EQ(frame_->PaneText(), "Camera B");
  EXPECT_EQ(messages_.size(), 1u);
}

}  // namespace
