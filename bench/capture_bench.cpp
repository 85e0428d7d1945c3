// Capture cost: 1280 x 720 at 30 fps from the GStreamer synthetic camera into an AVI, with the
// preview on, through the graph that Start Capture builds, against the same capture run by
// gst-launch-1.0 (same source, same encoder, avimux) side by side in the same run.
//
//   Capture/raw, Capture/jpeg   our process: frames in the file, frames dropped, CPU seconds
//                               per second of capture (user + system, the whole process)
//   counters gst_cpu_per_s      gst-launch-1.0 writing the same stream, no preview
//   counters gst_prev_cpu_per_s gst-launch-1.0 with a preview branch beside it (tee, queue,
//                               videoconvert to BGRx, a clock-synced fakesink)
//
// LUMORA_CAPTURE_BENCH_SECONDS sets the length (default 30). Run under xvfb-run or with
// QT_QPA_PLATFORM=offscreen; it writes its files to a temporary folder.
#include <benchmark/benchmark.h>
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

#include "capture/avi/avi_reader.h"
#include "capture/dialogs/dialog_runner.h"
#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
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
      if (b.biWidth == 1280 && std::abs(b.biHeight) == 720)
        return f.m_streamConfig->SetFormat(t) == 0;
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
  return s > 0 ? s : 30;
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
  bool ok = false;
};

// gst-launch-1.0 with the synthetic camera's elements; CPU of the child over its whole life.
Run GstLaunch(const std::string& file, const char* encoder, bool preview, int seconds) {
  const std::string frames = std::to_string(seconds * 30);
  std::vector<std::string> args = {"gst-launch-1.0", "-q", "-e", "videotestsrc", "is-live=true",
                                   "num-buffers=" + frames, "!", "videobalance", "!",
                                   "video/x-raw,format=I420,width=1280,height=720,framerate=30/1"};
  if (preview) {
    for (const char* a : {"!", "tee", "name=t", "t.", "!", "queue", "!", "videoconvert", "!",
                          "video/x-raw,format=BGRx", "!", "fakesink", "sync=true", "t.", "!",
                          "queue"})
      args.emplace_back(a);
  }
  if (encoder) {
    args.emplace_back("!");
    args.emplace_back(encoder);
  }
  for (const std::string& a : {std::string("!"), std::string("avimux"), std::string("!"),
                               std::string("filesink"), "location=" + file})
    args.push_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  Run run;
  const double start = Now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return run;
  const double wall = Now() - start;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.cpuPerSecond = CpuSeconds(usage) / wall;
  run.frames = FramesInFile(file);
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

  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const double start = Now();
  frame.OnCommand(cmd::kStartCapture);
  if (frame.Capturing()) {
    SpinFor(seconds * 1000);
    run.dropped = CMainFrameTestPeer::Dropped(frame);
    frame.EndCapture();
    ::getrusage(RUSAGE_SELF, &after);
    run.cpuPerSecond = (CpuSeconds(after) - CpuSeconds(before)) / (Now() - start);
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
  QTemporaryDir dir;
  const std::string ours = dir.filePath("ours.avi").toStdString();
  const std::string theirs = dir.filePath("gst.avi").toStdString();
  const std::string theirsPreview = dir.filePath("gst_preview.avi").toStdString();
  Run us, gst, gstPreview;
  std::string error;
  for (auto _ : state) {
    us = OurCapture(ours, dir.filePath("settings").toStdString(), encoder, seconds, error);
    gst = GstLaunch(theirs, encoder, false, seconds);
    gstPreview = GstLaunch(theirsPreview, encoder, true, seconds);
  }
  if (!us.ok) return state.SkipWithError(error.c_str());
  if (!gst.ok || !gstPreview.ok) return state.SkipWithError("gst-launch-1.0 failed");
  state.counters["frames"] = us.frames;
  state.counters["expected"] = seconds * 30;
  state.counters["dropped"] = double(us.dropped);
  state.counters["cpu_per_s"] = us.cpuPerSecond;
  state.counters["gst_frames"] = gst.frames;
  state.counters["gst_cpu_per_s"] = gst.cpuPerSecond;
  state.counters["gst_prev_cpu_per_s"] = gstPreview.cpuPerSecond;
  state.counters["ratio"] = us.cpuPerSecond / gst.cpuPerSecond;
  state.counters["ratio_prev"] = us.cpuPerSecond / gstPreview.cpuPerSecond;
}

BENCHMARK_CAPTURE(BM_Capture, raw, nullptr)->Name("Capture/raw")->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Capture, jpeg, "jpegenc")->Name("Capture/jpeg")->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
