// One set of graph scenarios run on both backends: the scripted test double and the GStreamer
// backend with a synthetic live camera. A main-frame test that passes on the scripted backend
// says something about the program only while these agree.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "capture/platform/graph_model.h"
#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "tests/capture/platform/live_test_support.h"

namespace media {
namespace {

using livetest::WaitFor;

namespace fs = std::filesystem;

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "graph_contract_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QApplication(argc, argv);
}

// What a scenario needs of a backend.
struct Backend {
  virtual ~Backend() = default;
  virtual IMediaPlatform& Platform() = 0;
  virtual std::string Camera() = 0;      // a device without a preview pin
  virtual std::string Compressor() = 0;
  // Lets `n` frames through a running capture graph.
  virtual bool Frames(IAMDroppedFrames& counter, long n) = 0;
};

struct ScriptedBackend : Backend {
  ScriptedBackend() {
    ScriptedSettings s = TwoCameraSettings();
    s.compressors = {{"@device:scripted:codec-a", "Codec A", status::kOk}};
    platform = std::make_shared<ScriptedPlatform>(s);
  }
  IMediaPlatform& Platform() override { return *platform; }
  std::string Camera() override { return "@device:scripted:camera-b"; }
  std::string Compressor() override { return "@device:scripted:codec-a"; }
  bool Frames(IAMDroppedFrames& counter, long n) override {
    platform->DeliverFrames(int(n));
    long delivered = 0;
    return Succeeded(counter.GetNumNotDropped(delivered)) && delivered >= n;
  }
  static void Release() {}
  std::shared_ptr<ScriptedPlatform> platform;
};

struct GstBackend : Backend {
  GstBackend() {
    if (!platform) platform = CreateGstPlatform().release();  // kept for the suite, as the program does
  }
  static void Release() {
    delete platform;
    platform = nullptr;
  }
  IMediaPlatform& Platform() override { return *platform; }
  std::string Camera() override { return "@device:gst:test:0"; }
  std::string Compressor() override { return "@device:gst:encoder:jpegenc"; }
  bool Frames(IAMDroppedFrames& counter, long n) override {
    return WaitFor([&] {
      long delivered = 0;
      return Succeeded(counter.GetNumNotDropped(delivered)) && delivered >= n;
    });
  }
  static inline IMediaPlatform* platform = nullptr;
};

template <class B>
class GraphContract : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ::setenv("LUMORA_TEST_CAMERAS", "1", 0);
    EnsureApplication();
  }
  static void TearDownTestSuite() { B::Release(); }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lumora-contract-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    IMediaPlatform& p = backend_.Platform();
    ASSERT_EQ(p.CreateCaptureGraphBuilder2(builder_), status::kOk);
    ASSERT_EQ(p.CreateFilterGraph(graph_), status::kOk);
    ASSERT_EQ(builder_->SetFiltergraph(graph_), status::kOk);
    ASSERT_EQ(p.ParseDisplayName(backend_.Camera(), camera_), status::kOk);
    ASSERT_EQ(camera_->BindToFilter(capture_), status::kOk);
    ASSERT_EQ(graph_->AddFilter(capture_, ""), status::kOk);
    ASSERT_EQ(graph_->QueryMediaControl(control_), status::kOk);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    fs::remove_all(dir_);
  }
  std::shared_ptr<IBaseFilter> BindCompressor() {
    std::shared_ptr<IMoniker> m;
    std::shared_ptr<IBaseFilter> f;
    EXPECT_EQ(backend_.Platform().ParseDisplayName(backend_.Compressor(), m), status::kOk);
    EXPECT_EQ(m->BindToFilter(f), status::kOk);
    return f;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (auto& f : graph_->EnumFilters()) names.push_back(f->Name());
    return names;
  }
  std::shared_ptr<IPin> CapturePin() { return FirstPin(*capture_, PinDirection::Output); }
  bool Connected(const std::shared_ptr<IPin>& pin) {
    std::shared_ptr<IPin> to;
    return Succeeded(pin->ConnectedTo(to)) && to;
  }
  model::Graph& Model() { return dynamic_cast<model::Graph&>(*graph_); }
  // Capture filter -> AVI mux -> file writer.
  std::shared_ptr<IBaseFilter> CaptureToFile(const std::string& name) {
    std::shared_ptr<IBaseFilter> mux;
    std::shared_ptr<IFileSinkFilter> sink;
    EXPECT_EQ(builder_->SetOutputFileName(guid::kSubtypeAvi, (dir_ / name).string(), mux, sink), status::kOk);
    EXPECT_EQ(builder_->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, capture_, nullptr, mux),
              status::kOk);
    return mux;
  }

  B backend_;
  fs::path dir_;
  std::shared_ptr<ICaptureGraphBuilder2> builder_;
  std::shared_ptr<IFilterGraph> graph_;
  std::shared_ptr<IMoniker> camera_;
  std::shared_ptr<IBaseFilter> capture_;
  std::shared_ptr<IMediaControl> control_;
};

