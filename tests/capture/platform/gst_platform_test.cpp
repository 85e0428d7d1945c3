// The GStreamer backend end to end with synthetic live cameras: enumeration, a preview and a
// capture graph built, run, stopped and dismantled, snapshots, the preview widget, the AVI
// written, and an error in the graph reaching the event loop as an error-abort event.
#include "capture/platform/gst/gst_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "capture/platform/capture_file.h"
#include "capture/platform/gst/gst_capture_filter.h"
#include "gstqt/video_widget.h"
#include "capture/platform/qt_owner.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "tests/capture/platform/gst_leak_check.h"
#include "tests/capture/platform/live_test_support.h"

namespace media {
namespace {

using livetest::WaitFor;
using livetest::Shell;

namespace fs = std::filesystem;

class GstPlatformTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    livetest::StartSuite("5", "gst_platform_test");
    platform_ = CreateGstPlatform().release();  // lives for the suite, as in the program
  }
  static void TearDownTestSuite() {
    delete platform_;
    platform_ = nullptr;
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lumora-gst-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::shared_ptr<IMoniker> Camera(int n) {
    std::shared_ptr<IMoniker> m;
    EXPECT_EQ(platform_->ParseDisplayName("@device:gst:test:" + std::to_string(n), m), status::kOk);
    return m;
  }

  // What the capture code holds for one device.
  struct Rig {
    std::shared_ptr<ICaptureGraphBuilder2> builder;
    std::shared_ptr<IFilterGraph> graph;
    std::shared_ptr<IBaseFilter> capture;
    std::shared_ptr<IMediaControl> control;
  };
  Rig MakeRig(int camera) {
    Rig r;
    EXPECT_EQ(platform_->CreateCaptureGraphBuilder2(r.builder), status::kOk);
    EXPECT_EQ(Camera(camera)->BindToFilter(r.capture), status::kOk);
    EXPECT_EQ(platform_->CreateFilterGraph(r.graph), status::kOk);
    EXPECT_EQ(r.builder->SetFiltergraph(r.graph), status::kOk);
    EXPECT_TRUE(Succeeded(r.graph->AddFilter(r.capture, "")));
    EXPECT_EQ(r.graph->QueryMediaControl(r.control), status::kOk);
    return r;
  }
  // The capture pin rendered into an AVI file, through `compressor` when there is one.
  void RenderToFile(Rig& rig, const std::string& file, const std::shared_ptr<IBaseFilter>& compressor = nullptr) {
    std::shared_ptr<IBaseFilter> mux;
    std::shared_ptr<IFileSinkFilter> sink;
    ASSERT_EQ(rig.builder->SetOutputFileName(guid::kSubtypeAvi, file, mux, sink), status::kOk);
    ASSERT_EQ(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture,
                                        compressor, mux),
              status::kOk);
  }
  // Removes everything downstream of `filter`, as dismantling a graph does.
  static void Detach(IFilterGraph& graph, const std::shared_ptr<IBaseFilter>& filter) {
    for (auto& pin : filter->EnumPins()) {
      std::shared_ptr<IPin> to;
      if (Failed(pin->ConnectedTo(to))) continue;
      PinInfo info;
      if (Failed(to->QueryPinInfo(info))) break;
      if (info.direction != PinDirection::Input) continue;
      Detach(graph, info.filter);
      graph.Disconnect(to);
      graph.Disconnect(pin);
      graph.RemoveFilter(info.filter);
    }
  }

  static inline IMediaPlatform* platform_ = nullptr;
  fs::path dir_;
};

TEST_F(GstPlatformTest, ListsTheSyntheticCamerasWithStableNames) {
  std::vector<std::shared_ptr<IMoniker>> devices;
  ASSERT_EQ(platform_->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  std::vector<std::string> names;
  for (auto& d : devices) {
    const std::string n = d->GetDisplayName();
    if (n.rfind("@device:gst:test:", 0) != 0) continue;  // a real camera may be present too
    std::shared_ptr<IPropertyBag> bag;
    ASSERT_EQ(d->BindToPropertyBag(bag), status::kOk);
    std::string friendly, clsid;
    EXPECT_EQ(bag->Read("FriendlyName", friendly), status::kOk);
    EXPECT_EQ(bag->Read("CLSID", clsid), status::kOk);
    EXPECT_TRUE(Guid::Parse(clsid).has_value()) << clsid;
    names.push_back(n + " = " + friendly);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"@device:gst:test:0 = Lumora Test Camera 1",
                                             "@device:gst:test:1 = Lumora Test Camera 2",
                                             "@device:gst:test:2 = Lumora Test Camera 3",
                                             "@device:gst:test:3 = Lumora Test Camera 4",
                                             "@device:gst:test:4 = Lumora Test Camera 5"}));
  EXPECT_EQ(Camera(0)->IsEqual(*devices.front()), status::kOk);
  EXPECT_EQ(Camera(1)->IsEqual(*Camera(0)), status::kFalse);

  std::shared_ptr<IBaseFilter> none;
  EXPECT_TRUE(Failed(Camera(7)->BindToFilter(none)));  // a remembered device that is gone
  std::shared_ptr<IMoniker> bad;
  EXPECT_TRUE(Failed(platform_->ParseDisplayName("/dev/video0", bad)));
}

