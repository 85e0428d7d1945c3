// Inside the GStreamer backend: a start that completes asynchronously (and one that fails on
// the way), pad probes that never hold their filter, frames leaving a camera in the source's
// own buffers, and device identity through the synthetic device provider (identical cameras
// apart by bus path, one camera seen by two providers listed once).
#include <QApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/platform/gst/gst_capture_filter.h"
#include "capture/platform/gst/gst_errors.h"
#include "capture/platform/gst/gst_graph.h"
#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/gst/test_cameras.h"
#include "tests/capture/platform/live_test_support.h"

namespace media {
namespace {

using livetest::WaitFor;

// A source that is not live (so the sink prerolls): small test frames through an identity
// element configured by the test (a delay, or an error on the first frame).
class TestSource : public gst::GFilter {
public:
  TestSource(const char* identityProperty, int value) : GFilter(gst::FilterKind::Capture, "Test Source") {
    GstElement* src = Make("videotestsrc");
    GstElement* caps = Make("capsfilter");
    identity_ = Make("identity");
    gsth::CapsRef small(gst_caps_from_string("video/x-raw,format=I420,width=64,height=48,framerate=30/1"));
    g_object_set(caps, "caps", small.get(), nullptr);
    g_object_set(identity_, identityProperty, value, nullptr);
    gst_element_link_many(src, caps, identity_, nullptr);
  }
  static std::shared_ptr<TestSource> New(const char* identityProperty, int value) {
    auto f = std::make_shared<TestSource>(identityProperty, value);
    f->AddGhostPin(PinDirection::Output, "Out", StaticPad(f->identity_, "src"), guid::kPinCategoryCapture);
    return f;
  }

private:
  GstElement* identity_ = nullptr;
};

// A sink that completes its state changes asynchronously (it prerolls on the first frame).
class TestSink : public gst::GFilter {
public:
  TestSink() : GFilter(gst::FilterKind::Renderer, "Test Sink") {
    sink_ = Make("fakesink");
    g_object_set(sink_, "async", TRUE, "sync", FALSE, nullptr);
  }
  static std::shared_ptr<TestSink> New() {
    auto f = std::make_shared<TestSink>();
    f->AddGhostPin(PinDirection::Input, "In", StaticPad(f->sink_, "sink"));
    return f;
  }

private:
  GstElement* sink_ = nullptr;
};

class GstBackendTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    livetest::StartSuite("1", "gst_backend_test");
    if (!platform_) platform_ = CreateGstPlatform().release();
  }
  static void TearDownTestSuite() {
    delete platform_;
    platform_ = nullptr;
  }

  std::shared_ptr<gst::GGraph> NewGraph() {
    std::shared_ptr<IFilterGraph> g;
    EXPECT_EQ(platform_->CreateFilterGraph(g), status::kOk);
    return std::dynamic_pointer_cast<gst::GGraph>(g);
  }
  static Status Join(IFilterGraph& graph, const std::shared_ptr<IBaseFilter>& from,
                     const std::shared_ptr<IBaseFilter>& to) {
    return graph.Connect(from->EnumPins().front(), to->EnumPins().front());
  }
  static GstState PipelineState(gst::GGraph& graph) {
    GstState now = GST_STATE_VOID_PENDING;
    gst_element_get_state(graph.Pipeline(), &now, nullptr, 0);
    return now;
  }

  static inline IMediaPlatform* platform_ = nullptr;
};

