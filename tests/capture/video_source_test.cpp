// The "Video Source..." dialog on the fake UVC webcam, and each device's remembered controls
// and format given back when its capture filters are made again.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <linux/videodev2.h>

#include <cerrno>

#include "capture/device_memory.h"
#include "capture/dialogs/video_source_dlg.h"
#include "capture/platform/v4l2/fake_v4l2.h"
#include "capture/platform/v4l2/v4l2_registry.h"
#include "capture/profile_file.h"
#include "tests/capture/frame_fixture.h"

using v4l2::CV4L2Controls;
using v4l2::FakeV4L2;

namespace {

class VideoSourceDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    fake_ = std::make_shared<FakeV4L2>();
    controls_ = CV4L2Controls::Open(fake_, "/dev/video0");
    ASSERT_TRUE(controls_);
    dialog_ = std::make_unique<CVideoSourceDlg>(*controls_);
  }
  template <typename W>
  W* Widget(uint32_t id) {
    return qobject_cast<W*>(dialog_->ControlWidget(id));
  }
  std::shared_ptr<FakeV4L2> fake_;
  std::unique_ptr<CV4L2Controls> controls_;
  std::unique_ptr<CVideoSourceDlg> dialog_;
};

TEST_F(VideoSourceDlgTest, EachControlGetsTheWidgetOfItsKindWithItsValue) {
  auto* brightness = Widget<QSlider>(V4L2_CID_BRIGHTNESS);
  ASSERT_TRUE(brightness);
  EXPECT_EQ(brightness->minimum(), 0);
  EXPECT_EQ(brightness->maximum(), 255);
  EXPECT_EQ(brightness->value(), 128);
  EXPECT_EQ(brightness->accessibleName(), "Brightness");
  auto* awb = Widget<QCheckBox>(V4L2_CID_AUTO_WHITE_BALANCE);
  ASSERT_TRUE(awb);
  EXPECT_TRUE(awb->isChecked());
  auto* power = Widget<QComboBox>(V4L2_CID_POWER_LINE_FREQUENCY);
  ASSERT_TRUE(power);
  EXPECT_EQ(power->count(), 3);
  EXPECT_EQ(power->currentText(), "60 Hz");
  auto* exposure = Widget<QComboBox>(V4L2_CID_EXPOSURE_AUTO);
  ASSERT_TRUE(exposure);
  EXPECT_EQ(exposure->currentText(), "Aperture Priority Mode");
  EXPECT_FALSE(dialog_->ControlWidget(V4L2_CID_USER_CLASS));
  EXPECT_TRUE(dialog_->Note().isEmpty());
}

