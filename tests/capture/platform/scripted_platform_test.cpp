// The scripted platform behaves like the framework where the capture code depends on it:
// preview and capture graphs, the preview-from-capture status, duplicate names, stream
// gating and counters, events reaching the UI thread, device loss.
#include "capture/platform/scripted/scripted_platform.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>

namespace media {
namespace {

bool Logged(const ScriptedPlatform& p, const std::string& line) {
  const auto& log = p.CallLog();
  return std::find(log.begin(), log.end(), line) != log.end();
}

// What the capture code keeps for one device.
struct Rig {
  std::shared_ptr<ICaptureGraphBuilder2> builder;
  std::shared_ptr<IFilterGraph> graph;
  std::shared_ptr<IBaseFilter> capture;

  Status Make(IMediaPlatform& p, size_t device) {
    std::vector<std::shared_ptr<IMoniker>> devices;
    if (Status s = p.CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices); s != status::kOk)
      return s;
    if (Status s = p.CreateCaptureGraphBuilder2(builder); Failed(s)) return s;
    if (Status s = devices.at(device)->BindToFilter(capture); Failed(s)) return s;
    if (Status s = p.CreateFilterGraph(graph); Failed(s)) return s;
    if (Status s = builder->SetFiltergraph(graph); Failed(s)) return s;
    return graph->AddFilter(capture, "");
  }
  // The preview graph: capture pin 0 -> grabber -> rendered.
  Status Preview(IMediaPlatform& p, std::shared_ptr<ISampleGrabber>& grabber) {
    if (Status s = p.CreateSampleGrabber(grabber); Failed(s)) return s;
    if (Status s = graph->AddFilter(grabber->Filter(), "Grabber"); Failed(s)) return s;
    if (Status s = graph->Connect(FirstPin(*capture, PinDirection::Output),
                                  FirstPin(*grabber->Filter(), PinDirection::Input));
        Failed(s))
      return s;
    Status s = graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output));
    grabber->SetBufferSamples(true);
    return s;
  }
};

class ScriptedPlatformTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
  }
  static inline QCoreApplication* app_ = nullptr;
};

TEST_F(ScriptedPlatformTest, EnumeratesDevicesWithNamesAndIdentity) {
  ScopedScriptedPlatform p(TwoCameraSettings());
  std::vector<std::shared_ptr<IMoniker>> devices;
  ASSERT_EQ(p->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  ASSERT_EQ(devices.size(), 2u);
  std::shared_ptr<IPropertyBag> bag;
  ASSERT_EQ(devices[1]->BindToPropertyBag(bag), status::kOk);
  std::string name;
  EXPECT_EQ(bag->Read("FriendlyName", name), status::kOk);
  EXPECT_EQ(name, "Camera B");
  EXPECT_TRUE(Failed(bag->Read("Nonsense", name)));

  std::shared_ptr<IMoniker> parsed;
  ASSERT_EQ(p->ParseDisplayName(devices[1]->GetDisplayName(), parsed), status::kOk);
  EXPECT_EQ(parsed->IsEqual(*devices[1]), status::kOk);
  EXPECT_EQ(parsed->IsEqual(*devices[0]), status::kFalse);
  // An empty category is "false", not an error, and still not plain success.
  EXPECT_EQ(p->CreateClassEnumerator(guid::kVideoCompressorCategory, devices), status::kFalse);
  EXPECT_TRUE(devices.empty());
}

TEST_F(ScriptedPlatformTest, PreviewGraphHandsOutFramesInTheDeviceFormat) {
  ScopedScriptedPlatform p(TwoCameraSettings());
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(rig.Preview(*p, grabber), status::kOk);

  int32_t size = 0;
  EXPECT_TRUE(Failed(grabber->GetCurrentBufferSize(size)));  // nothing streamed yet
  std::shared_ptr<IMediaControl> control;
  ASSERT_EQ(rig.graph->QueryMediaControl(control), status::kOk);
  ASSERT_EQ(control->Run(), status::kOk);
  p->DeliverFrames(3);
  ASSERT_EQ(grabber->GetCurrentBufferSize(size), status::kOk);
  EXPECT_EQ(size, 320 * 3 * 240);
  std::vector<uint8_t> frame(size_t(size) - 1);
  int32_t small = size - 1;
  EXPECT_EQ(grabber->GetCurrentBuffer(small, frame.data()), status::kBufferTooSmall);
  MediaType type;
  ASSERT_EQ(grabber->GetConnectedMediaType(type), status::kOk);
  ASSERT_TRUE(type.IsVideoInfo());
  EXPECT_EQ(type.videoInfo->bmiHeader.biBitCount, 24);
  EXPECT_EQ(type.videoInfo->bmiHeader.biCompression, 0u);

  std::shared_ptr<IVideoWindow> window;
  ASSERT_EQ(rig.graph->QueryVideoWindow(window), status::kOk);
  window->put_Owner(OwnerWindow{&size});
  window->SetWindowPosition(0, 26, 320, 240);
  window->put_Visible(true);
  const auto state = p->LastVideoWindow();
  EXPECT_TRUE(state.visible);
  EXPECT_EQ(state.top, 26);
  EXPECT_EQ(state.width, 320);
}

TEST_F(ScriptedPlatformTest, PreviewRenderOfDeviceWithoutPreviewPinIsMadeFromCapture) {
  ScopedScriptedPlatform p(TwoCameraSettings());
  struct Case {
    size_t device;
    Status expected;
  };
  for (const Case c : {Case{0, status::kOk}, Case{1, status::kPreviewFromCapture}}) {
    Rig rig;
    ASSERT_EQ(rig.Make(*p, c.device), status::kOk);
    std::shared_ptr<IBaseFilter> mux;
    std::shared_ptr<IFileSinkFilter> sink;
    ASSERT_EQ(rig.builder->SetOutputFileName(guid::kSubtypeAvi, "/tmp/x.avi", mux, sink), status::kOk);
    // Capture first (the interleaved pin does not exist on these devices), then preview.
    EXPECT_TRUE(Failed(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeInterleaved,
                                                 rig.capture, nullptr, mux)));
    EXPECT_EQ(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo,
                                        rig.capture, nullptr, mux),
              status::kOk);
    EXPECT_EQ(rig.builder->RenderStream(&guid::kPinCategoryPreview, &guid::kMediaTypeVideo,
                                        rig.capture, nullptr, nullptr),
              c.expected)
        << c.device;
    std::shared_ptr<IConfigAviMux> config;
    EXPECT_EQ(rig.builder->FindInterface(nullptr, nullptr, mux, config), status::kOk);
  }
}

