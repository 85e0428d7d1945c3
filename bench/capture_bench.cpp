// Capture cost: 1280 x 720 at 30 fps from the GStreamer synthetic camera into an AVI, with the
// preview on, through the graph that Start Capture builds, against the same capture run by
// gst-launch-1.0 (same source elements, same encoder, avimux into fdsink on a file opened as
// ours is, and a preview branch that paints: tee, queue, videoconvert, ximagesink under a
// display, else BGRx into a clock-synced fakesink). The two run in turn, five times
// (bench::RunPaired); each is measured over the same stretch of steady capture, after one
// second of start-up.
//
//   Capture/raw, Capture/jpeg   counters: cpu_per_s and base_cpu_per_s (medians, CPU seconds
//                               per second, user + system, the whole process), ratio (median
//                               of the rounds' ratios), *_spread ((max-min)/median), load,
//                               frames (fewest in our files), dropped (most in our runs),
//                               painted (fewest frames our preview painted)
//
// LUMORA_CAPTURE_BENCH_SECONDS sets the measured length (default 15). Run under xvfb-run or
// with QT_QPA_PLATFORM=offscreen; it writes its files to a temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "capture/avi/avi_reader.h"
#include "capture/dialogs/dialog_runner.h"
#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "gstqt/video_widget.h"
#include "resources/resources.h"

struct CMainFrameTestPeer {
  static bool HasCamera(CMainFrame& f) { return f.m_captureFilter != nullptr; }
  // 1280 x 720, the synthetic camera's largest format.
  static bool Use720p(CMainFrame& f) {
    int count = 0, size = 0;
    if (!f.m_streamConfig || f.m_streamConfig->GetNumberOfCapabilities(count, size) != 0)
      return false;
    for (int i = 0; i < count; ++i) {
      media::MediaType t;
      media::VideoStreamConfigCaps caps;
      if (f.m_streamConfig->GetStreamCaps(i, t, caps) != 0 || !t.IsVideoInfo()) continue;
      const auto& b = t.videoInfo->bmiHeader;
      // As the Video Format dialog does: the window is then fitted to 1280 x 720.
      if (b.biWidth == 1280 && std::abs(b.biHeight) == 720)
        return f.m_streamConfig->SetFormat(t) == 0 && f.ReadVideoSizeFromFormat();
    }
    return false;
  }
  static void Configure(CMainFrame& f, const std::string& file,
                        std::shared_ptr<media::IBaseFilter> compressor) {
    f.m_captureFileName = file;
    f.m_wantPreview = 1;
    f.m_useFrameRate = 0;  // the device's own 30 fps
    f.m_useTimeLimit = 0;
    f.m_useCompressor = compressor ? 1 : 0;
    f.m_compressor = std::move(compressor);
  }
  static long Dropped(CMainFrame& f) {
    long dropped = 0;
    if (!f.m_droppedFrames || f.m_droppedFrames->GetNumDropped(dropped) != 0) return -1;
    return dropped - long(f.m_droppedBase);
  }
};

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "capture_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

int Seconds() {
  const char* env = std::getenv("LUMORA_CAPTURE_BENCH_SECONDS");
  const int s = env ? std::atoi(env) : 0;
  return s > 0 ? s : 15;
}

double CpuSeconds(const rusage& r) {
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint32_t FramesInFile(const std::string& path) {
  int err = 0;
  auto src = avi::FileSource::Open(path, &err);
  if (!src) return 0;
  // Past 1 GiB the main header counts the first RIFF chunk only; the OpenDML header all.
  const avi::AviInfo info = avi::ReadAviInfo(*src);
  return info.hasOdml && info.odmlFrames ? info.odmlFrames : info.TotalFrames();
}

struct Run {
  double cpuPerSecond = 0;
  uint32_t frames = 0;
  long dropped = -1;
  uint64_t painted = 0;
  bool ok = false;
};

constexpr int kStartupMs = 1000;  // left out of the measurement on both sides

// gst-launch-1.0 with the synthetic camera's elements and a painting preview branch; CPU
// read from /proc over `seconds` of steady capture, then an interrupt (-e: end of stream)
// finishes the file.
Run GstLaunch(const std::string& file, const char* encoder, bool window, int seconds) {
  std::vector<std::string> args = {
      "gst-launch-1.0", "-q", "-e", "videotestsrc", "is-live=true", "!", "videobalance", "!",
      "video/x-raw,format=I420,width=1280,height=720,framerate=30/1", "!", "tee", "name=t",
      "t.", "!", "queue", "!", "videoconvert", "!"};
  if (window) {
    args.emplace_back("ximagesink");
  } else {
    for (const char* a : {"video/x-raw,format=BGRx", "!", "fakesink", "sync=true"})
      args.emplace_back(a);
  }
  for (const char* a : {"t.", "!", "queue"}) args.emplace_back(a);
  if (encoder) {
    args.emplace_back("!");
    args.emplace_back(encoder);
  }
  // The file is written as ours is: opened without truncation, through fdsink.
  for (const char* a : {"!", "avimux", "!", "fdsink", "fd=3"}) args.emplace_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  Run run;
  std::remove(file.c_str());
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
  if (fd < 0) return run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fd, 3);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fd);
  if (pid < 0) return run;
  ::usleep(kStartupMs * 1000);
  const double cpu0 = bench::ProcessCpuSeconds(pid), start = Now();
  ::usleep(useconds_t(seconds) * 1000000);
  run.cpuPerSecond = (bench::ProcessCpuSeconds(pid) - cpu0) / (Now() - start);
  ::kill(pid, SIGINT);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return run;
  run.frames = FramesInFile(file);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.frames > 0;
  return run;
}

