// Snapshot latency: from the Snapshot command to the snapshot window painted, and from the
// save dialog's OK to the file on disk, at 1920 x 1080.
//
//   Snapshot/scripted_1080p   a 1920 x 1080 RGB24 camera of the scripted platform
//   Snapshot/gst_largest      the GStreamer synthetic camera at its largest size (I420,
//                             converted to BGR by the grab; counter "width")
//   SaveOk/<fmt>              OK pressed -> file written, through the Save command
//   ExportOnly/<fmt>          baseline: the export container alone on the same picture
//
// Run with QT_QPA_PLATFORM=offscreen (or under xvfb-run).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QComboBox>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "imaging/core/dib.h"
#include "resources/resources.h"
#include "resources/save_options_template.h"
#include "snapshot/dib.h"
#include "snapshot/save_dialog/save_dlg.h"
#include "snapshot/snapshot_window.h"
#include "snapshot/wci_container.h"

struct CMainFrameTestPeer {
  static bool Select(CMainFrame& f, std::shared_ptr<media::IMoniker> device) {
    // Let go of what start-up chose first.
    f.HaltPreview();
    f.DismantleGraph();
    f.ReleaseCaptureFilters();
    f.m_selectedDevice = std::move(device);
    return f.CreateCaptureFilters() == 1;
  }
  // The largest format the device offers.
  static void UseLargestFormat(CMainFrame& f) {
    int count = 0, size = 0;
    if (!f.m_streamConfig || f.m_streamConfig->GetNumberOfCapabilities(count, size) != 0) return;
    media::MediaType best;
    int64_t bestPixels = 0;
    for (int i = 0; i < count; ++i) {
      media::MediaType t;
      media::VideoStreamConfigCaps caps;
      if (f.m_streamConfig->GetStreamCaps(i, t, caps) != 0 || !t.IsVideoInfo()) continue;
      const auto& b = t.videoInfo->bmiHeader;
      if (int64_t(b.biWidth) * b.biHeight > bestPixels) {
        bestPixels = int64_t(b.biWidth) * b.biHeight;
        best = t;
      }
    }
    if (bestPixels) f.m_streamConfig->SetFormat(best);
  }
  static bool Preview(CMainFrame& f) { return f.MakePreviewGraph() == 1 && f.RunPreview() == 1; }
  static bool HasFrame(CMainFrame& f) {
    int32_t size = 0;
    return f.m_sampleGrabber && f.m_sampleGrabber->GetCurrentBufferSize(size) == 0;
  }
};

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "snapshot_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