TEST_F(GstPlatformTest, CompressorsAreEncodersTheAviMuxerTakes) {
  std::vector<std::shared_ptr<IMoniker>> codecs;
  ASSERT_EQ(platform_->CreateClassEnumerator(guid::kVideoCompressorCategory, codecs), status::kOk);
  bool jpeg = false;
  for (auto& c : codecs) {
    std::shared_ptr<IPropertyBag> bag;
    std::string name;
    ASSERT_EQ(c->BindToPropertyBag(bag), status::kOk);
    EXPECT_EQ(bag->Read("FriendlyName", name), status::kOk);
    if (c->GetDisplayName() == "@device:gst:encoder:jpegenc") jpeg = true;
    EXPECT_NE(c->GetDisplayName(), "@device:gst:encoder:x264enc");  // H.264 does not go in AVI here
  }
  EXPECT_TRUE(jpeg);
}

TEST_F(GstPlatformTest, StreamConfigurationListsTheDeviceFormats) {
  Rig rig = MakeRig(0);
  std::shared_ptr<IAMStreamConfig> config;
  EXPECT_TRUE(Failed(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeInterleaved,
                                                rig.capture, config)));
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, config),
            status::kOk);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(count, size), status::kOk);
  EXPECT_EQ(count, 5);  // YUY2 640x480 at 30 and 15 fps is one capability with a rate range
  MediaType type;
  VideoStreamConfigCaps caps;
  ASSERT_EQ(config->GetStreamCaps(1, type, caps), status::kOk);
  EXPECT_EQ(type.subtype, guid::kSubtypeYUY2);
  EXPECT_EQ(type.videoInfo->bmiHeader.biCompression, MakeFourcc('Y', 'U', 'Y', '2'));
  EXPECT_EQ(caps.minFrameInterval, 333333);
  EXPECT_EQ(caps.maxFrameInterval, 666666);
  ASSERT_EQ(config->GetStreamCaps(3, type, caps), status::kOk);
  EXPECT_EQ(type.subtype, guid::kSubtypeRGB24);
  EXPECT_EQ(type.videoInfo->bmiHeader.biCompression, 0u);
  EXPECT_EQ(type.videoInfo->bmiHeader.biBitCount, 24);
  ASSERT_EQ(config->GetFormat(type), status::kOk);
  EXPECT_EQ(type.videoInfo->bmiHeader.biWidth, 320);
}