TEST_F(GstBackendTest, AsynchronousStartCountsOnceCompleteAndAFailedOneLeavesTheGraphStopped) {
  {
    SCOPED_TRACE("first frame 300 ms late");
    auto graph = NewGraph();
    auto source = TestSource::New("sleep-time", 300000);
    auto sink = TestSink::New();
    ASSERT_EQ(graph->AddFilter(source, ""), status::kOk);
    ASSERT_EQ(graph->AddFilter(sink, ""), status::kOk);
    ASSERT_EQ(Join(*graph, source, sink), status::kOk);
    EXPECT_EQ(graph->Pause(), status::kOk);
    EXPECT_EQ(graph->State(), model::GraphState::Paused);
    EXPECT_EQ(PipelineState(*graph), GST_STATE_PAUSED);  // prerolled when Pause returned
    EXPECT_EQ(graph->Run(), status::kOk);
    EXPECT_EQ(graph->State(), model::GraphState::Running);
    EXPECT_EQ(PipelineState(*graph), GST_STATE_PLAYING);
    EXPECT_EQ(graph->Stop(), status::kOk);
    EXPECT_EQ(PipelineState(*graph), GST_STATE_NULL);
  }
  {
    SCOPED_TRACE("first frame refused");
    auto graph = NewGraph();
    auto source = TestSource::New("error-after", 1);
    auto sink = TestSink::New();
    ASSERT_EQ(graph->AddFilter(source, ""), status::kOk);
    ASSERT_EQ(graph->AddFilter(sink, ""), status::kOk);
    ASSERT_EQ(Join(*graph, source, sink), status::kOk);
    std::shared_ptr<IMediaEventEx> events;
    ASSERT_EQ(graph->QueryMediaEvent(events), status::kOk);
    EXPECT_TRUE(Failed(graph->Run()));
    EXPECT_EQ(graph->State(), model::GraphState::Stopped);
    EXPECT_EQ(PipelineState(*graph), GST_STATE_NULL);
    // The failure was the answer; it is not reported a second time as an event.
    GraphEvent e;
    EXPECT_EQ(events->GetEvent(e, 0), status::kTimeout);
    // The graph is as it was: a working source makes it run.
    ASSERT_EQ(graph->RemoveFilter(source), status::kOk);
    auto good = TestSource::New("sleep-time", 0);
    ASSERT_EQ(graph->AddFilter(good, ""), status::kOk);
    ASSERT_EQ(Join(*graph, good, sink), status::kOk);
    EXPECT_EQ(graph->Run(), status::kOk);
    EXPECT_EQ(PipelineState(*graph), GST_STATE_PLAYING);
    EXPECT_EQ(graph->Stop(), status::kOk);
  }
}

// A probe that held its filter while it ran could drop the last reference on a streaming
// thread, whose destructor would then stop the pipeline from inside it. Here a probe is held
// in the middle of its work (the counters' lock is taken) and the filter's owners are counted.
TEST_F(GstBackendTest, PadProbesHoldTheCountersNotTheFilter) {
  auto graph = NewGraph();
  std::shared_ptr<IMoniker> camera;
  ASSERT_EQ(platform_->ParseDisplayName("@device:gst:test:0", camera), status::kOk);
  std::shared_ptr<IBaseFilter> capture;
  ASSERT_EQ(camera->BindToFilter(capture), status::kOk);
  auto sink = TestSink::New();
  ASSERT_EQ(graph->AddFilter(capture, ""), status::kOk);
  ASSERT_EQ(graph->AddFilter(sink, ""), status::kOk);
  ASSERT_EQ(Join(*graph, capture, sink), status::kOk);
  const long owners = capture.use_count();
  ASSERT_TRUE(Succeeded(graph->Run()));
  auto counters = graph->counters;
  ASSERT_TRUE(WaitFor([&] { return counters->sourceFrames > 3; }));
  {
    std::lock_guard stall(counters->dropMutex);
    // Frames stop being counted once the source's probe waits for the lock.
    long last = -1;
    QElapsedTimer still;
    ASSERT_TRUE(WaitFor([&] {
      const long now = counters->sourceFrames;
      if (now != last) {
        last = now;
        still.start();
      }
      return still.elapsed() > 300;
    }));
    EXPECT_EQ(capture.use_count(), owners);
  }
  ASSERT_TRUE(WaitFor([&] { return counters->sourceFrames > 3; }));
  EXPECT_EQ(graph->Stop(), status::kOk);
  graph.reset();
  EXPECT_EQ(capture.use_count(), 1);  // nothing else kept it
}