TEST_F(ScriptedPlatformTest, DuplicateNamesAreRenamedAndCountAsAdded) {
  ScriptedSettings s = TwoCameraSettings();
  s.compressors = {{"@device:scripted:codec-a", "Codec A", status::kOk}};
  ScopedScriptedPlatform p(s);
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::vector<std::shared_ptr<IMoniker>> codecs;
  ASSERT_EQ(p->CreateClassEnumerator(guid::kVideoCompressorCategory, codecs), status::kOk);
  std::shared_ptr<IBaseFilter> a, b;
  ASSERT_EQ(codecs[0]->BindToFilter(a), status::kOk);
  ASSERT_EQ(codecs[0]->BindToFilter(b), status::kOk);
  EXPECT_EQ(rig.graph->AddFilter(a, "Selected Video Compressor"), status::kOk);
  EXPECT_EQ(rig.graph->AddFilter(b, "Selected Video Compressor"), status::kDuplicateName);
  EXPECT_NE(a->Name(), b->Name());
}

TEST_F(ScriptedPlatformTest, FailingDeviceIsListedButDoesNotOpen) {
  ScriptedSettings s;
  s.devices = {FailingDevice("Broken Cam")};
  ScopedScriptedPlatform p(s);
  std::vector<std::shared_ptr<IMoniker>> devices;
  ASSERT_EQ(p->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  std::shared_ptr<IPropertyBag> bag;
  std::string name;
  ASSERT_EQ(devices[0]->BindToPropertyBag(bag), status::kOk);
  EXPECT_EQ(bag->Read("FriendlyName", name), status::kOk);
  std::shared_ptr<IBaseFilter> filter;
  EXPECT_EQ(devices[0]->BindToFilter(filter), status::kDeviceInUse);
  EXPECT_EQ(filter, nullptr);
}

TEST_F(ScriptedPlatformTest, InUseDeviceCannotConnect) {
  ScriptedSettings s = TwoCameraSettings();
  s.devices[0].inUse = true;
  ScopedScriptedPlatform p(s);
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::shared_ptr<ISampleGrabber> grabber;
  EXPECT_EQ(rig.Preview(*p, grabber), status::kCannotConnect);
}

TEST_F(ScriptedPlatformTest, InjectedFailuresAnswerTheirStatus) {
  ScriptedSettings s = TwoCameraSettings();
  s.fail["MediaControl.Run"] = status::kFail;
  s.fail["Platform.CreateSampleGrabber"] = status::kNoInterface;
  ScopedScriptedPlatform p(s);
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::shared_ptr<ISampleGrabber> grabber;
  EXPECT_EQ(rig.Preview(*p, grabber), status::kNoInterface);
  std::shared_ptr<IMediaControl> control;
  ASSERT_EQ(rig.graph->QueryMediaControl(control), status::kOk);
  EXPECT_EQ(control->Run(), status::kFail);
  EXPECT_FALSE(p->AnyGraphRunning());
}

TEST_F(ScriptedPlatformTest, CountersFollowTheGatedCaptureStream) {
  ScriptedSettings s = TwoCameraSettings();
  s.devices[1].dropEvery = 5;
  ScopedScriptedPlatform p(s);
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 1), status::kOk);
  std::shared_ptr<IBaseFilter> mux;
  std::shared_ptr<IFileSinkFilter> sink;
  ASSERT_EQ(rig.builder->SetOutputFileName(guid::kSubtypeAvi, "/tmp/x.avi", mux, sink), status::kOk);
  ASSERT_EQ(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture,
                                      nullptr, mux),
            status::kOk);
  const int64_t never = kMaxTime;
  ASSERT_EQ(rig.builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, &never, nullptr, 0, 0),
            status::kOk);
  std::shared_ptr<IMediaControl> control;
  rig.graph->QueryMediaControl(control);
  control->Run();
  p->DeliverFrames(7);  // gated off: not counted
  ASSERT_EQ(rig.builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, nullptr, &never, 0, 0),
            status::kOk);
  p->DeliverFrames(20);
  std::shared_ptr<IAMDroppedFrames> dropped;
  EXPECT_TRUE(Failed(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeInterleaved,
                                                rig.capture, dropped)));
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture,
                                       dropped),
            status::kOk);
  long d = 0, n = 0, avg = 0;
  dropped->GetNumDropped(d);
  dropped->GetNumNotDropped(n);
  dropped->GetAverageFrameSize(avg);
  EXPECT_EQ(d, 4);
  EXPECT_EQ(n, 16);
  EXPECT_EQ(avg, 230400);
}