TEST_F(GstPlatformTest, PreviewGraphRunsSnapshotsAndPaintsTheWidget) {
  Rig rig = MakeRig(0);  // SMPTE bars
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(platform_->CreateSampleGrabber(grabber), status::kOk);
  ASSERT_TRUE(Succeeded(rig.graph->AddFilter(grabber->Filter(), "Grabber")));
  ASSERT_EQ(rig.graph->Connect(FirstPin(*rig.capture, PinDirection::Output),
                               FirstPin(*grabber->Filter(), PinDirection::Input)),
            status::kOk);
  ASSERT_EQ(rig.graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output)), status::kOk);
  grabber->SetBufferSamples(true);

  QWidget owner;
  owner.resize(400, 300);
  std::shared_ptr<IVideoWindow> window;
  ASSERT_EQ(rig.graph->QueryVideoWindow(window), status::kOk);
  window->put_Owner(OwnerFromWidget(&owner));
  window->put_WindowStyle(style::kChild | style::kClipSiblings);
  window->SetWindowPosition(0, 20, 320, 240);
  window->put_Visible(true);
  owner.show();

  ASSERT_TRUE(Succeeded(rig.control->Run()));
  int32_t size = 0;
  ASSERT_TRUE(WaitFor([&] { return grabber->GetCurrentBufferSize(size) == status::kOk; }));
  EXPECT_EQ(size, 320 * 240 * 3);
  std::vector<uint8_t> dib(static_cast<size_t>(size));
  ASSERT_EQ(grabber->GetCurrentBuffer(size, dib.data()), status::kOk);
  MediaType type;
  ASSERT_EQ(grabber->GetConnectedMediaType(type), status::kOk);
  EXPECT_EQ(type.videoInfo->bmiHeader.biBitCount, 24);
  EXPECT_EQ(type.videoInfo->bmiHeader.biHeight, 240);  // bottom-up
  // SMPTE bars: white at the top left, blue at the top right. The top image row is the
  // last DIB row. Bytes are blue, green, red.
  const uint8_t* top = dib.data() + size_t(239) * 960;
  auto near = [](int a, int b) { return std::abs(a - b) <= 16; };
  EXPECT_TRUE(near(top[6], 253) && near(top[7], 253) && near(top[8], 253));
  const uint8_t* right = top + 317 * 3;
  EXPECT_TRUE(near(right[0], 253) && near(right[1], 0) && near(right[2], 0));

  // The widget sits where it was put and shows the picture.
  QWidget* video = nullptr;
  for (auto* child : owner.findChildren<QWidget*>()) video = child;
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->geometry(), QRect(0, 20, 320, 240));
  QImage shot;
  ASSERT_TRUE(WaitFor([&] {
    shot = video->grab().toImage();
    return QColor(shot.pixel(3, 3)).red() > 200;
  }));
  EXPECT_LT(QColor(shot.pixel(316, 3)).red(), 60);
  EXPECT_GT(QColor(shot.pixel(316, 3)).blue(), 200);
  // A window smaller or larger than the video shows all of it, scaled.
  for (const QSize size : {QSize(160, 120), QSize(480, 360)}) {
    window->SetWindowPosition(0, 20, size.width(), size.height());
    const int right = size.width() - 3;
    ASSERT_TRUE(WaitFor([&] {
      shot = video->grab().toImage();
      return shot.size() == size && QColor(shot.pixel(3, 3)).red() > 200 &&
             QColor(shot.pixel(right, 3)).blue() > 200 && QColor(shot.pixel(right, 3)).red() < 60;
    })) << size.width();
  }

  // A running graph is not taken apart under its streaming threads.
  EXPECT_EQ(rig.graph->RemoveFilter(grabber->Filter()), status::kWrongState);
  EXPECT_EQ(rig.graph->Disconnect(FirstPin(*rig.capture, PinDirection::Output)), status::kWrongState);
  ASSERT_EQ(rig.control->Stop(), status::kOk);
  window->put_Owner(OwnerWindow{});
  window->put_Visible(false);
  Detach(*rig.graph, rig.capture);
  const auto left = rig.graph->EnumFilters();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0], rig.capture);
  EXPECT_EQ(rig.graph->QueryVideoWindow(window), status::kNoInterface);
}

