// Helper of the quit-signal test: captures a synthetic camera into the AVI named on the
// command line until SIGTERM, SIGINT or SIGHUP closes its window. Closing only drops the
// graph, without stopping it, so the graph itself has to finish the file. Prints
// "capturing" once frames reach the file and "delivered N" after the graph is gone.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/quit_signals.h"
#include "capture/platform/gst/gst_platform.h"

using namespace media;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ::setenv("LUMORA_TEST_CAMERAS", "1", 1);
  QApplication app(argc, argv);
  auto platform = CreateGstPlatform();
  std::shared_ptr<ICaptureGraphBuilder2> builder;
  std::shared_ptr<IFilterGraph> graph;
  std::shared_ptr<IMoniker> camera;
  std::shared_ptr<IBaseFilter> capture, mux;
  std::shared_ptr<IFileSinkFilter> sink;
  std::shared_ptr<IMediaControl> control;
  std::shared_ptr<IAMDroppedFrames> counter;
  if (Failed(platform->CreateCaptureGraphBuilder2(builder)) || Failed(platform->CreateFilterGraph(graph)) ||
      Failed(builder->SetFiltergraph(graph)) || Failed(platform->ParseDisplayName("@device:gst:test:0", camera)) ||
      Failed(camera->BindToFilter(capture)) || Failed(graph->AddFilter(capture, "")) ||
      Failed(builder->SetOutputFileName(guid::kSubtypeAvi, argv[1], mux, sink)) ||
      Failed(builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture, nullptr, mux)) ||
      Failed(builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture, counter)) ||
      Failed(graph->QueryMediaControl(control)) || Failed(control->Run()))
    return 3;

  QWidget window;
  window.show();
  CloseOnQuitSignals(&window);
  QTimer poll;
  bool told = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    long delivered = 0;
    if (!told && Succeeded(counter->GetNumNotDropped(delivered)) && delivered >= 10) {
      told = true;
      std::printf("capturing\n");
      std::fflush(stdout);
    }
  });
  poll.start(20);
  const int code = app.exec();
  control.reset();
  builder.reset();
  mux.reset();
  capture.reset();
  graph.reset();  // the last reference: the graph finishes the file here
  long delivered = -1;
  counter->GetNumNotDropped(delivered);
  std::printf("delivered %ld\n", delivered);
  return code;
}
