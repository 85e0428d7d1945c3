// The live preview on the GStreamer backend with synthetic cameras, driven through the main
// frame: frames reach the video widget and move, halt / run / dismantle cycles leave nothing
// behind, a camera pulled out while previewing takes the device-lost path, and a camera's
// remembered controls and format come back whenever its graph starts again.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

#include "capture/dialogs/dialog_runner.h"
#include "capture/main_frame.h"
#include "capture/platform/gst/gst_graph.h"
#include "capture/platform/gst/gst_platform.h"
#include "gstqt/video_widget.h"
#include "capture/platform/v4l2/v4l2_registry.h"
#include "resources/resources.h"
#include "tests/capture/gst_frame_fixture.h"
#include "tests/capture/platform/live_test_support.h"

struct CMainFrameTestPeer {
  static void Select(CMainFrame& f, media::IMediaPlatform& p, int camera) {
    std::shared_ptr<media::IMoniker> m;
    ASSERT_EQ(p.ParseDisplayName("@device:gst:test:" + std::to_string(camera), m), media::status::kOk);
    f.SelectDevice(m);
  }
  static void Remember(CMainFrame& f, v4l2::CV4L2Controls& controls) { f.RememberDeviceControls(controls); }
  static void SetCaptureFile(CMainFrame& f, const std::string& path) { f.m_captureFileName = path; }
  static GstElement* Pipeline(CMainFrame& f) {
    auto* g = dynamic_cast<media::gst::GGraph*>(f.m_graph.get());
    return g ? g->Pipeline() : nullptr;
  }
  // The grabber's newest frame as bottom-up BGR rows (empty before the first frame).
  static std::vector<uint8_t> Frame(CMainFrame& f) {
    int32_t size = 0;
    if (!f.m_sampleGrabber || f.m_sampleGrabber->GetCurrentBufferSize(size) != media::status::kOk)
      return {};
    std::vector<uint8_t> dib(size_t(size), 0);
    if (f.m_sampleGrabber->GetCurrentBuffer(size, dib.data()) != media::status::kOk) return {};
    return dib;
  }
};

namespace {

using livetest::WaitFor;
using Peer = CMainFrameTestPeer;

double Mean(const std::vector<uint8_t>& bytes) {
  double sum = 0;
  for (uint8_t b : bytes) sum += b;
  return bytes.empty() ? -1 : sum / double(bytes.size());
}

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

media::gstpreview::PreviewWidget* VideoWidget(QWidget& frame) {
  for (QWidget* w : frame.findChildren<QWidget*>())
    if (auto* p = dynamic_cast<media::gstpreview::PreviewWidget*>(w)) return p;
  return nullptr;
}

class PreviewGstTest : public GstFrameFixture {
 protected:
  static void SetUpTestSuite() { StartPlatform("5", "capture_preview_gst_tests"); }
  void PreviewOn() {
    if (!frame_->WantPreview()) frame_->OnCommand(cmd::kPreview);
    ASSERT_TRUE(frame_->Previewing());
    ASSERT_TRUE(WaitFor([&] { return !Peer::Frame(*frame_).empty(); }));
  }
  static int32_t Control(int camera, uint32_t id) {
    auto c = v4l2::ControlsForDevice("@device:gst:test:" + std::to_string(camera));
    int32_t v = -1;
    if (c) c->Get(id, v);
    return v;
  }
  static void SetControl(int camera, uint32_t id, int32_t value) {
    auto c = v4l2::ControlsForDevice("@device:gst:test:" + std::to_string(camera));
    ASSERT_TRUE(c);
    ASSERT_EQ(c->Set(id, value), 0);
  }

};

TEST_F(PreviewGstTest, FramesReachTheVideoWidgetAndMove) {
  StartFrame();
  Peer::Select(*frame_, *platform_, 1);  // snow: every frame differs
  PreviewOn();
  media::gstpreview::PreviewWidget* widget = VideoWidget(*frame_);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->size(), QSize(320, 240));
  ASSERT_TRUE(WaitFor([&] { return widget->FramesPainted() >= 2; }));
  const QImage first = widget->grab().toImage();
  const uint64_t painted = widget->FramesPainted();
  ASSERT_TRUE(WaitFor([&] { return widget->FramesPainted() > painted + 1; }));
  const QImage second = widget->grab().toImage();
  EXPECT_NE(first, second);
  EXPECT_NE(first.pixel(10, 10), QColor(Qt::black).rgb()) << "nothing painted";
}