TEST_F(GstPlatformTest, CaptureGraphWritesAnAviFfprobeReads) {
  Rig rig = MakeRig(1);
  const std::string file = (dir_ / "capture.avi").string();
  ASSERT_EQ(AllocateCaptureFile(file, 8 << 20), status::kOk);  // reserved space stays
  std::shared_ptr<IBaseFilter> mux;
  std::shared_ptr<IFileSinkFilter> sink;
  ASSERT_EQ(rig.builder->SetOutputFileName(guid::kSubtypeAvi, file, mux, sink), status::kOk);
  std::shared_ptr<IConfigAviMux> config;
  ASSERT_EQ(rig.builder->FindInterface(nullptr, nullptr, mux, config), status::kOk);
  EXPECT_EQ(config->SetOutputCompatibilityIndex(true), status::kOk);
  EXPECT_TRUE(Failed(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeInterleaved,
                                               rig.capture, nullptr, mux)));
  ASSERT_EQ(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture,
                                      nullptr, mux),
            status::kOk);
  // A camera without a preview pin previews a copy of the capture stream.
  EXPECT_EQ(rig.builder->RenderStream(&guid::kPinCategoryPreview, &guid::kMediaTypeVideo, rig.capture,
                                      nullptr, nullptr),
            status::kPreviewFromCapture);

  // Held back while the "ready" question is open, then started.
  const int64_t never = kMaxTime;
  ASSERT_EQ(rig.builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, &never, nullptr, 0, 0),
            status::kOk);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  std::shared_ptr<IAMDroppedFrames> counter;
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, counter),
            status::kOk);
  // Frames flow (the preview shows them) but none reaches the file.
  QWidget owner;
  std::shared_ptr<IVideoWindow> window;
  ASSERT_EQ(rig.graph->QueryVideoWindow(window), status::kOk);
  owner.resize(320, 240);
  window->put_Owner(OwnerFromWidget(&owner));
  window->SetWindowPosition(0, 0, 320, 240);
  window->put_Visible(true);
  owner.show();
  gstpreview::PreviewWidget* preview = nullptr;
  for (auto* child : owner.findChildren<QWidget*>())
    if (auto* w = dynamic_cast<gstpreview::PreviewWidget*>(child)) preview = w;
  ASSERT_NE(preview, nullptr);
  ASSERT_TRUE(WaitFor([&] {
    preview->grab();  // paints the newest frame, when there is one
    return preview->FramesPainted() >= 5;
  }));
  long delivered = -1;
  counter->GetNumNotDropped(delivered);
  EXPECT_EQ(delivered, 0);
  ASSERT_EQ(rig.builder->ControlStream(&guid::kPinCategoryCapture, nullptr, nullptr, nullptr, &never, 0, 0),
            status::kOk);
  ASSERT_TRUE(WaitFor([&] { return Succeeded(counter->GetNumNotDropped(delivered)) && delivered >= 15; }));
  ASSERT_EQ(rig.control->Stop(), status::kOk);

  long dropped = -1, average = 0;
  counter->GetNumNotDropped(delivered);
  counter->GetNumDropped(dropped);
  counter->GetAverageFrameSize(average);
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(average, 320 * 240 * 2);  // YUY2, uncompressed
  EXPECT_EQ(fs::file_size(file), uint64_t(8) << 20);
  // ffprobe counts the frames from the index the muxer wrote.
  const std::string frames = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                 "stream=nb_read_frames,width,height -of csv=p=0 '" + file + "'");
  if (frames.empty()) GTEST_SKIP() << "ffprobe unavailable";
  EXPECT_EQ(frames, "320,240," + std::to_string(delivered));
  const auto real = AviRealLengthOfFile(file);
  ASSERT_TRUE(real.has_value());
  EXPECT_LT(*real, uint64_t(8) << 20);

  Detach(*rig.graph, rig.capture);
  EXPECT_EQ(rig.graph->EnumFilters().size(), 1u);

  // The same graph and capture filter then carry a preview again.
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(platform_->CreateSampleGrabber(grabber), status::kOk);
  ASSERT_TRUE(Succeeded(rig.graph->AddFilter(grabber->Filter(), "Grabber")));
  ASSERT_EQ(rig.graph->Connect(FirstPin(*rig.capture, PinDirection::Output),
                               FirstPin(*grabber->Filter(), PinDirection::Input)),
            status::kOk);
  ASSERT_EQ(rig.graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output)), status::kOk);
  grabber->SetBufferSamples(true);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  int32_t size = 0;
  EXPECT_TRUE(WaitFor([&] { return grabber->GetCurrentBufferSize(size) == status::kOk; }));
  EXPECT_EQ(rig.control->Stop(), status::kOk);
}

// The chosen compressor and a frame rate the camera does not list: the file holds MJPEG at
// the wanted rate (rate and codec as ffprobe reads them).
TEST_F(GstPlatformTest, CompressedCaptureAtAnUnlistedFrameRate) {
  Rig rig = MakeRig(0);
  std::shared_ptr<IAMStreamConfig> config;
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, config),
            status::kOk);
  MediaType format;
  ASSERT_EQ(config->GetFormat(format), status::kOk);
  format.videoInfo->AvgTimePerFrame = 1000000;  // 10 fps; the camera lists 30 only at this size
  ASSERT_EQ(config->SetFormat(format), status::kOk);
  ASSERT_EQ(config->GetFormat(format), status::kOk);
  EXPECT_EQ(format.videoInfo->AvgTimePerFrame, 1000000);

  std::shared_ptr<IMoniker> jpeg;
  ASSERT_EQ(platform_->ParseDisplayName("@device:gst:encoder:jpegenc", jpeg), status::kOk);
  std::shared_ptr<IBaseFilter> compressor;
  ASSERT_EQ(jpeg->BindToFilter(compressor), status::kOk);
  ASSERT_EQ(rig.graph->AddFilter(compressor, "Selected Video Compressor"), status::kOk);
  const std::string file = (dir_ / "mjpeg.avi").string();
  RenderToFile(rig, file, compressor);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  std::shared_ptr<IAMDroppedFrames> counter;
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, counter),
            status::kOk);
  long delivered = 0;
  ASSERT_TRUE(WaitFor([&] { return Succeeded(counter->GetNumNotDropped(delivered)) && delivered >= 8; }));
  ASSERT_EQ(rig.control->Stop(), status::kOk);
  long dropped = -1;
  counter->GetNumDropped(dropped);
  counter->GetNumNotDropped(delivered);
  EXPECT_EQ(dropped, 0);  // frames the rate conversion leaves out are not losses

  const std::string info = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                 "stream=codec_name,r_frame_rate,nb_read_frames -of csv=p=0 '" + file + "'");
  if (info.empty()) GTEST_SKIP() << "ffprobe unavailable";
  EXPECT_EQ(info, "mjpeg,10/1," + std::to_string(delivered));
}

