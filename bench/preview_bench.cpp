// Live preview cost: the main frame previewing a synthetic 1280 x 720 at 30 fps camera for
// 10 s, against gst-launch-1.0 showing the same source (videotestsrc ! videoconvert !
// ximagesink, or BGRx into fakesink under the offscreen platform) over the same 10 s, side
// by side.
//
// Counters:
//   frames         frames the preview widget painted in the window (30 fps asks for 300)
//   cpu_per_s      CPU seconds per second of this whole process (all threads)
//   base_cpu_per_s the same for the gst-launch-1.0 process
//   ratio          cpu_per_s / base_cpu_per_s
//
// Run under Xvfb for a real window:
//   xvfb-run -a -s '-screen 0 1280x1024x24' build/bin/preview_bench
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

// utime + stime of another process, from /proc/<pid>/stat.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Without a window the baseline still converts to the pixels a screen takes (BGRx), as
// ximagesink has it done; fakesink alone would take I420 and convert nothing.
pid_t StartBaseline(bool window) {
  const pid_t pid = fork();
  if (pid == 0) {
    const char* source[] = {"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=smpte",
                            "!", "video/x-raw,format=I420,width=1280,height=720,framerate=30/1",
                            "!", "videoconvert", "!"};
    if (window)
      execlp(source[0], source[0], source[1], source[2], source[3], source[4], source[5], source[6],
             source[7], source[8], source[9], "ximagesink", nullptr);
    else
      execlp(source[0], source[0], source[1], source[2], source[3], source[4], source[5], source[6],
             source[7], source[8], source[9], "video/x-raw,format=BGRx", "!", "fakesink", nullptr);
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

void BM_Preview720p30(benchmark::State& state) {
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const bool window = QGuiApplication::platformName() == "xcb";
  std::unique_ptr<media::IMediaPlatform> platform = media::CreateGstPlatform();
  std::string message;
  CMainFrame::SetMessageBoxRunnerForTesting([&](QMessageBox& box) {
    message = box.text().toStdString();
    state.SkipWithError(message.c_str());
  });
  for (auto _ : state) {
    CMainFrame frame(res::kMainMenuEnglish, *platform);
    frame.OnCreate();
    frame.setCentralWidget(new QWidget(&frame));
    frame.show();
    // Start-up (settings read, first device selected) is over before the preview is set up.
    while (frame.TimerRunning(CMainFrame::kStartupTimer)) RunEvents(20);
    if (!CMainFrameTestPeer::Preview720p(frame)) {
      state.SkipWithError("no 1280 x 720 preview");
      break;
    }
    const pid_t baseline = StartBaseline(window);
    RunEvents(2000);  // both past start-up
    auto* widget = VideoWidget(frame);
    if (!widget) {
      state.SkipWithError("no video widget");
      kill(baseline, SIGTERM);
      waitpid(baseline, nullptr, 0);
      break;
    }
    const uint64_t painted0 = widget->FramesPainted();
    const double own0 = OwnCpuSeconds(), base0 = ProcessCpuSeconds(baseline);
    QElapsedTimer clock;
    clock.start();
    RunEvents(kSeconds * 1000);
    const double seconds = double(clock.elapsed()) / 1000.0;
    const double own = (OwnCpuSeconds() - own0) / seconds;
    const double base = (ProcessCpuSeconds(baseline) - base0) / seconds;
    state.counters["frames"] = double(widget->FramesPainted() - painted0);
    state.counters["cpu_per_s"] = own;
    state.counters["base_cpu_per_s"] = base;
    state.counters["ratio"] = base > 0 ? own / base : 0;
    state.SetIterationTime(seconds);
    kill(baseline, SIGTERM);
    waitpid(baseline, nullptr, 0);
    frame.HaltPreview();
    frame.DismantleGraph();
    frame.ReleaseCaptureFilters();
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