TEST_F(ScriptedPlatformTest, EventsReachTheNotifyTargetOnTheEventLoop) {
  ScopedScriptedPlatform p(TwoCameraSettings());
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::shared_ptr<IMediaEventEx> events;
  ASSERT_EQ(rig.graph->QueryMediaEvent(events), status::kOk);
  std::vector<GraphEvent> seen;
  uint32_t gotMessage = 0;
  ASSERT_EQ(events->SetNotifyWindow(
                [&](uint32_t message, intptr_t) {
                  gotMessage = message;
                  GraphEvent e;
                  while (events->GetEvent(e, 0) == status::kOk) {
                    seen.push_back(e);
                    events->FreeEventParams(e);
                  }
                },
                kFirstUserMessage + 1, 0),
            status::kOk);
  p->InjectEvent(event::kErrorAbort, status::kFail, 0);
  p->LoseDevice(0);
  EXPECT_TRUE(seen.empty());  // queued, not called from inside the injection
  QCoreApplication::processEvents();
  EXPECT_EQ(gotMessage, kFirstUserMessage + 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, event::kErrorAbort);
  EXPECT_EQ(seen[0].param1, status::kFail);
  EXPECT_EQ(seen[1].code, event::kDeviceLost);
  EXPECT_EQ(seen[1].param2, 0);
  std::vector<std::shared_ptr<IMoniker>> devices;
  EXPECT_EQ(p->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  EXPECT_EQ(devices.size(), 1u);
}

TEST_F(ScriptedPlatformTest, DetachingDownstreamLeavesOnlyTheCaptureFilter) {
  ScopedScriptedPlatform p(TwoCameraSettings());
  Rig rig;
  ASSERT_EQ(rig.Make(*p, 0), status::kOk);
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(rig.Preview(*p, grabber), status::kOk);
  // What DismantleGraph does: walk downstream, disconnect both sides, remove.
  std::function<void(const std::shared_ptr<IBaseFilter>&)> detach =
      [&](const std::shared_ptr<IBaseFilter>& f) {
        for (auto& pin : f->EnumPins()) {
          std::shared_ptr<IPin> to;
          if (Failed(pin->ConnectedTo(to))) continue;
          PinInfo info;
          if (Failed(to->QueryPinInfo(info))) break;
          if (info.direction != PinDirection::Input) continue;
          detach(info.filter);
          rig.graph->Disconnect(to);
          rig.graph->Disconnect(pin);
          rig.graph->RemoveFilter(info.filter);
        }
      };
  detach(rig.capture);
  EXPECT_EQ(p->FiltersInGraph(), std::vector<std::string>{"Camera A"});
  EXPECT_TRUE(Logged(*p, "Graph.RemoveFilter Grabber"));
  std::shared_ptr<IVideoWindow> window;
  EXPECT_EQ(rig.graph->QueryVideoWindow(window), status::kNoInterface);
}

}  // namespace
}  // namespace media