// A camera that sends MJPG (most USB cameras): the preview and snapshots decode it, the
// capture file keeps it as it came.
TEST_F(GstPlatformTest, MjpgCameraPreviewsSnapshotsAndCapturesWithoutReencoding) {
  Rig rig = MakeRig(2);
  std::shared_ptr<IAMStreamConfig> config;
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, config),
            status::kOk);
  MediaType format;
  ASSERT_EQ(config->GetFormat(format), status::kOk);
  EXPECT_EQ(format.videoInfo->bmiHeader.biCompression, MakeFourcc('M', 'J', 'P', 'G'));

  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(platform_->CreateSampleGrabber(grabber), status::kOk);
  ASSERT_TRUE(Succeeded(rig.graph->AddFilter(grabber->Filter(), "Grabber")));
  ASSERT_EQ(rig.graph->Connect(FirstPin(*rig.capture, PinDirection::Output),
                               FirstPin(*grabber->Filter(), PinDirection::Input)),
            status::kOk);
  ASSERT_EQ(rig.graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output)), status::kOk);
  grabber->SetBufferSamples(true);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  int32_t size = 0;
  ASSERT_TRUE(WaitFor([&] { return grabber->GetCurrentBufferSize(size) == status::kOk; }));
  EXPECT_EQ(size, 320 * 240 * 3);
  std::vector<uint8_t> dib(static_cast<size_t>(size));
  ASSERT_EQ(grabber->GetCurrentBuffer(size, dib.data()), status::kOk);
  // Pattern 4 is plain red; JPEG keeps it close. Bytes are blue, green, red.
  const uint8_t* mid = dib.data() + size_t(120) * 960 + 160 * 3;
  EXPECT_LT(mid[0], 40);
  EXPECT_LT(mid[1], 40);
  EXPECT_GT(mid[2], 200);
  ASSERT_EQ(rig.control->Stop(), status::kOk);
  Detach(*rig.graph, rig.capture);

  const std::string file = (dir_ / "camera-mjpg.avi").string();
  RenderToFile(rig, file);
  EXPECT_EQ(rig.builder->RenderStream(&guid::kPinCategoryPreview, &guid::kMediaTypeVideo, rig.capture,
                                      nullptr, nullptr),
            status::kPreviewFromCapture);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  std::shared_ptr<IAMDroppedFrames> counter;
  ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, counter),
            status::kOk);
  long delivered = 0;
  ASSERT_TRUE(WaitFor([&] { return Succeeded(counter->GetNumNotDropped(delivered)) && delivered >= 10; }));
  ASSERT_EQ(rig.control->Stop(), status::kOk);
  counter->GetNumNotDropped(delivered);
  const std::string info = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                 "stream=codec_name,nb_read_frames -of csv=p=0 '" + file + "'");
  if (info.empty()) GTEST_SKIP() << "ffprobe unavailable";
  EXPECT_EQ(info, "mjpeg," + std::to_string(delivered));
}

