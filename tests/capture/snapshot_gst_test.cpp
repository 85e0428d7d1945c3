// The Snapshot command on the GStreamer backend with a synthetic camera: the live preview's
// frame lands in the snapshot window the right way up, in its colours.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <memory>

#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "resources/resources.h"
#include "snapshot/snapshot_window.h"

struct CMainFrameTestPeer {
  static bool StartPreview(CMainFrame& f, media::IMediaPlatform& p) {
    if (p.ParseDisplayName("@device:gst:test:0", f.m_selectedDevice) != media::status::kOk)
      return false;
    return f.CreateCaptureFilters() == 1 && f.MakePreviewGraph() == 1 && f.RunPreview() == 1;
  }
  static bool HasFrame(CMainFrame& f) {
    int32_t size = 0;
    return f.m_sampleGrabber && f.m_sampleGrabber->GetCurrentBufferSize(size) == media::status::kOk;
  }
};

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

TEST(SnapshotGst, SyntheticCameraFrameInTheSnapshotWindow) {
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  static int argc = 1;
  static char name[] = "capture_snapshot_gst_tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QApplication(argc, argv);
  std::unique_ptr<media::IMediaPlatform> platform = media::CreateGstPlatform();
  std::vector<std::string> messages;
  CMainFrame::SetMessageBoxRunnerForTesting(
      [&](QMessageBox& box) { messages.push_back(box.text().toStdString()); });
  {
    CMainFrame frame(res::kMainMenuEnglish, *platform);
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    ASSERT_TRUE(CMainFrameTestPeer::StartPreview(frame, *platform));
    ASSERT_TRUE(WaitFor([&] { return CMainFrameTestPeer::HasFrame(frame); }));
    frame.OnCommand(cmd::kSnapshot);
    EXPECT_TRUE(messages.empty()) << messages.front();
    CSnapshotWnd* w = CSnapshotWnd::Find();
    ASSERT_NE(w, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->View()->size(), QSize(320, 240));
    // SMPTE bars: white at the top left, blue at the top right.
    const QImage shot = w->View()->grab().toImage();
    const QColor topLeft(shot.pixel(3, 3)), topRight(shot.pixel(316, 3));
    EXPECT_GT(topLeft.red(), 200);
    EXPECT_GT(topLeft.blue(), 200);
    EXPECT_LT(topRight.red(), 60);
    EXPECT_GT(topRight.blue(), 200);
    frame.HaltPreview();
    frame.DismantleGraph();
    frame.ReleaseCaptureFilters();
  }
  CMainFrame::SetMessageBoxRunnerForTesting({});
}

}  // namespace
