// Snapshot latency: from the Snapshot command to the snapshot window painted, and from the
// save dialog's OK to the file on disk, at 1920 x 1080.
//
//   Snapshot/scripted_1080p   a 1920 x 1080 RGB24 camera of the scripted platform
//   Snapshot/gst_largest      the GStreamer synthetic camera at its largest size (I420,
//                             converted to BGR by the grab; counter "width")
//   SaveOk/<fmt>              OK pressed -> file written, through the Save command, in turn
//                             with the baseline, the export container alone on the same
//                             picture (counters median_ms, export_median_ms, spreads, load)
//
// Run with QT_QPA_PLATFORM=offscreen (or under xvfb-run).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

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

#include "bench/bench_support.h"
#include "bench/camera_picture.h"
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

// A 1920 x 1080 camera frame (bench::CameraPicture), as a snapshot gets it.
CGlobalBlock Photo() {
  const int w = 1920, h = 1080;
  const size_t stride = dib::RowStride(w, 24);
  CGlobalBlock block(40 + stride * h);
  BitmapInfoHeader hd;
  hd.width = w;
  hd.height = h;
  hd.bitCount = 24;
  std::memcpy(block.Data(), &hd, sizeof hd);
  const std::vector<uint8_t> picture = bench::CameraPicture(w, h);
  for (int y = 0; y < h; ++y)  // bottom-up rows
    std::memcpy(block.Data() + 40 + size_t(h - 1 - y) * stride, &picture[size_t(y) * w * 3],
                size_t(w) * 3);
  return block;
}

const char* const kExtensions[] = {"bmp", "jpg", "png", "tif", "tga", "pcx", "gif"};

double Now() { return double(std::chrono::steady_clock::now().time_since_epoch().count()) * 1e-9; }

// CPU seconds of the whole process (every thread).
double ProcessCpu() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Save's OK through the snapshot window, and the export container alone on the same picture
// (the baseline), in turn, five times: medians and spreads in milliseconds, of the time
// taken and of the CPU time of every thread (what one idle core would take).
void BM_SaveOk(benchmark::State& state) {
  App();
  const int type = int(state.range(0));
  QMainWindow main;
  main.show();
  const CGlobalBlock photo = Photo();
  CDib image;
  image.SetDib(Photo());
  auto* window = new CSnapshotWnd(image, &main, res::kSnapshotMenuEnglish);
  window->show();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("snap.") + kExtensions[type]);
  const std::string exportPath = dir.filePath(QStringLiteral("export.") + kExtensions[type]).toStdString();
  double okAt = 0;
  CSaveDlg::SetModalHookForTesting([&](CSaveDlg& d) {
    d.show();
    auto* types = qobject_cast<QComboBox*>(d.Control(res::kIdcFileTypeList));
    types->setCurrentIndex(type);
    emit types->activated(type);
    qobject_cast<QLineEdit*>(d.Control(res::kIdcFileNameBox))->setText(path);
    okAt = Now();
    d.accept();
    return d.result();
  });
  const EncodeOptions defaults;
  std::vector<double> save, saveCpu, exported, exportCpu, load;
  for (auto _ : state) {
    load.push_back(bench::LoadAverage());
    QFile::remove(path);
    // The dialog's own work before OK is a small part of this CPU time.
    double cpu = ProcessCpu();
    window->OnFileSave();
    save.push_back(1e3 * (Now() - okAt));
    saveCpu.push_back(1e3 * (ProcessCpu() - cpu));
    state.SetIterationTime(save.back() / 1e3);
    const double start = Now();
    cpu = ProcessCpu();
    CWCIContainer container;
    container.SetImage(photo, &defaults);
    container.Export(exportPath.c_str());
    exported.push_back(1e3 * (Now() - start));
    exportCpu.push_back(1e3 * (ProcessCpu() - cpu));
  }
  state.counters["bytes"] = double(QFile(path).size());
  state.counters["median_ms"] = bench::Median(save);
  state.counters["spread"] = bench::Spread(save);
  state.counters["export_median_ms"] = bench::Median(exported);
  state.counters["export_spread"] = bench::Spread(exported);
  state.counters["cpu_ms"] = bench::Median(saveCpu);
  state.counters["export_cpu_ms"] = bench::Median(exportCpu);
  state.counters["load"] = bench::Median(load);
  CSaveDlg::SetModalHookForTesting({});
  delete window;
}
BENCHMARK(BM_SaveOk)->Name("SaveOk")->DenseRange(0, 6)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