// Whatever mode a camera runs in, its capture plays as long as it ran: a listed rate reaches
// the camera as the camera's own fraction, any other is converted, and the file's header
// states the rate of the frames written. MJPG goes into the file as the camera sent it.
TEST_F(GstPlatformTest, CapturesPlayAsLongAsTheyRanAndKeepTheCamerasMjpg) {
  const struct {
    int camera;
    int64_t interval;  // 0: the camera's own rate
    const char* codec;
    int rateNum, rateDen;
    bool compress = false;  // through the JPEG compressor, which decodes the camera's MJPG first
  } cases[] = {
      {3, 333333, "rawvideo", 30, 1},             // the camera's only mode
      {0, 667111, "rawvideo", 10000000, 667111},  // 14.99 f/s, made from 30/1
      {2, 0, "mjpeg", 30, 1},
      {2, 666666, "mjpeg", 15, 1},
      {2, 0, "mjpeg", 30, 1, true},
  };
  for (const auto& c : cases) {
    const std::string expected = std::string(c.codec) + "," + std::to_string(c.rateNum) + "/" + std::to_string(c.rateDen);
    SCOPED_TRACE(expected);
    Rig rig = MakeRig(c.camera);
    std::shared_ptr<IAMStreamConfig> config;
    ASSERT_EQ(rig.builder->FindInterface(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture, config),
              status::kOk);
    MediaType format;
    ASSERT_EQ(config->GetFormat(format), status::kOk);
    format.videoInfo->AvgTimePerFrame = c.interval;
    ASSERT_EQ(config->SetFormat(format), status::kOk);
    std::shared_ptr<IBaseFilter> compressor;
    if (c.compress) {
      std::shared_ptr<IMoniker> jpeg;
      ASSERT_EQ(platform_->ParseDisplayName("@device:gst:encoder:jpegenc", jpeg), status::kOk);
      ASSERT_EQ(jpeg->BindToFilter(compressor), status::kOk);
      ASSERT_EQ(rig.graph->AddFilter(compressor, "Selected Video Compressor"), status::kOk);
    }
    const std::string file = (dir_ / ("rate-" + std::to_string(c.camera) + ".avi")).string();
    RenderToFile(rig, file, compressor);
    // The camera's frames, as digests.
    static std::mutex mutex;
    static std::set<std::string> sent;
    sent.clear();
    auto source = std::dynamic_pointer_cast<gst::GCaptureFilter>(rig.capture);
    ASSERT_TRUE(source);
    GstPad* out = gst_element_get_static_pad(source->Source(), "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, [](GstPad*, GstPadProbeInfo* info, gpointer) {
      GstMapInfo map;
      GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
      if (gst_buffer_map(b, &map, GST_MAP_READ)) {
        gchar* md5 = g_compute_checksum_for_data(G_CHECKSUM_MD5, map.data, map.size);
        std::lock_guard lock(mutex);
        sent.insert(md5);
        g_free(md5);
        gst_buffer_unmap(b, &map);
      }
      return GST_PAD_PROBE_OK;
    }, nullptr, nullptr);
    gst_object_unref(out);
    QElapsedTimer ran;
    ran.start();
    ASSERT_TRUE(Succeeded(rig.control->Run()));
    WaitFor([] { return false; }, 2000);
    ASSERT_EQ(rig.control->Stop(), status::kOk);
    const double seconds = double(ran.elapsed()) / 1000.0;

    const std::string info = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=codec_name,r_frame_rate,nb_read_frames -of csv=p=0 '" + file + "'");
    if (info.empty()) GTEST_SKIP() << "ffprobe unavailable";
    const size_t comma = info.rfind(',');
    EXPECT_EQ(info.substr(0, comma), expected);
    const double frames = std::stod(info.substr(comma + 1));
    const double played = frames * c.rateDen / c.rateNum;
    EXPECT_NEAR(played, seconds, 0.25 * seconds) << frames << " frames in " << seconds << " s";
    if (c.interval != 0 || c.compress) continue;
    // Each frame in the file is one the camera sent, byte for byte.
    std::istringstream packets(Shell("ffmpeg -v error -i '" + file + "' -map 0:v -c copy -f framemd5 - | "
                                     "grep -v '^#' | awk -F', *' '{print $6}'"));
    int checked = 0;
    std::lock_guard lock(mutex);
    for (std::string md5; std::getline(packets, md5); ++checked) EXPECT_TRUE(sent.count(md5)) << md5;
    EXPECT_EQ(checked, int(frames));
  }
}