using Backends = testing::Types<ScriptedBackend, GstBackend>;
class BackendNames {
public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, ScriptedBackend> ? "Scripted" : "GStreamer";
  }
};
TYPED_TEST_SUITE(GraphContract, Backends, BackendNames);

TYPED_TEST(GraphContract, AddConnectRenderAndRemove) {
  EXPECT_EQ(this->graph_->Render(this->CapturePin()), status::kOk);
  auto names = this->Names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[1], "Video Renderer");
  auto renderer = this->graph_->EnumFilters()[1];
  EXPECT_EQ(this->graph_->RemoveFilter(renderer), status::kOk);
  EXPECT_FALSE(this->Connected(this->CapturePin()));
  EXPECT_EQ(renderer->Name(), "");
  EXPECT_EQ(this->graph_->RemoveFilter(renderer), status::kNotFound);
  // A connection made by hand, broken one side per call.
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(this->backend_.Platform().CreateSampleGrabber(grabber), status::kOk);
  ASSERT_EQ(this->graph_->AddFilter(grabber->Filter(), "Grabber"), status::kOk);
  auto in = FirstPin(*grabber->Filter(), PinDirection::Input);
  EXPECT_EQ(this->graph_->Connect(this->CapturePin(), in), status::kOk);
  EXPECT_EQ(this->graph_->Connect(this->CapturePin(), in), status::kAlreadyConnected);
  EXPECT_EQ(this->graph_->Disconnect(in), status::kOk);
  EXPECT_EQ(this->graph_->Disconnect(in), status::kFalse);
  EXPECT_EQ(this->graph_->Disconnect(this->CapturePin()), status::kOk);
}

TYPED_TEST(GraphContract, DuplicateNamesGetASuffixAndCountAsAdded) {
  auto a = this->BindCompressor();
  auto b = this->BindCompressor();
  EXPECT_EQ(this->graph_->AddFilter(a, "Selected Video Compressor"), status::kOk);
  EXPECT_EQ(this->graph_->AddFilter(b, "Selected Video Compressor"), status::kDuplicateName);
  EXPECT_NE(a->Name(), b->Name());
  EXPECT_EQ(this->graph_->AddFilter(a, "again"), status::kDuplicateNameError);
}

TYPED_TEST(GraphContract, PreviewWithoutAPreviewPinIsACopyOfTheCaptureStream) {
  auto mux = this->CaptureToFile("tee.avi");
  EXPECT_EQ(this->builder_->RenderStream(&guid::kPinCategoryPreview, &guid::kMediaTypeVideo, this->capture_,
                                         nullptr, nullptr),
            status::kPreviewFromCapture);
  auto names = this->Names();
  EXPECT_NE(std::find(names.begin(), names.end(), "Smart Tee"), names.end());
  // The capture connection now runs through the tee into the mux.
  std::shared_ptr<IPin> to;
  ASSERT_EQ(this->CapturePin()->ConnectedTo(to), status::kOk);
  PinInfo info;
  ASSERT_EQ(to->QueryPinInfo(info), status::kOk);
  EXPECT_EQ(info.filter->Name(), "Smart Tee");
  EXPECT_TRUE(this->Connected(FirstPin(*mux, PinDirection::Input)));
}

