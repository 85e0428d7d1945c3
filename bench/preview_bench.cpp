// Live preview cost: the main frame previewing a synthetic 1280 x 720 at 30 fps camera
// against gst-launch-1.0 showing the same source (videotestsrc ! videobalance ! videoconvert
// ! ximagesink, or BGRx into fakesink under the offscreen platform). The two run in turn,
// 10 s each after 2 s of start-up, five times (bench::RunPaired).
//
// Counters:
//   frames         fewest frames the preview widget painted in a run (30 fps asks for 300)
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
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "bench/bench_support.h"
#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "gstqt/video_widget.h"
#include "resources/resources.h"

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
};

namespace {

constexpr int kSeconds = 10;

double OwnCpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Without a window the baseline still converts to the pixels a screen takes (BGRx), as
// ximagesink has it done; fakesink alone would take I420 and convert nothing.
pid_t StartBaseline(bool window) {
  const pid_t pid = fork();
  if (pid == 0) {
    // The synthetic camera is videotestsrc ! videobalance: the same elements here.
    const char* source[] = {"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=smpte",
                            "!", "videobalance", "!",
                            "video/x-raw,format=I420,width=1280,height=720,framerate=30/1",
                            "!", "videoconvert", "!"};
    if (window)
      execlp(source[0], source[0], source[1], source[2], source[3], source[4], source[5], source[6],
             source[7], source[8], source[9], source[10], source[11], "ximagesink", nullptr);
    else
      execlp(source[0], source[0], source[1], source[2], source[3], source[4], source[5], source[6],
             source[7], source[8], source[9], source[10], source[11], "video/x-raw,format=BGRx",
             "!", "fakesink", "sync=true", nullptr);
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

// CPU seconds per second of our preview over kSeconds, after start-up; -1 when it fails.
double OurPreview(media::IMediaPlatform& platform, double& fewestFrames, std::string& error) {
  CMainFrame frame(res::kMainMenuEnglish, platform);
  frame.OnCreate();
  frame.setCentralWidget(new QWidget(&frame));
  frame.show();
  // Start-up (settings read, first device selected) is over before the preview is set up.
  while (frame.TimerRunning(CMainFrame::kStartupTimer)) RunEvents(20);
  if (!CMainFrameTestPeer::Preview720p(frame)) {
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
  fewestFrames = std::min(fewestFrames, double(widget->FramesPainted() - painted0));
  frame.HaltPreview();
  frame.DismantleGraph();
  frame.ReleaseCaptureFilters();
  return cpu;
}

// The same for gst-launch-1.0, measured from outside over the same stretch of its run.
double BaselinePreview(bool window) {
  const pid_t baseline = StartBaseline(window);
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

void BM_Preview720p30(benchmark::State& state) {
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const bool window = QGuiApplication::platformName() == "xcb";
  std::unique_ptr<media::IMediaPlatform> platform = media::CreateGstPlatform();
  std::string error;
  CMainFrame::SetMessageBoxRunnerForTesting([&](QMessageBox& box) {
    error = box.text().toStdString();
  });
  for (auto _ : state) {
    double frames = 1e9;
    bench::PairedRuns runs;
    const bool ok = bench::RunPaired(
        state, bench::Rounds(), [&] { return OurPreview(*platform, frames, error); },
        [&] { return BaselinePreview(window); }, runs);
    if (!ok) {
      state.SkipWithError(error.empty() ? "gst-launch-1.0 failed" : error.c_str());
      break;
    }
    state.counters["frames"] = frames;
    state.SetIterationTime(bench::Rounds() * 2.0 * kSeconds);
  }
  CMainFrame::SetMessageBoxRunnerForTesting({});
}
BENCHMARK(BM_Preview720p30)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  res::SetLanguageFlag(res::kLangEnglish);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