// Lets the main frame's start-up timer read the capture settings first: that selects the
// remembered device and would otherwise replace the graph built here after the first snapshot.
void StartFrame(CMainFrame& frame) {
  frame.OnCreate();
  frame.show();
  QElapsedTimer wait;
  wait.start();
  while (frame.TimerRunning(CMainFrame::kStartupTimer) && wait.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Counts paints of the snapshot view.
class PaintCounter : public QObject {
public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Runs Snapshot and waits until the snapshot view has painted the new picture.
double SnapshotToPaintedSeconds(CMainFrame& frame, PaintCounter& counter) {
  const int before = counter.paints;
  QElapsedTimer t;
  t.start();
  frame.OnCommand(cmd::kSnapshot);
  CSnapshotWnd* w = CSnapshotWnd::Find();
  if (w && !w->View()->property("counted").toBool()) {
    w->View()->installEventFilter(&counter);
    w->View()->setProperty("counted", true);
  }
  while (counter.paints == before && t.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  return double(t.nsecsElapsed()) * 1e-9;
}

void BM_Snapshot_Scripted1080p(benchmark::State& state) {
  App();
  media::ScriptedSettings settings = media::TwoCameraSettings();
  settings.devices[0].capabilities[0].width = 1920;
  settings.devices[0].capabilities[0].height = 1080;
  media::ScopedScriptedPlatform platform(settings);
  CMainFrame frame(res::kMainMenuEnglish, *platform);
  StartFrame(frame);
  std::vector<std::shared_ptr<media::IMoniker>> devices;
  platform->CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, devices);
  if (!CMainFrameTestPeer::Select(frame, devices[0]) || !CMainFrameTestPeer::Preview(frame)) {
    state.SkipWithError("no preview");
    return;
  }
  PaintCounter counter;
  for (auto _ : state) {
    platform->DeliverFrames(1);
    state.SetIterationTime(SnapshotToPaintedSeconds(frame, counter));
  }
  if (CSnapshotWnd* w = CSnapshotWnd::Find()) delete w;
}
BENCHMARK(BM_Snapshot_Scripted1080p)->Name("Snapshot/scripted_1080p")->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_Snapshot_GstLargest(benchmark::State& state) {
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  App();
  std::unique_ptr<media::IMediaPlatform> platform = media::CreateGstPlatform();
  {
    CMainFrame frame(res::kMainMenuEnglish, *platform);
    StartFrame(frame);
    std::shared_ptr<media::IMoniker> camera;
    platform->ParseDisplayName("@device:gst:test:0", camera);
    if (!camera || !CMainFrameTestPeer::Select(frame, camera)) {
      state.SkipWithError("no synthetic camera");
      return;
    }
    CMainFrameTestPeer::UseLargestFormat(frame);
    if (!CMainFrameTestPeer::Preview(frame)) {
      state.SkipWithError("no preview");
      return;
    }
    QElapsedTimer wait;
    wait.start();
    while (!CMainFrameTestPeer::HasFrame(frame) && wait.elapsed() < 5000) {
      QCoreApplication::processEvents();
      QThread::msleep(5);
    }
    PaintCounter counter;
    for (auto _ : state) {
      state.SetIterationTime(SnapshotToPaintedSeconds(frame, counter));
      state.counters["width"] = frame.SnapshotImage().GetWidth();
      QThread::msleep(40);  // a newer frame between snapshots
      QCoreApplication::processEvents();
    }
    if (CSnapshotWnd* w = CSnapshotWnd::Find()) delete w;
    frame.HaltPreview();
    frame.DismantleGraph();
    frame.ReleaseCaptureFilters();
  }
}
BENCHMARK(BM_Snapshot_GstLargest)->Name("Snapshot/gst_largest")->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(30);

// A photograph-like 1920 x 1080 picture: smooth gradients with fine texture.
CGlobalBlock Photo() {
  const int w = 1920, h = 1080;
  const size_t stride = dib::RowStride(w, 24);
  CGlobalBlock block(40 + stride * h);
  BitmapInfoHeader hd;
  hd.width = w;
  hd.height = h;
  hd.bitCount = 24;
  std::memcpy(block.Data(), &hd, sizeof hd);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = int(seed >> 28) - 8;
      uint8_t* p = block.Data() + 40 + size_t(y) * stride + 3 * size_t(x);
      p[0] = uint8_t(std::clamp(int(128 + 100 * std::sin(x * 0.004)) + noise, 0, 255));
      p[1] = uint8_t(std::clamp(y * 255 / h + noise, 0, 255));
      p[2] = uint8_t(std::clamp(x * 255 / w + noise / 2, 0, 255));
    }
  return block;
}

const char* const kExtensions[] = {"bmp", "jpg", "png", "tif", "tga", "pcx", "gif"};

void BM_SaveOk(benchmark::State& state) {
  App();
  const int type = int(state.range(0));
  QMainWindow main;
  main.show();
  CDib image;
  image.SetDib(Photo());
  auto* window = new CSnapshotWnd(image, &main, res::kSnapshotMenuEnglish);
  window->show();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("snap.") + kExtensions[type]);
  double okAt = 0;
  CSaveDlg::SetModalHookForTesting([&](CSaveDlg& d) {
    d.show();
    auto* types = qobject_cast<QComboBox*>(d.Control(res::kIdcFileTypeList));
    types->setCurrentIndex(type);
    emit types->activated(type);
    qobject_cast<QLineEdit*>(d.Control(res::kIdcFileNameBox))->setText(path);
    okAt = double(std::chrono::steady_clock::now().time_since_epoch().count()) * 1e-9;
    d.accept();
    return d.result();
  });
  for (auto _ : state) {
    QFile::remove(path);
    window->OnFileSave();
    const double done = double(std::chrono::steady_clock::now().time_since_epoch().count()) * 1e-9;
    state.SetIterationTime(done - okAt);
  }
  state.counters["bytes"] = double(QFile(path).size());
  CSaveDlg::SetModalHookForTesting({});
  delete window;
}
BENCHMARK(BM_SaveOk)->Name("SaveOk")->DenseRange(0, 6)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ExportOnly(benchmark::State& state) {
  const int type = int(state.range(0));
  const CGlobalBlock photo = Photo();
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("snap.") + kExtensions[type]).toStdString();
  const EncodeOptions defaults;
  for (auto _ : state) {
    CWCIContainer container;
    container.SetImage(photo, &defaults);
    container.Export(path.c_str());
  }
}
BENCHMARK(BM_ExportOnly)->Name("ExportOnly")->DenseRange(0, 6)->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