TEST_F(VideoSourceDlgTest, ChangesAreLiveAndInactiveControlsFollowTheirMode) {
  auto* temperature = Widget<QSlider>(V4L2_CID_WHITE_BALANCE_TEMPERATURE);
  auto* exposureTime = Widget<QSlider>(V4L2_CID_EXPOSURE_ABSOLUTE);
  EXPECT_FALSE(temperature->isEnabled());
  EXPECT_FALSE(exposureTime->isEnabled());
  Widget<QCheckBox>(V4L2_CID_AUTO_WHITE_BALANCE)->setChecked(false);
  EXPECT_EQ(fake_->Value(V4L2_CID_AUTO_WHITE_BALANCE), 0);
  EXPECT_TRUE(temperature->isEnabled());
  auto* exposure = Widget<QComboBox>(V4L2_CID_EXPOSURE_AUTO);
  exposure->activated(exposure->findText("Manual Mode"));
  EXPECT_EQ(fake_->Value(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
  EXPECT_TRUE(exposureTime->isEnabled());
  Widget<QSlider>(V4L2_CID_BRIGHTNESS)->setValue(200);
  EXPECT_EQ(fake_->Value(V4L2_CID_BRIGHTNESS), 200);
  // The camera rounds to its step; the slider shows what it took.
  Widget<QCheckBox>(V4L2_CID_FOCUS_AUTO)->setChecked(false);
  auto* focus = Widget<QSlider>(V4L2_CID_FOCUS_ABSOLUTE);
  focus->setValue(13);
  EXPECT_EQ(fake_->Value(V4L2_CID_FOCUS_ABSOLUTE), 15);
  EXPECT_EQ(focus->value(), 15);
  EXPECT_TRUE(dialog_->Note().isEmpty());
}

TEST_F(VideoSourceDlgTest, ARefusedValueIsNamedAndTheWidgetShowsTheCamerasValue) {
  fake_->Refuse(V4L2_CID_GAIN, EIO);
  auto* gain = Widget<QSlider>(V4L2_CID_GAIN);
  gain->setValue(10);
  EXPECT_EQ(fake_->Value(V4L2_CID_GAIN), 64);
  EXPECT_EQ(gain->value(), 64);
  EXPECT_TRUE(dialog_->Note().startsWith("Gain: the camera did not take 10")) << dialog_->Note().toStdString();
  // The next accepted change clears the note.
  Widget<QSlider>(V4L2_CID_CONTRAST)->setValue(40);
  EXPECT_TRUE(dialog_->Note().isEmpty());
}

TEST_F(VideoSourceDlgTest, DefaultPutsBackWhatTheUserMayChange) {
  Widget<QSlider>(V4L2_CID_BRIGHTNESS)->setValue(10);
  Widget<QCheckBox>(V4L2_CID_AUTO_WHITE_BALANCE)->setChecked(false);
  Widget<QSlider>(V4L2_CID_WHITE_BALANCE_TEMPERATURE)->setValue(5000);
  auto* power = Widget<QComboBox>(V4L2_CID_POWER_LINE_FREQUENCY);
  power->activated(power->findText("50 Hz"));
  dialog_->DefaultButton()->click();
  EXPECT_EQ(fake_->Value(V4L2_CID_BRIGHTNESS), 128);
  EXPECT_EQ(fake_->Value(V4L2_CID_POWER_LINE_FREQUENCY), 2);
  EXPECT_EQ(fake_->Value(V4L2_CID_AUTO_WHITE_BALANCE), 1);
  // Automatic white balance is back, so the temperature is the camera's to choose.
  EXPECT_FALSE(Widget<QSlider>(V4L2_CID_WHITE_BALANCE_TEMPERATURE)->isEnabled());
  EXPECT_EQ(Widget<QSlider>(V4L2_CID_BRIGHTNESS)->value(), 128);
  EXPECT_EQ(power->currentText(), "60 Hz");
}

TEST_F(VideoSourceDlgTest, CancelPutsBackTheValuesFoundAtOpening) {
  Widget<QSlider>(V4L2_CID_SATURATION)->setValue(99);
  Widget<QCheckBox>(V4L2_CID_AUTO_WHITE_BALANCE)->setChecked(false);
  dialog_->reject();
  EXPECT_EQ(fake_->Value(V4L2_CID_SATURATION), 32);
  EXPECT_EQ(fake_->Value(V4L2_CID_AUTO_WHITE_BALANCE), 1);
}

TEST_F(VideoSourceDlgTest, ACameraPulledOutWhileOpenGreysEverything) {
  fake_->Unplug();
  Widget<QSlider>(V4L2_CID_BRIGHTNESS)->setValue(1);
  EXPECT_FALSE(dialog_->Note().isEmpty());
  EXPECT_FALSE(Widget<QSlider>(V4L2_CID_BRIGHTNESS)->isEnabled());
  EXPECT_FALSE(Widget<QCheckBox>(V4L2_CID_AUTO_WHITE_BALANCE)->isEnabled());
  dialog_->reject();  // nothing to put back into: no hang, no crash
}

// --- Remembered per device ---

class DeviceMemoryTest : public FrameFixture {
 protected:
  void SetUp() override {
    FrameFixture::SetUp();
    // Camera A has a V4L2 node; camera B has none.
    v4l2::SetControlsFinder([this](const std::string& name) -> std::unique_ptr<CV4L2Controls> {
      if (name != "@device:scripted:camera-a") return nullptr;
      return CV4L2Controls::Open(camera_, "/dev/video0");
    });
    media::ScriptedCapability big;
    big.width = 640;
    big.height = 480;
    platform_->Settings().devices[0].capabilities.push_back(big);
  }
  void TearDown() override {
    v4l2::SetControlsFinder({});
    FrameFixture::TearDown();
  }
  // The camera loses its settings, as when it is unplugged or the computer restarts.
  void PowerCycleCamera() { camera_ = std::make_shared<FakeV4L2>(); }
  // Runs the Video Source command; `drive` works the dialog, which is then accepted.
  void RunVideoSource(const std::function<void(CVideoSourceDlg&)>& drive) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CVideoSourceDlg*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dialog);
      drive(*dialog);
      dialog->accept();
    });
    frame_->OnCommand(cmd::kDeviceDialogFirst + frame_->DialogPosition(CMainFrame::DeviceDialog::FilterPages));
  }
  std::shared_ptr<FakeV4L2> camera_ = std::make_shared<FakeV4L2>();
};