// Backing out of Start Capture (Cancel in Ready to Capture, or in the file dialog it opens
// when no file is set) brings the live preview back.
TEST_F(PreviewGstTest, BackingOutOfStartCaptureKeepsThePreviewLive) {
  QTemporaryDir dir;
  capture_dialogs::SetRunnerForTesting([](QDialog&) { return int(QDialog::Rejected); });
  StartFrame();
  Peer::Select(*frame_, *platform_, 1);
  PreviewOn();
  for (const std::string& file : {dir.filePath("clip.avi").toStdString(), std::string()}) {
    Peer::SetCaptureFile(*frame_, file);
    frame_->OnCommand(cmd::kStartCapture);
    EXPECT_FALSE(frame_->Capturing());
    EXPECT_TRUE(frame_->Previewing());
    media::gstpreview::PreviewWidget* widget = VideoWidget(*frame_);
    ASSERT_NE(widget, nullptr);
    const uint64_t painted = widget->FramesPainted();
    EXPECT_TRUE(WaitFor([&] { return widget->FramesPainted() > painted + 1; }, 10000)) << file;
    EXPECT_TRUE(widget->isVisible());
  }
  capture_dialogs::SetRunnerForTesting({});
  EXPECT_TRUE(messages_.empty());
}

// Each cycle stops and starts the graph, then takes it down and builds it again. The first
// cycle pays GStreamer's one-time costs (its thread pools); later ones may add nothing.
TEST_F(PreviewGstTest, HaltRunDismantleCyclesLeaveNothingBehind) {
  StartFrame();
  Peer::Select(*frame_, *platform_, 0);
  PreviewOn();
  static std::atomic<int> alive{0};
  GstElement* pipeline = Peer::Pipeline(*frame_);
  ASSERT_NE(pipeline, nullptr);
  // Every element that enters the pipeline is counted until it is finalized.
  const gulong handler = g_signal_connect(
      pipeline, "deep-element-added", G_CALLBACK(+[](GstBin*, GstBin*, GstElement* e, gpointer) {
        ++alive;
        g_object_weak_ref(G_OBJECT(e), [](gpointer, GObject*) { --alive; }, nullptr);
      }),
      nullptr);
  auto cycle = [&] {
    frame_->HaltPreview();
    ASSERT_EQ(frame_->RunPreview(), 1);
    frame_->HaltPreview();
    frame_->DismantleGraph();
    ASSERT_EQ(frame_->MakePreviewGraph(), 1);
    ASSERT_EQ(frame_->RunPreview(), 1);
    ASSERT_TRUE(WaitFor([&] { return !Peer::Frame(*frame_).empty(); }));
  };
  cycle();
  const int fds = CountEntries("/proc/self/fd");
  const int threads = CountEntries("/proc/self/task");
  const int elements = alive.load();
  ASSERT_GT(elements, 0) << "no element seen entering the pipeline";
  for (int i = 0; i < 6; ++i) cycle();
  EXPECT_LE(CountEntries("/proc/self/fd"), fds + 2);
  EXPECT_LE(CountEntries("/proc/self/task"), threads + 2);
  EXPECT_LE(alive.load(), elements);
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  g_signal_handler_disconnect(pipeline, handler);
  // Taken down for good, no element that passed through the pipeline is left.
  frame_->HaltPreview();
  frame_->DismantleGraph();
  frame_->ReleaseCaptureFilters();
  EXPECT_TRUE(WaitFor([&] { return alive.load() == 0; }, 5000)) << alive.load() << " elements left";
}

