// Live preview cost: the main frame previewing a 1280 x 720 at 30 fps camera against
// gst-launch-1.0 showing the same source, ending in ximagesink (or BGRx into fakesink under the
// offscreen platform). Two cameras:
//   Preview720p30         the synthetic camera; the baseline is videotestsrc ! videobalance !
//                         videoconvert, the same elements
//   PipeWireMjpg720p30    an MJPG camera on a private PipeWire daemon, made by another
//                         gst-launch-1.0; the baseline is pipewiresrc ! jpegdec ! videoconvert
// The two sides run in turn, 10 s each after 2 s of start-up, five times (bench::RunPaired).
//
// Counters:
//   frames         fewest frames the preview widget painted in a run (30 fps asks for 300)
//   dropped        most frames a run fell short of 30 fps by (one allowed for the edges)
//   cpu_per_s      median CPU seconds per second of this whole process (all threads)
//   base_cpu_per_s the same for the gst-launch-1.0 process
//   ratio          median of the rounds' cpu_per_s / base_cpu_per_s; *_spread: (max-min)/median
//   load           one-minute load average while the rounds ran
//
// Run under Xvfb for a real window:
//   xvfb-run -a -s '-screen 0 1920x1080x24' build/bin/preview_bench
// or with QT_QPA_PLATFORM=offscreen (then the baseline ends in fakesink).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>
#include <cmath>
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

#include "bench/bench_support.h"
#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "gstqt/video_widget.h"
#include "resources/resources.h"
#include "tests/capture/pipewire/pipewire_session.h"
#include "tests/capture/pipewire/platform_lists.h"

struct CMainFrameTestPeer {
  // The camera start-up selected, at I420 1280 x 720, 30 fps, previewing.
  static bool Preview720p(CMainFrame& f) {
    if (!f.m_selectedDevice || !f.m_streamConfig) return false;
    int count = 0, size = 0;
    f.m_streamConfig->GetNumberOfCapabilities(count, size);
    for (int i = 0; i < count; ++i) {
      media::MediaType t;
      media::VideoStreamConfigCaps caps;
      if (f.m_streamConfig->GetStreamCaps(i, t, caps) != media::status::kOk || !t.IsVideoInfo())
        continue;
      if (t.videoInfo->bmiHeader.biWidth == 1280) {
        t.videoInfo->AvgTimePerFrame = 333333;
        f.m_streamConfig->SetFormat(t);
      }
    }
    f.m_useFrameRate = 0;  // the device's own 30 fps
    return f.MakePreviewGraph() == 1 && f.RunPreview() == 1 && f.VideoWidth() == 1280;
  }
  // The device listed as `name`, chosen from the Devices menu once the platform lists it,
  // previewing.
  static bool PreviewDevice(CMainFrame& f, const std::string& name) {
    f.m_wantPreview = 1;
    f.m_useFrameRate = 0;  // the camera's own 30 fps, as the baseline has it
    QElapsedTimer clock;
    clock.start();
    QAction* entry = nullptr;
    while (!entry && clock.elapsed() < 10000) {
      f.OnDeviceChange();
      f.FillDeviceMenu();
      for (QAction* a : f.MenuAt(1)->actions())
        if (a->text().toStdString() == name) entry = a;
      if (!entry) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!entry) return false;
    entry->trigger();
    // Start-up may have chosen it already (the only camera), without a preview.
    if (!f.Previewing() && (f.MakePreviewGraph() != 1 || f.RunPreview() != 1)) return false;
    return f.VideoWidth() == 1280;
  }
};

