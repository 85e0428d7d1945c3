// Cameras made outside the program, by another program on a private PipeWire daemon, each
// offering one mode: the main frame lists each, previews it live, takes a snapshot of it and
// captures 4 seconds that play for 4 seconds with every frame the closing line counts.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_settings.h"
#include "capture/dialogs/dialog_runner.h"
#include "gstqt/video_widget.h"
#include "capture/platform/media_platform.h"
#include "resources/resources.h"
#include "snapshot/snapshot_window.h"
#include "tests/capture/gst_frame_fixture.h"
#include "tests/capture/pipewire/pipewire_session.h"
#include "tests/capture/pipewire/platform_lists.h"
#include "tests/capture/platform/gst_leak_check.h"
#include "tests/capture/platform/live_test_support.h"

namespace {

using livetest::Shell;
using livetest::WaitFor;
using pwtest::CameraSpec;

constexpr int kCaptureSeconds = 4;

class PipeWireCameraTest : public GstFrameFixture, public testing::WithParamInterface<CameraSpec> {
 protected:
  // The program's own platform, kept for the whole run as the program keeps it: its device
  // monitor never stops (PipeWire's device provider, 0.3.65, at times frees a node twice
  // when it stops).
  static void SetUpTestSuite() {
    session_ = new pwtest::PipeWireSession;
    if (!session_->Start()) return;
    livetest::StartSuite("0", "capture_pipewire_tests");
    platform_ = &media::MediaPlatform();
    gstleak::KeepsTheProgramPlatform();
  }
  static void TearDownTestSuite() {
    platform_ = nullptr;
    delete session_;
    session_ = nullptr;
  }
  void SetUp() override {
    if (!session_->Error().empty() && !platform_) {
      // Only a machine without the programs skips; one that has them must run the suite.
      if (!pwtest::PipeWireSession::MissingPrograms().empty()) GTEST_SKIP() << session_->Error();
      FAIL() << session_->Error();
    }
    GstFrameFixture::SetUp();
    ASSERT_GT(session_->AddCamera(GetParam(), [](const std::string& name) { return pwtest::PlatformLists(*platform_, name); }),
              0)
        << session_->Error();
  }
  // Cameras stay until the session ends: the suite's later cases run beside them.
  void TearDown() override {
    capture_dialogs::SetRunnerForTesting({});
    GstFrameFixture::TearDown();
  }

  void WriteProfile(const std::string& captureFile) {
    const QString path = capture_settings::ProfilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString("[camprof]\nCaptureFile=" + captureFile +
                                      "\nUseFrameRate=0\nWantPreview=1\nUseTimeLimit=1\nTimeLimit=" +
                                      std::to_string(kCaptureSeconds) + "\n"));
  }
  // The Devices menu's entry of the camera, once the program's own monitor has it.
  QAction* DeviceEntry() {
    QAction* found = nullptr;
    WaitFor([&] {
      frame_->OnDeviceChange();
      frame_->FillDeviceMenu();
      for (QAction* a : frame_->MenuAt(1)->actions())
        if (a->text().toStdString() == GetParam().name) found = a;
      return found != nullptr;
    }, 10000);
    return found;
  }
  media::gstpreview::PreviewWidget* VideoWidget() {
    for (QWidget* w : frame_->findChildren<QWidget*>())
      if (auto* p = dynamic_cast<media::gstpreview::PreviewWidget*>(w)) return p;
    return nullptr;
  }

  static inline pwtest::PipeWireSession* session_ = nullptr;
};