TEST_F(PreviewGstTest, CameraPulledOutWhilePreviewingTakesTheDeviceLostPath) {
  StartFrame();
  Peer::Select(*frame_, *platform_, 1);
  PreviewOn();
  ASSERT_TRUE(media::SetTestCameraPresentForTesting(1, false));
  EXPECT_TRUE(WaitFor([&] { return !messages_.empty(); }));
  ASSERT_TRUE(media::SetTestCameraPresentForTesting(1, true));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_.front(), "Stopping Capture (Device Lost). Select New Capture Device");
  EXPECT_FALSE(frame_->Previewing());
  // The camera back, choosing it again previews again.
  Peer::Select(*frame_, *platform_, 1);
  EXPECT_TRUE(frame_->Previewing());
}

// The synthetic camera fails as a real one does when another program streams from it (the
// driver refuses once streaming begins) or when its node may not be opened (at open): the
// user is told the cause, and the camera previews once it is free again.
TEST_F(PreviewGstTest, BusyAndRefusedCamerasTellTheUserWhy) {
  const struct {
    const char* fault;
    const char* message;
  } cases[] = {{"busy",
                "Could not connect capture pin #0 to grabber.\r\nIs the capture device being used "
                "by another application?"},
               {"denied",
                "Could not open the capture device \"Lumora Test Camera 2\": permission denied.\r\n"
                "Add your user to the \"video\" group (sudo usermod -aG video $USER), then log out "
                "and log in again."}};
  StartFrame();
  Peer::Select(*frame_, *platform_, 0);
  PreviewOn();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ::setenv("LUMORA_TEST_CAMERA_FAULT", c.fault, 1);
    Peer::Select(*frame_, *platform_, 1);  // with the preview wanted, it starts at once
    ::unsetenv("LUMORA_TEST_CAMERA_FAULT");
    EXPECT_TRUE(WaitFor([&] { return !messages_.empty(); }));
    EXPECT_EQ(messages_, std::vector<std::string>{c.message});
    EXPECT_FALSE(frame_->Previewing());
    messages_.clear();
    Peer::Select(*frame_, *platform_, 0);
    Peer::Select(*frame_, *platform_, 1);
    EXPECT_TRUE(frame_->Previewing());
    EXPECT_TRUE(WaitFor([&] { return !Peer::Frame(*frame_).empty(); }));
    EXPECT_TRUE(messages_.empty()) << messages_.front();
  }
}

// A camera whose only mode nothing in the program decodes (raw Bayer) cannot preview; a
// camera whose stream breaks once the graph runs stops previewing. Either way the user is
// told once (no attempt follows on its own) and the program goes on: the camera with a
// single mode, handed over as it lists it, previews.
TEST_F(PreviewGstTest, APreviewThatCannotRunOrBreaksIsShownOnceAndTheProgramGoesOn) {
  const struct {
    int camera;
    const char* fault;
    const char* message;
  } cases[] = {{4, "", "Error 80040200: Cannot run preview graph"},
               {1, "stream", "ERROR during capture, error code=80040200"}};
  StartFrame();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Peer::Select(*frame_, *platform_, 3);
    PreviewOn();
    ::setenv("LUMORA_TEST_CAMERA_FAULT", c.fault, 1);
    Peer::Select(*frame_, *platform_, c.camera);
    ::unsetenv("LUMORA_TEST_CAMERA_FAULT");
    ASSERT_TRUE(WaitFor([&] { return !messages_.empty(); }));
    EXPECT_FALSE(WaitFor([&] { return messages_.size() > 1; }, 1500)) << messages_.back();
    EXPECT_EQ(messages_, std::vector<std::string>{c.message});
    EXPECT_FALSE(frame_->Previewing());
    messages_.clear();
  }
  Peer::Select(*frame_, *platform_, 3);
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(WaitFor([&] { return Peer::Frame(*frame_).size() == 640u * 480u * 3u; }));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