// At the device's own rate nothing between the source and the capture pin copies a frame:
// each leaves in a buffer of the source's pool and goes back to it. (A copy's memory stays
// shared while the preview or the grabber holds it, so the pool had to drop the buffer and
// allocate a new one for every frame.) A rate the device does not run at converts again.
TEST_F(GstBackendTest, FramesLeaveInTheSourcesOwnBuffersUnlessTheRateIsConverted) {
  std::shared_ptr<IMoniker> camera;
  ASSERT_EQ(platform_->ParseDisplayName("@device:gst:test:0", camera), status::kOk);
  std::shared_ptr<IBaseFilter> capture;
  ASSERT_EQ(camera->BindToFilter(capture), status::kOk);
  auto config = std::dynamic_pointer_cast<gst::GCaptureFilter>(capture)->Config();
  auto graph = NewGraph();
  auto sink = TestSink::New();
  ASSERT_EQ(graph->AddFilter(capture, ""), status::kOk);
  ASSERT_EQ(graph->AddFilter(sink, ""), status::kOk);
  ASSERT_EQ(Join(*graph, capture, sink), status::kOk);
  struct Counts {
    std::atomic<int> frames{0}, pooled{0};
  } counts;
  GstPad* out = std::static_pointer_cast<gst::GPin>(capture->EnumPins().front())->Pad();
  const gulong probe = gst_pad_add_probe(
      out, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* c = static_cast<Counts*>(data);
        c->frames++;
        if (GST_PAD_PROBE_INFO_BUFFER(info)->pool) c->pooled++;
        return GST_PAD_PROBE_OK;
      },
      &counts, nullptr);
  MediaType format;
  ASSERT_EQ(config->GetFormat(format), status::kOk);
  for (const int64_t interval : {int64_t(333333), int64_t(1000000), int64_t(333333)}) {
    SCOPED_TRACE(interval);
    format.videoInfo->AvgTimePerFrame = interval;  // 30 fps is listed, 10 fps is not
    ASSERT_EQ(config->SetFormat(format), status::kOk);
    EXPECT_EQ(config->ConvertsRate(), interval != 333333);
    counts.frames = counts.pooled = 0;
    ASSERT_TRUE(Succeeded(graph->Run()));
    EXPECT_TRUE(WaitFor([&] { return counts.frames >= 5; }));
    EXPECT_EQ(graph->Stop(), status::kOk);
    if (interval == 333333) {
      EXPECT_EQ(counts.pooled.load(), counts.frames.load());
    }
  }
  gst_pad_remove_probe(out, probe);
}