TEST_F(GstPlatformTest, WriteErrorReachesTheEventLoopAsErrorAbort) {
  Rig rig = MakeRig(0);
  std::shared_ptr<IBaseFilter> mux;
  std::shared_ptr<IFileSinkFilter> sink;
  // Every write to /dev/full fails with "no space left".
  ASSERT_EQ(rig.builder->SetOutputFileName(guid::kSubtypeAvi, "/dev/full", mux, sink), status::kOk);
  ASSERT_EQ(rig.builder->RenderStream(&guid::kPinCategoryCapture, &guid::kMediaTypeVideo, rig.capture,
                                      nullptr, mux),
            status::kOk);
  std::shared_ptr<IMediaEventEx> events;
  ASSERT_EQ(rig.graph->QueryMediaEvent(events), status::kOk);
  std::vector<GraphEvent> seen;
  uint32_t message = 0;
  ASSERT_EQ(events->SetNotifyWindow(
                [&](uint32_t m, intptr_t) {
                  message = m;
                  GraphEvent e;
                  while (events->GetEvent(e, 0) == status::kOk) {
                    seen.push_back(e);
                    events->FreeEventParams(e);
                  }
                },
                kFirstUserMessage + 1, 0),
            status::kOk);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  ASSERT_TRUE(WaitFor([&] { return !seen.empty(); }));
  EXPECT_EQ(message, kFirstUserMessage + 1);
  EXPECT_EQ(seen.front().code, event::kErrorAbort);
  EXPECT_EQ(seen.front().param1, status::kDiskFull);
  EXPECT_EQ(rig.control->Stop(), status::kOk);
  events->SetNotifyWindow(nullptr, 0, 0);
}

TEST_F(GstPlatformTest, UnpluggedCameraIsLostForItsGraphAndTheDeviceList) {
  Rig rig = MakeRig(1);
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(platform_->CreateSampleGrabber(grabber), status::kOk);
  ASSERT_TRUE(Succeeded(rig.graph->AddFilter(grabber->Filter(), "Grabber")));
  ASSERT_EQ(rig.graph->Connect(FirstPin(*rig.capture, PinDirection::Output),
                               FirstPin(*grabber->Filter(), PinDirection::Input)),
            status::kOk);
  ASSERT_EQ(rig.graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output)), status::kOk);
  Rig other = MakeRig(0);  // a graph on another camera hears nothing
  std::vector<GraphEvent> seen, otherSeen;
  auto listen = [](IFilterGraph& graph, std::vector<GraphEvent>& into) {
    std::shared_ptr<IMediaEventEx> events;
    graph.QueryMediaEvent(events);
    std::weak_ptr<IMediaEventEx> weak = events;
    events->SetNotifyWindow(
        [weak, &into](uint32_t, intptr_t) {
          GraphEvent e;
          auto queue = weak.lock();
          while (queue && queue->GetEvent(e, 0) == status::kOk) into.push_back(e);
        },
        kFirstUserMessage + 1, 0);
    return events;
  };
  auto events = listen(*rig.graph, seen);
  auto otherEvents = listen(*other.graph, otherSeen);
  int changes = 0;
  platform_->SetDeviceChangeCallback([&] { ++changes; });
  ASSERT_TRUE(Succeeded(rig.control->Run()));

  ASSERT_TRUE(SetTestCameraPresentForTesting(1, false));
  ASSERT_TRUE(WaitFor([&] { return !seen.empty() && changes > 0; }));
  EXPECT_EQ(seen.front().code, event::kDeviceLost);
  EXPECT_EQ(seen.front().param2, 0);
  EXPECT_EQ(seen.front().filter, rig.capture);
  EXPECT_TRUE(otherSeen.empty());
  std::vector<std::shared_ptr<IMoniker>> devices;
  platform_->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices);
  for (auto& d : devices) EXPECT_NE(d->GetDisplayName(), "@device:gst:test:1");

  EXPECT_EQ(rig.control->Stop(), status::kOk);
  ASSERT_TRUE(SetTestCameraPresentForTesting(1, true));
  ASSERT_TRUE(WaitFor([&] { return changes > 1; }));
  std::shared_ptr<IBaseFilter> back;
  EXPECT_EQ(Camera(1)->BindToFilter(back), status::kOk);
  events->SetNotifyWindow(nullptr, 0, 0);
  otherEvents->SetNotifyWindow(nullptr, 0, 0);
  platform_->SetDeviceChangeCallback(nullptr);
}