// The camera's controls act on the picture: the synthetic camera's brightness is seen in
// the frames, as a real camera's would be.
TEST_F(PreviewGstTest, BrightnessControlChangesThePicture) {
  StartFrame();
  Peer::Select(*frame_, *platform_, 0);
  PreviewOn();
  const double before = Mean(Peer::Frame(*frame_));
  SetControl(0, V4L2_CID_BRIGHTNESS, 255);
  EXPECT_TRUE(WaitFor([&] { return Mean(Peer::Frame(*frame_)) > before + 40; }));
  SetControl(0, V4L2_CID_BRIGHTNESS, 0);
  EXPECT_TRUE(WaitFor([&] { return Mean(Peer::Frame(*frame_)) < before - 40; }));
  SetControl(0, V4L2_CID_BRIGHTNESS, 128);
  EXPECT_TRUE(WaitFor([&] { return std::abs(Mean(Peer::Frame(*frame_)) - before) < 4; }));
}

// The format is chosen in the "Video Format..." page, the controls in the camera; another
// program then changes a control. A graph restart and a program restart (the camera
// plugged in again, back at its defaults) both bring back what was remembered.
TEST_F(PreviewGstTest, RememberedControlsAndFormatComeBackWhenTheGraphStartsAgain) {
  StartFrame();
  Peer::Select(*frame_, *platform_, 0);
  PreviewOn();
  const int page = frame_->DialogPosition(CMainFrame::DeviceDialog::CapturePinPages);
  ASSERT_GE(page, 0) << "no Video Format entry";
  bool answered = false;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    auto* space = dialog ? dialog->findChild<QComboBox*>("ColorSpace") : nullptr;
    auto* size = dialog ? dialog->findChild<QComboBox*>("OutputSize") : nullptr;
    auto* rate = dialog ? dialog->findChild<QComboBox*>("FrameRate") : nullptr;
    if (space && size && rate) {
      space->setCurrentIndex(space->findText("YUY2"));
      size->setCurrentIndex(size->findText("640 x 480"));
      rate->setCurrentIndex(rate->findText("15 fps"));
      answered = rate->currentIndex() >= 0;
    }
    if (dialog) QMetaObject::invokeMethod(dialog, answered ? "accept" : "reject", Qt::QueuedConnection);
  });
  frame_->OnDeviceDialog(page);
  ASSERT_TRUE(answered);
  EXPECT_EQ(frame_->VideoWidth(), 640);
  ASSERT_TRUE(frame_->Previewing());

  auto controls = v4l2::ControlsForDevice("@device:gst:test:0");
  ASSERT_TRUE(controls);
  ASSERT_EQ(controls->Set(V4L2_CID_BRIGHTNESS, 200), 0);
  ASSERT_EQ(controls->Set(V4L2_CID_AUTO_WHITE_BALANCE, 0), 0);
  ASSERT_EQ(controls->Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5000), 0);
  Peer::Remember(*frame_, *controls);

  // Another program moves them; the next start of the graph puts them back.
  SetControl(0, V4L2_CID_BRIGHTNESS, 10);
  SetControl(0, V4L2_CID_AUTO_WHITE_BALANCE, 1);
  frame_->HaltPreview();
  EXPECT_EQ(Control(0, V4L2_CID_BRIGHTNESS), 10);
  ASSERT_EQ(frame_->RunPreview(), 1);
  EXPECT_EQ(Control(0, V4L2_CID_BRIGHTNESS), 200);
  EXPECT_EQ(Control(0, V4L2_CID_AUTO_WHITE_BALANCE), 0);
  EXPECT_EQ(Control(0, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);

  // Program restart: the camera comes back with the driver's defaults.
  CloseFrame();
  ASSERT_TRUE(media::SetTestCameraPresentForTesting(0, false));
  ASSERT_TRUE(media::SetTestCameraPresentForTesting(0, true));
  ASSERT_TRUE(WaitFor([&] { return Control(0, V4L2_CID_BRIGHTNESS) == 128; }));
  StartFrame();
  ASSERT_TRUE(frame_->Previewing()) << "preview not back after the restart";
  EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:gst:test:0");
  EXPECT_EQ(frame_->VideoWidth(), 640);
  EXPECT_EQ(frame_->VideoHeight(), 480);
  EXPECT_EQ(Control(0, V4L2_CID_BRIGHTNESS), 200);
  EXPECT_EQ(Control(0, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);
  ASSERT_TRUE(WaitFor([&] { return Peer::Frame(*frame_).size() == 640u * 480u * 3u; }));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

}  // namespace