std::shared_ptr<media::IBaseFilter> BindEncoder(media::IMediaPlatform& platform,
                                                const std::string& factory) {
  std::vector<std::shared_ptr<media::IMoniker>> list;
  platform.CreateClassEnumerator(media::guid::kVideoCompressorCategory, list);
  for (auto& m : list) {
    const std::string name = m->GetDisplayName();
    if (name.size() > factory.size() &&
        name.compare(name.size() - factory.size() - 1, std::string::npos, ":" + factory) == 0) {
      std::shared_ptr<media::IBaseFilter> filter;
      if (m->BindToFilter(filter) == 0) return filter;
    }
  }
  return nullptr;
}

void SpinFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Start Capture with the Ready dialog answered OK, capture for `seconds`, Stop Capture.
Run OurCapture(const std::string& file, const std::string& settings, const char* encoder,
               int seconds, std::string& error) {
  std::remove(file.c_str());
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  ::setenv("XDG_CONFIG_HOME", settings.c_str(), 1);  // not the user's own profile
  App();
  std::unique_ptr<media::IMediaPlatform> platform = media::CreateGstPlatform();
  Run run;
  CMainFrame frame(res::kMainMenuEnglish, *platform);
  frame.OnCreate();
  frame.show();
  // Start-up reads the (empty) settings and selects the first camera.
  SpinFor(500);
  if (!CMainFrameTestPeer::HasCamera(frame) || !CMainFrameTestPeer::Use720p(frame)) {
    error = "no synthetic 1280 x 720 camera";
    return run;
  }
  std::shared_ptr<media::IBaseFilter> compressor;
  if (encoder && !(compressor = BindEncoder(*platform, encoder))) {
    error = std::string("no compressor ") + encoder;
    return run;
  }
  CMainFrameTestPeer::Configure(frame, file, compressor);
  capture_dialogs::SetRunnerForTesting([](QDialog&) { return int(QDialog::Accepted); });
  CMainFrame::SetMessageBoxRunnerForTesting(
      [&error](QMessageBox& box) { error += box.text().toStdString() + "; "; });

  frame.OnCommand(cmd::kStartCapture);
  if (frame.Capturing()) {
    SpinFor(kStartupMs);
    media::gstpreview::PreviewWidget* preview = nullptr;
    for (QWidget* w : frame.findChildren<QWidget*>())
      if (auto* p = dynamic_cast<media::gstpreview::PreviewWidget*>(w)) preview = p;
    const uint64_t painted0 = preview ? preview->FramesPainted() : 0;
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const double start = Now();
    SpinFor(seconds * 1000);
    ::getrusage(RUSAGE_SELF, &after);
    run.cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / (Now() - start);
    run.painted = preview ? preview->FramesPainted() - painted0 : 0;
    frame.EndCapture();
    run.dropped = CMainFrameTestPeer::Dropped(frame);
    run.frames = FramesInFile(file);
    run.ok = true;
  } else {
    error += "the capture did not start";
  }
  capture_dialogs::SetRunnerForTesting({});
  CMainFrame::SetMessageBoxRunnerForTesting({});
  frame.DismantleGraph();
  frame.ReleaseCaptureFilters();
  return run;
}

void BM_Capture(benchmark::State& state, const char* encoder) {
  const int seconds = Seconds();
  App();
  const bool window = QGuiApplication::platformName() == "xcb";
  QTemporaryDir dir;
  const std::string ours = dir.filePath("ours.avi").toStdString();
  const std::string theirs = dir.filePath("gst.avi").toStdString();
  const std::string settings = dir.filePath("settings").toStdString();
  std::string error;
  double fewestFrames = 1e9, fewestPainted = 1e9, mostDropped = 0;
  for (auto _ : state) {
    bench::PairedRuns runs;
    const bool ok = bench::RunPaired(
        state, bench::Rounds(),
        [&] {
          const Run us = OurCapture(ours, settings, encoder, seconds, error);
          if (!us.ok) return -1.0;
          fewestFrames = std::min(fewestFrames, double(us.frames));
          fewestPainted = std::min(fewestPainted, double(us.painted));
          mostDropped = std::max(mostDropped, double(us.dropped));
          return us.cpuPerSecond;
        },
        [&] {
          const Run gst = GstLaunch(theirs, encoder, window, seconds);
          if (!gst.ok) error = "gst-launch-1.0 failed";
          return gst.ok ? gst.cpuPerSecond : -1.0;
        },
        runs);
    if (!ok) return state.SkipWithError(error.c_str());
  }
  state.counters["frames"] = fewestFrames;
  state.counters["dropped"] = mostDropped;
  state.counters["painted"] = fewestPainted;
}

BENCHMARK_CAPTURE(BM_Capture, raw, nullptr)->Name("Capture/raw")->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Capture, jpeg, "jpegenc")->Name("Capture/jpeg")->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