// A source that takes a frame's memory back once the frame itself is released (PipeWire's
// does; stood for here by scribbling over the memory then). Frames past the capture pin may
// outlive the source's frame (queues, the grabber's newest frame); at the camera's own rate
// and converted alike they keep the picture they left with.
TEST_F(GstBackendTest, FramesKeepTheirPictureWhenTheSourceTakesItsMemoryBack) {
  std::shared_ptr<IMoniker> camera;
  ASSERT_EQ(platform_->ParseDisplayName("@device:gst:test:0", camera), status::kOk);
  std::shared_ptr<IBaseFilter> capture;
  ASSERT_EQ(camera->BindToFilter(capture), status::kOk);
  auto filter = std::dynamic_pointer_cast<gst::GCaptureFilter>(capture);
  auto graph = NewGraph();
  auto sink = TestSink::New();
  ASSERT_EQ(graph->AddFilter(capture, ""), status::kOk);
  ASSERT_EQ(graph->AddFilter(sink, ""), status::kOk);
  ASSERT_EQ(Join(*graph, capture, sink), status::kOk);
  constexpr size_t kHead = 16;
  GstPad* source = gst_element_get_static_pad(filter->Source(), "src");
  gst_pad_add_probe(source, GST_PAD_PROBE_TYPE_BUFFER, [](GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* in = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!gst_buffer_map(in, &map, GST_MAP_READ) || map.size < kHead) return GST_PAD_PROBE_OK;
    auto* block = static_cast<guint8*>(g_memdup2(map.data, map.size));
    GstBuffer* out = gst_buffer_new_wrapped(block, map.size);
    gst_buffer_unmap(in, &map);
    gst_buffer_copy_into(out, in, GST_BUFFER_COPY_METADATA, 0, -1);
    gst_mini_object_weak_ref(GST_MINI_OBJECT(out), [](gpointer b, GstMiniObject*) { std::memset(b, 0xAB, kHead); },
                             block);
    gst_buffer_unref(in);
    GST_PAD_PROBE_INFO_DATA(info) = out;
    return GST_PAD_PROBE_OK;
  }, nullptr, nullptr);
  gst_object_unref(source);
  struct Held {
    std::mutex mutex;
    std::vector<std::pair<GstBuffer*, std::string>> frames;  // and their first bytes as they left
  } held;
  GstPad* out = std::static_pointer_cast<gst::GPin>(capture->EnumPins().front())->Pad();
  gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, [](GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* h = static_cast<Held*>(data);
    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
    std::string head(kHead, '\0');
    gst_buffer_extract(b, 0, head.data(), kHead);
    std::lock_guard lock(h->mutex);
    h->frames.emplace_back(gst_buffer_ref(b), head);
    return GST_PAD_PROBE_OK;
  }, &held, nullptr);
  MediaType format;
  ASSERT_EQ(filter->Config()->GetFormat(format), status::kOk);
  for (const int64_t interval : {int64_t(333333), int64_t(166666)}) {  // own rate; every frame twice
    SCOPED_TRACE(interval);
    format.videoInfo->AvgTimePerFrame = interval;
    ASSERT_EQ(filter->Config()->SetFormat(format), status::kOk);
    ASSERT_TRUE(Succeeded(graph->Run()));
    EXPECT_TRUE(WaitFor([&] {
      std::lock_guard lock(held.mutex);
      return held.frames.size() >= 10;
    }));
    EXPECT_EQ(graph->Stop(), status::kOk);
    std::lock_guard lock(held.mutex);
    for (auto& [buffer, head] : held.frames) {
      std::string now(kHead, '\0');
      gst_buffer_extract(buffer, 0, now.data(), kHead);
      EXPECT_EQ(now, head);
      gst_buffer_unref(buffer);
    }
    held.frames.clear();
  }
}