namespace {

constexpr int kSeconds = 10;

double OwnCpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// gst-launch-1.0 with `source` (up to the converter's input) ending in ximagesink. Without a
// window the baseline still converts to the pixels a screen takes (BGRx), as ximagesink has
// it done; fakesink alone would take I420 and convert nothing.
pid_t StartBaseline(std::vector<std::string> argv, bool window) {
  argv.insert(argv.begin(), {"gst-launch-1.0", "-q"});
  for (const char* w : {"!", "videoconvert", "!"}) argv.push_back(w);
  if (window) {
    argv.push_back("ximagesink");
  } else {
    for (const char* w : {"video/x-raw,format=BGRx", "!", "fakesink", "sync=true"}) argv.push_back(w);
  }
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

media::gstpreview::PreviewWidget* VideoWidget(QWidget& frame) {
  for (QWidget* w : frame.findChildren<QWidget*>())
    if (auto* p = dynamic_cast<media::gstpreview::PreviewWidget*>(w)) return p;
  return nullptr;
}

// The event loop as the program runs it, for `ms`.
void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct Frames {
  double fewest = 1e9, dropped = 0;
};

// CPU seconds per second of our preview over kSeconds, after start-up; -1 when it fails.
// `start` sets the preview going on the started frame.
double OurPreview(media::IMediaPlatform& platform, const std::function<bool(CMainFrame&)>& start, Frames& frames,
                  std::string& error) {
  CMainFrame frame(res::kMainMenuEnglish, platform);
  frame.OnCreate();
  frame.setCentralWidget(new QWidget(&frame));
  frame.show();
  // Start-up (settings read, first device selected) is over before the preview is set up.
  while (frame.TimerRunning(CMainFrame::kStartupTimer)) RunEvents(20);
  if (!start(frame)) {
    error = "no 1280 x 720 preview";
    return -1;
  }
  RunEvents(2000);
  auto* widget = VideoWidget(frame);
  if (!widget) {
    error = "no video widget";
    return -1;
  }
  const uint64_t painted0 = widget->FramesPainted();
  const double cpu0 = OwnCpuSeconds();
  QElapsedTimer clock;
  clock.start();
  RunEvents(kSeconds * 1000);
  const double seconds = double(clock.elapsed()) / 1000.0;
  const double cpu = (OwnCpuSeconds() - cpu0) / seconds;
  const double painted = double(widget->FramesPainted() - painted0);
  frames.fewest = std::min(frames.fewest, painted);
  frames.dropped = std::max(frames.dropped, std::max(0.0, std::floor(seconds * 30) - 1 - painted));
  frame.HaltPreview();
  frame.DismantleGraph();
  frame.ReleaseCaptureFilters();
  return cpu;
}

// The same for gst-launch-1.0, measured from outside over the same stretch of its run.
double BaselinePreview(const std::vector<std::string>& source, bool window) {
  const pid_t baseline = StartBaseline(source, window);
  RunEvents(2000);
  const double cpu0 = bench::ProcessCpuSeconds(baseline);
  QElapsedTimer clock;
  clock.start();
  RunEvents(kSeconds * 1000);
  const double seconds = double(clock.elapsed()) / 1000.0;
  const double cpu = (bench::ProcessCpuSeconds(baseline) - cpu0) / seconds;
  kill(baseline, SIGTERM);
  int status = 0;
  waitpid(baseline, &status, 0);
  return cpu > 0 ? cpu : -1;
}

// Paired runs of our preview (started by `start`) against gst-launch-1.0 from `source`.
void RunPreviewBench(benchmark::State& state, media::IMediaPlatform& platform,
                     const std::function<bool(CMainFrame&)>& start, const std::vector<std::string>& source) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const bool window = QGuiApplication::platformName() == "xcb";
  std::string error;
  CMainFrame::SetMessageBoxRunnerForTesting([&](QMessageBox& box) {
    error = box.text().toStdString();
  });
  for (auto _ : state) {
    Frames frames;
    bench::PairedRuns runs;
    const bool ok = bench::RunPaired(
        state, bench::Rounds(), [&] { return OurPreview(platform, start, frames, error); },
        [&] { return BaselinePreview(source, window); }, runs);
    if (!ok) {
      state.SkipWithError(error.empty() ? "gst-launch-1.0 failed" : error.c_str());
      break;
    }
    state.counters["frames"] = frames.fewest;
    state.counters["dropped"] = frames.dropped;
    state.SetIterationTime(bench::Rounds() * 2.0 * kSeconds);
  }
  CMainFrame::SetMessageBoxRunnerForTesting({});
}

void BM_Preview720p30(benchmark::State& state) {
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  RunPreviewBench(state, *media::CreateGstPlatform(), &CMainFrameTestPeer::Preview720p,
                  {"videotestsrc", "is-live=true", "pattern=smpte", "!", "videobalance", "!",
                   "video/x-raw,format=I420,width=1280,height=720,framerate=30/1"});
  ::unsetenv("LUMORA_TEST_CAMERAS");
}
BENCHMARK(BM_Preview720p30)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_PipeWireMjpg720p30(benchmark::State& state) {
  pwtest::PipeWireSession session;
  const pwtest::CameraSpec camera{"PWCam-MJPG-720p", "MJPG", 1280, 720, 30};
  if (!session.Start()) {
    state.SkipWithError(session.Error().c_str());
    return;
  }
  // Kept until the process ends, as the program keeps its own: PipeWire's device provider
  // (0.3.65) at times frees a node twice when its monitor stops.
  media::IMediaPlatform* platform = media::CreateGstPlatform().release();
  if (session.AddCamera(camera, [&](const std::string& name) { return pwtest::PlatformLists(*platform, name); }) < 0) {
    state.SkipWithError(session.Error().c_str());
    return;
  }
  RunPreviewBench(state, *platform,
                  [&](CMainFrame& f) { return CMainFrameTestPeer::PreviewDevice(f, camera.name); },
                  {"pipewiresrc", "!", "jpegdec"});
}
BENCHMARK(BM_PipeWireMjpg720p30)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  res::SetLanguageFlag(res::kLangEnglish);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