// The picture controls page: moving "Brightness" changes the frames, Cancel puts it back.
TEST_F(GstPlatformTest, ColourControlsPageChangesThePicture) {
  Rig rig = MakeRig(0);
  PropertyPageList pages;
  ASSERT_EQ(rig.capture->GetPages(pages), status::kOk);
  ASSERT_EQ(pages.Count(), 1u);
  std::shared_ptr<ISampleGrabber> grabber;
  ASSERT_EQ(platform_->CreateSampleGrabber(grabber), status::kOk);
  ASSERT_TRUE(Succeeded(rig.graph->AddFilter(grabber->Filter(), "Grabber")));
  ASSERT_EQ(rig.graph->Connect(FirstPin(*rig.capture, PinDirection::Output),
                               FirstPin(*grabber->Filter(), PinDirection::Input)),
            status::kOk);
  ASSERT_EQ(rig.graph->Render(FirstPin(*grabber->Filter(), PinDirection::Output)), status::kOk);
  grabber->SetBufferSamples(true);
  ASSERT_TRUE(Succeeded(rig.control->Run()));
  auto mean = [&]() -> double {
    int32_t size = 0;
    if (grabber->GetCurrentBufferSize(size) != status::kOk) return -1;
    std::vector<uint8_t> dib(static_cast<size_t>(size));
    if (grabber->GetCurrentBuffer(size, dib.data()) != status::kOk) return -1;
    double sum = 0;
    for (uint8_t b : dib) sum += b;
    return sum / double(dib.size());
  };
  ASSERT_TRUE(WaitFor([&] { return mean() >= 0; }));
  const double before = mean();

  // Moves the slider once the frame is open, waits until the picture shows it, then closes
  // the frame. Failures are recorded, never returned from: the dialog must always close.
  auto answer = [&](int brightness, bool ok, std::function<bool()> seen) {
    QTimer::singleShot(0, [=] {
      QWidget* dialog = QApplication::activeModalWidget();
      auto* slider = dialog ? dialog->findChild<QSlider*>("BRIGHTNESS") : nullptr;
      if (!slider) {
        ADD_FAILURE() << "no brightness slider in the property frame";
        if (dialog) QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        return;
      }
      slider->setValue(brightness);
      EXPECT_TRUE(WaitFor(seen)) << "the picture did not follow the slider";
      QMetaObject::invokeMethod(dialog, ok ? "accept" : "reject", Qt::QueuedConnection);
    });
  };
  answer(500, true, [&] { return mean() > before + 40; });
  QWidget owner;
  EXPECT_EQ(platform_->ShowPropertyFrame(OwnerFromWidget(&owner), 30, 30, "", *rig.capture, pages),
            status::kOk);
  const double brighter = mean();
  EXPECT_GT(brighter, before + 40);
  answer(-1000, false, [&] { return mean() < brighter - 40; });
  EXPECT_EQ(platform_->ShowPropertyFrame(OwnerFromWidget(&owner), 30, 30, "", *rig.capture, pages),
            status::kFalse);
  ASSERT_TRUE(WaitFor([&] { return std::abs(mean() - brighter) < 4; }));
  EXPECT_EQ(rig.control->Stop(), status::kOk);
}

TEST_F(GstPlatformTest, MonikersOfOneEnumerationShareWhatItRead) {
  std::vector<std::shared_ptr<IMoniker>> devices;
  ASSERT_EQ(platform_->CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices), status::kOk);
  std::shared_ptr<IMoniker> listed;
  for (auto& d : devices)
    if (d->GetDisplayName() == "@device:gst:test:2") listed = d;
  ASSERT_NE(listed, nullptr);
  ASSERT_TRUE(SetTestCameraPresentForTesting(2, false));
  // The enumeration's moniker answers from what the enumeration read, without a new scan;
  // one parsed from its name looks at the devices there are now.
  std::shared_ptr<IPropertyBag> bag;
  EXPECT_EQ(listed->BindToPropertyBag(bag), status::kOk);
  EXPECT_EQ(Camera(2)->BindToPropertyBag(bag), status::kFileNotFound);
  ASSERT_TRUE(SetTestCameraPresentForTesting(2, true));
}

TEST_F(GstPlatformTest, OnePlaceChoosesTheBackend) {
  auto scripted = std::make_shared<ScriptedPlatform>(TwoCameraSettings());
  SetMediaPlatformForTesting(scripted);
  EXPECT_EQ(&MediaPlatform(), scripted.get());
  SetMediaPlatformForTesting(nullptr);
  gstleak::KeepsTheProgramPlatform();
  EXPECT_NE(&MediaPlatform(), scripted.get());
  std::vector<std::shared_ptr<IMoniker>> devices;
  MediaPlatform().CreateClassEnumerator(guid::kVideoInputDeviceCategory, devices);
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(devices.front()->GetDisplayName().rfind("@device:gst:", 0), 0u);
}

}  // namespace
}  // namespace media