TEST_P(PipeWireCameraTest, ListedPreviewedSnappedAndCaptured) {
  const CameraSpec& cam = GetParam();
  QTemporaryDir out;
  const std::string file = out.filePath("clip.avi").toStdString();
  WriteProfile(file);
  StartFrame();

  // Listed, and chosen from the menu as the user would.
  QAction* entry = DeviceEntry();
  ASSERT_NE(entry, nullptr) << cam.name << " not in the Devices menu";
  entry->trigger();
  ASSERT_TRUE(frame_->Previewing()) << (messages_.empty() ? "" : messages_.front());
  EXPECT_EQ(frame_->VideoWidth(), cam.width);
  EXPECT_EQ(frame_->VideoHeight(), cam.height);

  // The picture moves.
  media::gstpreview::PreviewWidget* widget = VideoWidget();
  ASSERT_NE(widget, nullptr);
  ASSERT_TRUE(WaitFor([&] { return widget->FramesPainted() >= 2; })) << "no frame painted";
  const QImage first = widget->grab().toImage();
  const uint64_t painted = widget->FramesPainted();
  ASSERT_TRUE(WaitFor([&] { return widget->FramesPainted() > painted + 2; }));
  EXPECT_NE(first, widget->grab().toImage()) << "the preview stands still";
  const uint64_t previewFrames = widget->FramesPainted();

  // A snapshot opens at the camera's size, with the picture in it (a white ball on black).
  frame_->OnCommand(cmd::kSnapshot);
  CSnapshotWnd* shot = CSnapshotWnd::Find();
  ASSERT_NE(shot, nullptr) << "no snapshot window";
  EXPECT_EQ(shot->View()->size(), QSize(cam.width, cam.height));
  const QImage picture = shot->View()->grab().toImage();
  bool light = false;
  for (int y = 0; y < picture.height() && !light; y += 4)
    for (int x = 0; x < picture.width() && !light; x += 4) light = qGray(picture.pixel(x, y)) > 200;
  EXPECT_TRUE(light) << "the snapshot holds no ball";

  // A capture that the time limit ends, then the preview again.
  capture_dialogs::SetRunnerForTesting([](QDialog&) { return int(QDialog::Accepted); });
  frame_->OnCommand(cmd::kStartCapture);
  ASSERT_TRUE(frame_->Capturing()) << (messages_.empty() ? "" : messages_.front());
  ASSERT_TRUE(WaitFor([&] { return !frame_->Capturing(); }, (kCaptureSeconds + 20) * 1000));
  const std::string closing = frame_->PaneText().toStdString();
  int frames = -1, sec = 0, tenth = 0, dropped = -1;
  ASSERT_EQ(std::sscanf(closing.c_str(), "Captured %d frames in %d.%d sec (%d dropped)", &frames, &sec, &tenth,
                        &dropped),
            4)
      << closing;
  EXPECT_TRUE(WaitFor([&] { return frame_->Previewing(); }));

  const std::string probe =
      Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
            "stream=codec_name,nb_read_frames:format=duration -of default=nw=1 '" + file + "' 2>/dev/null");
  double duration = -1;
  int read = -1;
  char codec[32] = "";
  for (const char* line = probe.c_str(); line; line = std::strchr(line, '\n') ? std::strchr(line, '\n') + 1 : nullptr) {
    std::sscanf(line, "duration=%lf", &duration);
    std::sscanf(line, "nb_read_frames=%d", &read);
    std::sscanf(line, "codec_name=%31s", codec);
  }
  EXPECT_NEAR(duration, kCaptureSeconds, 0.5) << probe;
  EXPECT_EQ(read, frames) << closing << "\n" << probe;
  EXPECT_NEAR(frames, kCaptureSeconds * cam.fps, cam.fps * 0.5) << closing;
  // What the camera sends compressed goes into the file as it came.
  if (cam.format == "MJPG") {
    EXPECT_STREQ(codec, "mjpeg");
  }
  std::printf("[ camera   ] %s: listed, preview moved (%llu painted), snapshot %dx%d, %s, ffprobe %.2f s %d frames\n",
              cam.name.c_str(), static_cast<unsigned long long>(previewFrames), shot->View()->width(),
              shot->View()->height(), closing.c_str(), duration, read);

  CloseFrame();
  EXPECT_TRUE(messages_.empty()) << messages_.front();
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, PipeWireCameraTest,
    testing::Values(CameraSpec{"PWCam-YUY2-30", "YUY2", 640, 480, 30}, CameraSpec{"PWCam-YUY2-15", "YUY2", 640, 480, 15},
                    CameraSpec{"PWCam-YUY2-60", "YUY2", 640, 480, 60}, CameraSpec{"PWCam-MJPG-480p", "MJPG", 640, 480, 30},
                    CameraSpec{"PWCam-MJPG-720p", "MJPG", 1280, 720, 30}),
    [](const testing::TestParamInfo<CameraSpec>& info) {
      std::string name = info.param.name.substr(6);
      std::erase(name, '-');
      return name;
    });

}  // namespace