TYPED_TEST(GraphContract, TeeIsOnlyInsertedInAStoppedGraph) {
  this->CaptureToFile("running.avi");
  ASSERT_TRUE(Succeeded(this->control_->Run()));
  const auto before = this->Names();
  EXPECT_EQ(this->builder_->RenderStream(&guid::kPinCategoryPreview, &guid::kMediaTypeVideo, this->capture_,
                                         nullptr, nullptr),
            status::kWrongState);
  EXPECT_EQ(this->Names(), before);
  // Other changes are refused while running too.
  EXPECT_EQ(this->graph_->Disconnect(this->CapturePin()), status::kWrongState);
  EXPECT_EQ(this->graph_->RemoveFilter(this->capture_), status::kWrongState);
  EXPECT_EQ(this->control_->Stop(), status::kOk);
}

TYPED_TEST(GraphContract, FailedRenderStreamLeavesTheGraphAsItWas) {
  auto compressor = this->BindCompressor();
  const auto before = this->Names();
  // The capture filter has no input pin: the compressor is added and joined, then the last
  // step fails; both must be undone.
  EXPECT_EQ(this->builder_->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, this->capture_,
                                         compressor, this->capture_),
            status::kCannotConnect);
  EXPECT_EQ(this->Names(), before);
  EXPECT_FALSE(this->Connected(this->CapturePin()));
  EXPECT_EQ(compressor->Name(), "");
}

TYPED_TEST(GraphContract, CompressorIsJoinedThroughAFreePin) {
  auto compressor = this->BindCompressor();
  std::shared_ptr<IBaseFilter> mux;
  std::shared_ptr<IFileSinkFilter> sink;
  ASSERT_EQ(this->builder_->SetOutputFileName(guid::kSubtypeAvi, (this->dir_ / "c.avi").string(), mux, sink),
            status::kOk);
  ASSERT_EQ(this->builder_->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, this->capture_,
                                         compressor, mux),
            status::kOk);
  EXPECT_TRUE(this->Connected(FirstPin(*compressor, PinDirection::Input)));
  EXPECT_TRUE(this->Connected(FirstPin(*compressor, PinDirection::Output)));
  // A second stream finds no free pin on it and changes nothing.
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(this->backend_.Platform().CreateSampleGrabber(grabber), status::kOk);
  ASSERT_EQ(this->graph_->AddFilter(grabber->Filter(), "Grabber"), status::kOk);
  const auto before = this->Names();
  EXPECT_EQ(this->builder_->RenderStream(nullptr, nullptr, grabber->Filter(), compressor, nullptr),
            status::kCannotConnect);
  EXPECT_EQ(this->Names(), before);
}

TYPED_TEST(GraphContract, FailedOutputFileNameLeavesNoFilterBehind) {
  const std::string path = (this->dir_ / "fails.avi").string();
  this->Model().SetProbeForTesting([&](const std::string& op, const std::string& arg) {
    return op == "Graph.AddFilter" && arg == path ? status::kOutOfMemory : status::kOk;
  });
  const auto before = this->Names();
  std::shared_ptr<IBaseFilter> mux;
  std::shared_ptr<IFileSinkFilter> sink;
  EXPECT_EQ(this->builder_->SetOutputFileName(guid::kSubtypeAvi, path, mux, sink), status::kOutOfMemory);
  EXPECT_EQ(this->Names(), before);
  EXPECT_EQ(mux, nullptr);
}

TYPED_TEST(GraphContract, StreamControlIsGraphWideAtTheMuxer) {
  const int64_t never = kMaxTime;
  EXPECT_EQ(this->builder_->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, &never, nullptr, 0, 0),
            status::kNoInterface);  // nothing to gate without a file
  this->CaptureToFile("gate.avi");
  EXPECT_EQ(this->builder_->ControlStream(&guid::kPinCategoryPreview, nullptr, nullptr, &never, nullptr, 0, 0),
            status::kNoInterface);
  EXPECT_EQ(this->builder_->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, &never, nullptr, 0, 0),
            status::kOk);
  EXPECT_FALSE(this->Model().CaptureGateOpen());
  EXPECT_EQ(this->builder_->ControlStream(&guid::kPinCategoryCapture, nullptr, this->capture_, nullptr, &never, 0, 0),
            status::kOk);
  EXPECT_TRUE(this->Model().CaptureGateOpen());
}

