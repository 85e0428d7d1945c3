// Playing a 1920 x 1080, 30 fps MJPEG AVI of 10 s: the playback window's graph and video
// widget (decode, convert to BGRx, paint every frame) against `gst-launch-1.0 playbin` showing
// the same file through videoconvert ! ximagesink (under a display; BGRx into a clock-synced
// fakesink without one). The two run in turn, five times (bench::RunPaired); counters as
// there, plus frames_dropped (the most in any run of ours) and base_frames_dropped (the most
// the baseline's QoS messages counted). The clip is made once in /tmp with gst-launch.
//
// Runs on the platform Qt picks (xcb under xvfb-run, offscreen without a display).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "playback/playback_graph.h"

extern char** environ;

namespace {

constexpr int kFrames = 300;  // 10 s at 30 fps
const std::string kClip = "/tmp/lumora_playback_bench_1080p30.avi";

bool MakeClip() {
  if (access(kClip.c_str(), R_OK) == 0) return true;
  bench::RunCommand("gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kFrames) +
                    " pattern=smpte ! video/x-raw,width=1920,height=1080,framerate=30/1"
                    " ! jpegenc quality=85 ! avimux ! filesink location=" + kClip);
  return access(kClip.c_str(), R_OK) == 0;
}

double CpuSeconds(const rusage& u) {
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}


// The playback window's pieces: playbin with our video output, painted by the video widget.
// CPU seconds per second from Run to the clip's end; -1 when the clip cannot be played.
double OurPlayback(double& mostDropped) {
  std::unique_ptr<playback::CPlaybackGraph> graph;
  if (playback::Failed(playback::CPlaybackGraph::Create(graph)) ||
      playback::Failed(graph->RenderFile(kClip)))
    return -1;
  media::gstpreview::PreviewWidget widget(graph->Frames());
  widget.resize(1920, 1080);
  widget.show();
  bool ended = false;
  graph->SetNotify([&] {
    playback::CPlaybackGraph::Event event;
    while (graph->GetEvent(event))
      if (event == playback::CPlaybackGraph::Event::Complete) ended = true;
  });
  QCoreApplication::processEvents();
  const uint64_t prerolled = graph->Frames()->framesReceived;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const double start = bench::WallSeconds();
  graph->Run();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (ended || bench::WallSeconds() - start > 30) loop.quit();
  });
  poll.start(5);
  loop.exec();
  const double wall = bench::WallSeconds() - start;
  getrusage(RUSAGE_SELF, &after);
  const double received = double(graph->Frames()->framesReceived - prerolled);
  mostDropped = std::max(mostDropped, std::max(0.0, kFrames - received));
  return (CpuSeconds(after) - CpuSeconds(before)) / wall;
}

// Frames dropped in a gst-launch-1.0 -m log: each element that drops posts QoS messages with
// its running count ("dropped=(guint64)N"); the last count of each element, summed.
double DroppedInLog(const std::string& log) {
  std::map<std::string, double> dropped;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const auto from = line.find("from element \"");
    const auto count = line.find("dropped=(guint64)");
    if (line.find("(qos)") == std::string::npos || from == std::string::npos ||
        count == std::string::npos)
      continue;
    const auto nameEnd = line.find('"', from + 14);
    dropped[line.substr(from + 14, nameEnd - from - 14)] = std::atof(line.c_str() + count + 17);
  }
  double total = 0;
  for (const auto& [element, n] : dropped) total += n;
  return total;
}

// `gst-launch-1.0 playbin` with the given video sink, from spawn to exit at the clip's end;
// CPU seconds per second, -1 when it cannot start. The sinks send QoS upstream, as a video
// renderer does (and as our appsink does).
double GstLaunchPlaybin(const std::string& videoSink, double& mostDropped) {
  std::vector<std::string> args{"gst-launch-1.0", "-m", "playbin", "uri=file://" + kClip,
                                "video-sink=" + videoSink, "audio-sink=fakesink"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string log;
  rusage usage{};
  const double start = bench::WallSeconds();
  const int status = bench::SpawnReadingOutput(argv.data(), environ, log, &usage);
  const double wall = bench::WallSeconds() - start;
  if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  mostDropped = std::max(mostDropped, DroppedInLog(log));
  return CpuSeconds(usage) / wall;
}

void BM_Playback1080p30(benchmark::State& state) {
  if (!MakeClip()) return state.SkipWithError("cannot make the clip with gst-launch-1.0");
  const std::string sink = std::getenv("DISPLAY")
                               ? "videoconvert ! ximagesink sync=true qos=true"
                               : "videoconvert ! video/x-raw,format=BGRx ! fakesink sync=true qos=true";
  for (auto _ : state) {
    double dropped = 0, baseDropped = 0;
    bench::PairedRuns runs;
    if (!bench::RunPaired(
            state, bench::Rounds(), [&] { return OurPlayback(dropped); },
            [&] { return GstLaunchPlaybin(sink, baseDropped); }, runs))
      return state.SkipWithError("cannot play the clip");
    state.counters["frames_dropped"] = dropped;
    state.counters["base_frames_dropped"] = baseDropped;
    state.SetIterationTime(2.0 * bench::Rounds() * kFrames / 30.0);
  }
}
BENCHMARK(BM_Playback1080p30)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
