// Helper of the killed-capture tests: captures the first synthetic camera through the real
// capture graph into the AVI named on the command line, as the program does behind its Ready
// dialog: the graph runs with the capture stream shut for `gate` milliseconds, then the
// stream opens. Prints "open" when it opens and "frames N" (frames gone into the file) every
// 20 ms; with `stop` > 0 it stops the graph after that many frames (a finished capture) and
// prints "done N".
//
//   capture_torture_helper FILE raw|jpegenc WIDTH GATE_MS STOP_FRAMES
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "capture/platform/gst/gst_platform.h"

using namespace media;

namespace {

// The first capability of the capture pin that is `width` wide becomes its format.
bool ChooseWidth(ICaptureGraphBuilder2& builder, const std::shared_ptr<IBaseFilter>& capture, int width) {
  std::shared_ptr<IAMStreamConfig> config;
  if (Failed(builder.FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture, config)) || !config)
    return false;
  int count = 0, size = 0;
  if (Failed(config->GetNumberOfCapabilities(count, size))) return false;
  for (int i = 0; i < count; ++i) {
    MediaType mt;
    VideoStreamConfigCaps caps;
    if (Succeeded(config->GetStreamCaps(i, mt, caps)) && mt.IsVideoInfo() && mt.videoInfo->bmiHeader.biWidth == width)
      return Succeeded(config->SetFormat(mt));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::string codec = argv[2];
  const int width = std::atoi(argv[3]), gateMs = std::atoi(argv[4]);
  const long stopAfter = std::atol(argv[5]);
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  QApplication app(argc, argv);
  auto platform = CreateGstPlatform();
  std::shared_ptr<ICaptureGraphBuilder2> builder;
  std::shared_ptr<IFilterGraph> graph;
  std::shared_ptr<IMoniker> camera, encoder;
  std::shared_ptr<IBaseFilter> capture, compressor, mux;
  std::shared_ptr<IFileSinkFilter> sink;
  std::shared_ptr<IMediaControl> control;
  std::shared_ptr<IAMDroppedFrames> counter;
  if (codec != "raw" && (Failed(platform->ParseDisplayName("@device:gst:encoder:" + codec, encoder)) ||
                         Failed(encoder->BindToFilter(compressor))))
    return 3;
  const int64_t never = kMaxTime;
  if (Failed(platform->CreateCaptureGraphBuilder2(builder)) || Failed(platform->CreateFilterGraph(graph)) ||
      Failed(builder->SetFiltergraph(graph)) || Failed(platform->ParseDisplayName("@device:gst:test:0", camera)) ||
      Failed(camera->BindToFilter(capture)) || Failed(graph->AddFilter(capture, "")) ||
      !ChooseWidth(*builder, capture, width) ||
      Failed(builder->SetOutputFileName(guid::kSubtypeAvi, argv[1], mux, sink)) ||
      Failed(builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture, compressor, mux)) ||
      Failed(builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture, counter)) ||
      Failed(builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, &never, nullptr, 0, 0)) ||
      Failed(graph->QueryMediaControl(control)) || Failed(control->Run()))
    return 4;

  QTimer::singleShot(gateMs, [&] {
    builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, nullptr, &never, 0, 0);
    std::printf("open\n");
    std::fflush(stdout);
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    long delivered = 0;
    counter->GetNumNotDropped(delivered);
    std::printf("frames %ld\n", delivered);
    std::fflush(stdout);
    if (stopAfter > 0 && delivered >= stopAfter) {
      control->Stop();
      counter->GetNumNotDropped(delivered);
      std::printf("done %ld\n", delivered);
      std::fflush(stdout);
      app.quit();
    }
  });
  poll.start(20);
  return app.exec();
}