TYPED_TEST(GraphContract, FormatTheDeviceDoesNotListIsRefused) {
  std::shared_ptr<IAMStreamConfig> config;
  ASSERT_EQ(this->builder_->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, this->capture_, config),
            status::kOk);
  MediaType before, wanted, after;
  ASSERT_EQ(config->GetFormat(before), status::kOk);
  wanted = before;
  wanted.videoInfo->bmiHeader.biWidth = 333;
  wanted.videoInfo->bmiHeader.biHeight = 217;
  EXPECT_EQ(config->SetFormat(wanted), status::kInvalidMediaType);
  ASSERT_EQ(config->GetFormat(after), status::kOk);
  EXPECT_EQ(after.videoInfo->bmiHeader.biWidth, before.videoInfo->bmiHeader.biWidth);
  EXPECT_EQ(after.subtype, before.subtype);
  // A listed one is taken.
  VideoStreamConfigCaps caps;
  ASSERT_EQ(config->GetStreamCaps(0, wanted, caps), status::kOk);
  EXPECT_EQ(config->SetFormat(wanted), status::kOk);
}

TYPED_TEST(GraphContract, EventsKeepTheirOrderWithOneNotification) {
  std::shared_ptr<IMediaEventEx> events;
  ASSERT_EQ(this->graph_->QueryMediaEvent(events), status::kOk);
  int notices = 0;
  ASSERT_EQ(events->SetNotifyWindow([&](uint32_t, intptr_t) { ++notices; }, 0x8001, 0), status::kOk);
  for (long code : {0x10L, 0x11L, 0x12L}) this->Model().Events()->Queue(GraphEvent{code, 0, 0, nullptr});
  QCoreApplication::processEvents();
  EXPECT_EQ(notices, 1);
  GraphEvent ev;
  for (long code : {0x10L, 0x11L, 0x12L}) {
    ASSERT_EQ(events->GetEvent(ev, 0), status::kOk);
    EXPECT_EQ(ev.code, code);
  }
  EXPECT_EQ(events->GetEvent(ev, 0), status::kTimeout);
  events->SetNotifyWindow({}, 0, 0);
}

TYPED_TEST(GraphContract, EventQueueIsEmptiedWhenTheGraphIsTakenApartOrStarted) {
  std::shared_ptr<IMediaEventEx> events;
  ASSERT_EQ(this->graph_->QueryMediaEvent(events), status::kOk);
  ASSERT_EQ(this->graph_->Render(this->CapturePin()), status::kOk);
  this->Model().Events()->Queue(GraphEvent{event::kErrorAbort, 1, 0, nullptr}, false);
  ASSERT_EQ(this->graph_->RemoveFilter(this->graph_->EnumFilters()[1]), status::kOk);
  int notices = 0;
  events->SetNotifyWindow([&](uint32_t, intptr_t) { ++notices; }, 0x8001, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(notices, 0);  // nothing stale replayed
  GraphEvent ev;
  EXPECT_EQ(events->GetEvent(ev, 0), status::kTimeout);

  ASSERT_EQ(this->graph_->Render(this->CapturePin()), status::kOk);
  this->Model().Events()->Queue(GraphEvent{event::kErrorAbort, 1, 0, nullptr}, false);
  ASSERT_TRUE(Succeeded(this->control_->Run()));
  EXPECT_EQ(events->GetEvent(ev, 0), status::kTimeout);
  events->SetNotifyWindow({}, 0, 0);
}

TYPED_TEST(GraphContract, StopEndsTheCaptureAndKeepsItsCounts) {
  this->CaptureToFile("stop.avi");
  std::shared_ptr<IAMDroppedFrames> counter;
  ASSERT_TRUE(Succeeded(this->control_->Run()));
  ASSERT_EQ(this->builder_->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, this->capture_, counter),
            status::kOk);
  ASSERT_TRUE(this->backend_.Frames(*counter, 5));
  EXPECT_EQ(this->control_->Stop(), status::kOk);
  long delivered = 0;
  EXPECT_EQ(counter->GetNumNotDropped(delivered), status::kOk);
  EXPECT_GE(delivered, 5);
  EXPECT_EQ(this->control_->Stop(), status::kOk);  // stopping a stopped graph is fine
}

}  // namespace
}  // namespace media