TEST_F(GstBackendTest, IdenticalCamerasStayApartAndOneCameraOfTwoProvidersIsListedOnce) {
  // Two cameras of one model without serial numbers, in two USB ports; the first is also
  // listed by PipeWire with its own property names.
  const std::string model = "device.vendor.id=(string)046d, device.product.id=(string)0825, ";
  ASSERT_TRUE(gst::AddTestDeviceForTesting(
      "USB Camera", "v4l2, device.path=(string)/dev/video4, " + model +
                        "v4l2.device.card=(string)\"USB Camera\", v4l2.device.bus_info=(string)usb-0000:00:14.0-1"));
  ASSERT_TRUE(gst::AddTestDeviceForTesting(
      "USB Camera", "v4l2, device.path=(string)/dev/video6, " + model +
                        "v4l2.device.card=(string)\"USB Camera\", v4l2.device.bus_info=(string)usb-0000:00:14.0-2"));
  ASSERT_TRUE(gst::AddTestDeviceForTesting(
      "USB Camera", "pipewire, device.api=(string)v4l2, api.v4l2.path=(string)/dev/video4, "
                    "api.v4l2.cap.card=(string)\"USB Camera\", api.v4l2.cap.bus_info=(string)usb-0000:00:14.0-1"));
  std::vector<std::shared_ptr<IMoniker>> devices;
  ASSERT_EQ(platform_->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  std::vector<std::string> listed;
  for (auto& d : devices) {
    std::shared_ptr<IPropertyBag> bag;
    std::string friendly;
    ASSERT_EQ(d->BindToPropertyBag(bag), status::kOk);
    EXPECT_EQ(bag->Read("FriendlyName", friendly), status::kOk);
    if (friendly != "USB Camera") continue;  // the numbered test cameras, real ones
    listed.push_back(d->GetDisplayName());
    std::shared_ptr<IBaseFilter> f;
    EXPECT_EQ(d->BindToFilter(f), status::kOk);
  }
  gst::RemoveTestDevicesForTesting();
  EXPECT_EQ(listed, (std::vector<std::string>{"@device:gst:bus:usb-0000:00:14.0-1:USB Camera",
                                              "@device:gst:bus:usb-0000:00:14.0-2:USB Camera"}));
  ASSERT_EQ(platform_->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  for (auto& d : devices) EXPECT_EQ(d->GetDisplayName().find(":bus:usb-0000:00:14.0-"), std::string::npos);
}

// Sources name the system error in their debug text while the code may only say that opening
// failed (v4l2src: OPEN_READ_WRITE for any failed open, SETTINGS or BUSY for a refused format).
TEST(GstErrorStatusTest, ACamerasBusyOrRefusedNodeIsToldApartFromOtherFailures) {
  const struct {
    GstResourceError code;
    const char* debug;
    bool fromCapture;
    Status expected;
  } cases[] = {
      {GST_RESOURCE_ERROR_BUSY, nullptr, true, status::kDeviceInUse},
      {GST_RESOURCE_ERROR_OPEN_READ_WRITE, "system error: Device or resource busy", true, status::kDeviceInUse},
      {GST_RESOURCE_ERROR_SETTINGS, "Call to S_FMT failed for YUYV @ 640x480: Device or resource busy", true,
       status::kDeviceInUse},
      {GST_RESOURCE_ERROR_OPEN_READ_WRITE, "system error: Permission denied", true, status::kDeviceAccessDenied},
      {GST_RESOURCE_ERROR_OPEN_READ, "system error: Operation not permitted", true, status::kDeviceAccessDenied},
      {GST_RESOURCE_ERROR_NOT_AUTHORIZED, nullptr, true, status::kDeviceAccessDenied},
      // The capture file and unknown causes keep their own codes.
      {GST_RESOURCE_ERROR_OPEN_WRITE, "system error: Permission denied", false, status::kAccessDenied},
      {GST_RESOURCE_ERROR_NO_SPACE_LEFT, nullptr, false, status::kDiskFull},
      {GST_RESOURCE_ERROR_OPEN_READ_WRITE, "system error: No such device", true, status::kDeviceInUse},
      {GST_RESOURCE_ERROR_SETTINGS, nullptr, true, status::kFail},
  };
  for (const auto& c : cases) {
    const GError error{GST_RESOURCE_ERROR, c.code, const_cast<gchar*>("")};
    EXPECT_EQ(gst::StatusOfError(error, c.debug, c.fromCapture), c.expected) << c.code << " " << (c.debug ? c.debug : "");
  }
}

// A stream that stopped because nothing took its format says so only in its debug text.
TEST(GstErrorStatusTest, AFormatNothingTakesIsAMediaTypeFailure) {
  const struct {
    GQuark domain;
    int code;
    const char* debug;
    Status expected;
  } cases[] = {
      {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "streaming stopped, reason not-negotiated (-4)",
       status::kInvalidMediaType},
      {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "streaming stopped, reason error (-5)", status::kFail},
      {GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND, nullptr, status::kInvalidMediaType},
      {GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN, nullptr, status::kInvalidMediaType},
  };
  for (const auto& c : cases) {
    const GError error{c.domain, c.code, const_cast<gchar*>("")};
    EXPECT_EQ(gst::StatusOfError(error, c.debug, true), c.expected) << c.code;
  }
}

TEST_F(GstBackendTest, AMonitorWithNoProviderIsNoEnumeratorRatherThanNoDevices) {
  auto none = CreateGstPlatformForTesting("Lumora/NoSuchDeviceClass");
  EXPECT_TRUE(Failed(none->CreateSystemDeviceEnum()));
  EXPECT_TRUE(Failed(none->CreateSystemDeviceEnum()));  // asked again, still none
  EXPECT_EQ(platform_->CreateSystemDeviceEnum(), status::kOk);
}

}  // namespace
}  // namespace media