TEST_F(DeviceMemoryTest, ControlsSetInTheDialogComeBackAfterARestart) {
  StartFrame();
  ASSERT_GE(frame_->DialogPosition(CMainFrame::DeviceDialog::FilterPages), 0);
  RunVideoSource([](CVideoSourceDlg& d) {
    qobject_cast<QSlider*>(d.ControlWidget(V4L2_CID_BRIGHTNESS))->setValue(200);
    qobject_cast<QCheckBox*>(d.ControlWidget(V4L2_CID_AUTO_WHITE_BALANCE))->setChecked(false);
    qobject_cast<QSlider*>(d.ControlWidget(V4L2_CID_WHITE_BALANCE_TEMPERATURE))->setValue(5000);
  });
  EXPECT_EQ(camera_->Value(V4L2_CID_BRIGHTNESS), 200);
  CloseFrame();
  PowerCycleCamera();
  ASSERT_EQ(camera_->Value(V4L2_CID_BRIGHTNESS), 128);
  StartFrame();
  EXPECT_EQ(camera_->Value(V4L2_CID_BRIGHTNESS), 200);
  EXPECT_EQ(camera_->Value(V4L2_CID_AUTO_WHITE_BALANCE), 0);
  // Set after the automatic mode went off, so the camera took it.
  EXPECT_EQ(camera_->Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);
  // Switching devices and back gives them back too.
  PowerCycleCamera();
  frame_->OnCommand(cmd::kDeviceFirst + 1);
  frame_->OnCommand(cmd::kDeviceFirst);
  EXPECT_EQ(camera_->Value(V4L2_CID_BRIGHTNESS), 200);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DeviceMemoryTest, ControlsTheCameraNoLongerHasOrRefusesAreSkipped) {
  WriteProfile("[@device:scripted:camera-a]\n0x00ABCDEF=5\n0x00980913=77\n0x009A0902=900\n"
               "0x00980900=notanumber\n");
  StartFrame();
  EXPECT_EQ(camera_->Value(V4L2_CID_GAIN), 77);
  EXPECT_EQ(camera_->Value(V4L2_CID_EXPOSURE_ABSOLUTE), 250);  // refused in auto exposure
  EXPECT_EQ(camera_->Value(V4L2_CID_BRIGHTNESS), 128);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DeviceMemoryTest, ARememberedFormatIsAskedForOnlyWhenTheDeviceListsIt) {
  struct Row {
    const char* format;
    const char* setFormat;  // nullptr: not asked for
  } rows[] = {{"00000000 24 640x480 333333", "StreamConfig.SetFormat 640x480 333333"},
              // A rate the format does not offer gives way to the format's own.
              {"00000000 24 640x480 666666", "StreamConfig.SetFormat 640x480 333333"},
              {"00000000 24 1280x720 333333", nullptr},
              {"32595559 16 640x480 333333", nullptr},
              {"garbage", nullptr}};
  for (const Row& r : rows) {
    WriteProfile(QByteArray("[@device:scripted:camera-a]\nFormat=") + r.format + "\n");
    platform_->ClearCallLog();
    StartFrame();
    if (r.setFormat) {
      EXPECT_TRUE(Logged(r.setFormat)) << r.format;
    }
    EXPECT_EQ(CountLogged("StreamConfig.SetFormat"), r.setFormat ? 1 : 0) << r.format;
    EXPECT_EQ(frame_->VideoWidth(), r.setFormat ? 640 : 320) << r.format;
    frame_.reset();
  }
}

TEST_F(DeviceMemoryTest, TheFormatChosenInTheFormatPagesIsRemembered) {
  platform_->Settings().devices[0].capturePinPages = 1;
  StartFrame();
  frame_->OnCommand(cmd::kDeviceDialogFirst +
                    frame_->DialogPosition(CMainFrame::DeviceDialog::CapturePinPages));
  const CDeviceMemory memory = CDeviceMemory::Read("@device:scripted:camera-a");
  ASSERT_TRUE(memory.RememberedFormat());
  EXPECT_EQ(*memory.RememberedFormat(), (CDeviceMemory::Format{0, 24, 320, 240, 333333}));
  // Camera B has no controls and no pages: nothing of it is stored.
  EXPECT_FALSE(CDeviceMemory::Read("@device:scripted:camera-b").RememberedFormat());
}

TEST_F(DeviceMemoryTest, ADeviceWithoutControlsOffersNoVideoSourceEntry) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:camera-b\n");
  StartFrame();
  EXPECT_EQ(frame_->DialogPosition(CMainFrame::DeviceDialog::FilterPages), -1);
}

}  // namespace
