#include "capture/platform/gst/gst_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "capture/platform/capture_file.h"
#include "capture/platform/gst/format_map.h"
#include "capture/platform/gst/gst_handles.h"
#include "capture/platform/gst/gst_pages.h"
#include "capture/platform/gst/gst_preview.h"
#include "capture/platform/qt_owner.h"

// ---------------------------------------------------------------------------------------
// Synthetic cameras: an in-process device provider whose devices make live videotestsrc
// elements. Registered once, before the device monitor starts, when LUMORA_TEST_CAMERAS > 0.

extern "C" {

typedef struct {
  GstDevice parent;
  int index;
} LumoraTestCamera;

typedef struct {
  GstDeviceClass parent_class;
} LumoraTestCameraClass;

typedef struct {
  GstDeviceProvider parent;
} LumoraTestCameraProvider;

typedef struct {
  GstDeviceProviderClass parent_class;
} LumoraTestCameraProviderClass;

GType lumora_test_camera_get_type(void);
GType lumora_test_camera_provider_get_type(void);
}

G_DEFINE_TYPE(LumoraTestCamera, lumora_test_camera, GST_TYPE_DEVICE)
G_DEFINE_TYPE(LumoraTestCameraProvider, lumora_test_camera_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

// Distinct, recognisable pictures per camera: SMPTE bars, snow, red, ball, checkers, ...
constexpr int kPatterns[] = {0, 1, 4, 18, 10, 13, 12, 24, 6, 17};

// videotestsrc ! videobalance: the balance gives the synthetic camera the brightness,
// contrast, hue and saturation controls a real camera driver offers. The third camera
// sends MJPG (! jpegenc), as most USB cameras do at larger sizes.
constexpr int kMjpgTestCamera = 2;

GstElement* TestCameraCreateElement(GstDevice* device, const gchar* name) {
  auto* cam = reinterpret_cast<LumoraTestCamera*>(device);
  GstElement* bin = gst_bin_new(name);
  GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
  GstElement* balance = gst_element_factory_make("videobalance", nullptr);
  GstElement* last = balance;
  GstElement* jpeg = cam->index == kMjpgTestCamera ? gst_element_factory_make("jpegenc", nullptr) : nullptr;
  if (!src || !balance || (cam->index == kMjpgTestCamera && !jpeg)) {
    for (GstElement* e : {src, balance, jpeg})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    gst_object_unref(gst_object_ref_sink(bin));
    return nullptr;
  }
  g_object_set(src, "is-live", TRUE, "pattern", kPatterns[cam->index % 10], nullptr);
  gst_bin_add_many(GST_BIN(bin), src, balance, nullptr);
  gst_element_link(src, balance);
  if (jpeg) {
    gst_bin_add(GST_BIN(bin), jpeg);
    gst_element_link(balance, jpeg);
    last = jpeg;
  }
  GstPad* out = gst_element_get_static_pad(last, "src");
  gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
  gst_object_unref(out);
  return bin;
}

GstCaps* TestCameraCaps(int index) {
  if (index == kMjpgTestCamera)
    return gst_caps_from_string("image/jpeg,width=320,height=240,framerate=30/1;"
                                "image/jpeg,width=640,height=480,framerate=30/1");
  return gst_caps_from_string(
      "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
      "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
      "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1;"
      "video/x-raw,format=BGR,width=320,height=240,framerate=30/1;"
      "video/x-raw,format=BGR,width=640,height=480,framerate=30/1;"
      "video/x-raw,format=I420,width=1280,height=720,framerate=30/1");
}

GstDevice* NewTestCamera(int i) {
  GstCaps* caps = TestCameraCaps(i);
  GstStructure* props =
      gst_structure_new("lumora-test-camera", "lumora.test-camera", G_TYPE_INT, i, nullptr);
  gchar* name = g_strdup_printf("Lumora Test Camera %d", i + 1);
  auto* device = static_cast<LumoraTestCamera*>(g_object_new(
      lumora_test_camera_get_type(), "display-name", name, "device-class", "Video/Source",
      "caps", caps, "properties", props, nullptr));
  device->index = i;
  g_free(name);
  gst_structure_free(props);
  gst_caps_unref(caps);
  return GST_DEVICE(device);
}

GList* TestCameraProbe(GstDeviceProvider*) {
  GList* devices = nullptr;
  for (int i = media::TestCameraCount() - 1; i >= 0; --i)
    devices = g_list_prepend(devices, NewTestCamera(i));
  return devices;
}

}  // namespace

static void lumora_test_camera_class_init(LumoraTestCameraClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = TestCameraCreateElement;
}
static void lumora_test_camera_init(LumoraTestCamera* self) { self->index = 0; }
static void lumora_test_camera_provider_class_init(LumoraTestCameraProviderClass* klass) {
  GstDeviceProviderClass* dpc = GST_DEVICE_PROVIDER_CLASS(klass);
  dpc->probe = TestCameraProbe;
  gst_device_provider_class_set_static_metadata(dpc, "Lumora test cameras", "Video/Source",
                                                "Synthetic live cameras for testing",
                                                "lumora2003");
}
static void lumora_test_camera_provider_init(LumoraTestCameraProvider*) {}

namespace media {

using namespace gsth;

int TestCameraCount() {
  const char* env = std::getenv("LUMORA_TEST_CAMERAS");
  if (!env || !*env) return 0;
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  if (*end != '\0' || n <= 0) return 0;
  return int(std::min<long>(n, 10));
}

namespace {

uint32_t NowMs() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Warn(const char* where, const std::string& what) {
  std::fprintf(stderr, "lumora2003: %s: %s\n", where, what.c_str());
}

// Runs `fn` on the UI thread later (at once when there is no event loop object).
void Post(std::function<void()> fn) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  else
    fn();
}

std::string StructString(const GstStructure* s, const char* field) {
  if (!s) return {};
  if (const gchar* v = gst_structure_get_string(s, field)) return v;
  return {};
}

// Fixed caps structures of a device, expanded over format and frame-rate lists. Size ranges
// (some drivers and converters) are offered at the common sizes they contain.
std::vector<gstmap::CapsEntry> ExpandCaps(const GstCaps* caps) {
  std::vector<gstmap::CapsEntry> out;
  if (!caps) return out;
  static const std::pair<int, int> kSizes[] = {{160, 120}, {320, 240}, {640, 480}, {1280, 720}};
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    const std::string media = gst_structure_get_name(s);
    std::vector<std::string> formats;
    if (const GValue* f = gst_structure_get_value(s, "format")) {
      if (G_VALUE_HOLDS_STRING(f)) formats.push_back(g_value_get_string(f));
      else if (GST_VALUE_HOLDS_LIST(f))
        for (guint k = 0; k < gst_value_list_get_size(f); ++k) {
          const GValue* v = gst_value_list_get_value(f, k);
          if (G_VALUE_HOLDS_STRING(v)) formats.push_back(g_value_get_string(v));
        }
    }
    if (formats.empty()) formats.push_back("");
    std::vector<std::pair<int, int>> sizes;
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    if (w && h && G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
      sizes.push_back({g_value_get_int(w), g_value_get_int(h)});
    } else if (w && h && GST_VALUE_HOLDS_INT_RANGE(w) && GST_VALUE_HOLDS_INT_RANGE(h)) {
      for (auto [sw, sh] : kSizes)
        if (sw >= gst_value_get_int_range_min(w) && sw <= gst_value_get_int_range_max(w) &&
            sh >= gst_value_get_int_range_min(h) && sh <= gst_value_get_int_range_max(h))
          sizes.push_back({sw, sh});
    }
    std::vector<std::pair<int, int>> rates;
    if (const GValue* r = gst_structure_get_value(s, "framerate")) {
      if (GST_VALUE_HOLDS_FRACTION(r)) {
        rates.push_back({gst_value_get_fraction_numerator(r), gst_value_get_fraction_denominator(r)});
      } else if (GST_VALUE_HOLDS_LIST(r)) {
        for (guint k = 0; k < gst_value_list_get_size(r); ++k) {
          const GValue* v = gst_value_list_get_value(r, k);
          if (GST_VALUE_HOLDS_FRACTION(v))
            rates.push_back({gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)});
        }
      } else if (GST_VALUE_HOLDS_FRACTION_RANGE(r)) {
        const GValue* max = gst_value_get_fraction_range_max(r);
        rates.push_back({gst_value_get_fraction_numerator(max), gst_value_get_fraction_denominator(max)});
      }
    }
    if (rates.empty()) rates.push_back({0, 1});
    for (const auto& f : formats)
      for (auto [sw, sh] : sizes)
        for (auto [n, d] : rates) out.push_back(gstmap::CapsEntry{media, f, sw, sh, n, d});
  }
  return out;
}

CapsRef CapsForMediaType(const MediaType& type, bool withRate) {
  if (!type.IsVideoInfo()) return nullptr;
  const auto names = gstmap::CapsForSubtype(type.subtype);
  if (!names) return nullptr;
  const auto& b = type.videoInfo->bmiHeader;
  GstStructure* s = gst_structure_new_empty(names->first.c_str());
  if (!names->second.empty()) gst_structure_set(s, "format", G_TYPE_STRING, names->second.c_str(), nullptr);
  gst_structure_set(s, "width", G_TYPE_INT, int(b.biWidth), "height", G_TYPE_INT,
                    int(b.biHeight < 0 ? -b.biHeight : b.biHeight), nullptr);
  if (withRate && type.videoInfo->AvgTimePerFrame > 0) {
    const auto [n, d] = gstmap::RateForInterval(type.videoInfo->AvgTimePerFrame);
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, n, d, nullptr);
  }
  GstCaps* caps = gst_caps_new_empty();
  gst_caps_append_structure(caps, s);
  return CapsRef(caps);
}

std::string DisplayNameOf(GstDevice* device) {
  gstmap::DeviceIdentity id;
  GstStructure* props = gst_device_get_properties(device);
  if (props) {
    int test = -1;
    if (gst_structure_get_int(props, "lumora.test-camera", &test)) id.testCamera = test;
    id.serial = StructString(props, "device.serial");
    id.vendorId = StructString(props, "device.vendor.id");
    id.productId = StructString(props, "device.product.id");
    id.busInfo = StructString(props, "v4l2.device.bus_info");
    id.card = StructString(props, "v4l2.device.card");
    id.path = StructString(props, "device.path");
    if (id.path.empty()) id.path = StructString(props, "api.v4l2.path");
    gst_structure_free(props);
  }
  CharRef name(gst_device_get_display_name(device));
  if (name) id.name = name.get();
  return gstmap::DeviceDisplayName(id);
}

// ---------------------------------------------------------------------------------------
// Filters and pins.

enum class Kind { Capture, Grabber, Renderer, Mux, FileWriter, Compressor, SmartTee };

class GFilter;
class GGraph;

class GPin : public IPin {
public:
  GPin(std::weak_ptr<GFilter> owner, PinDirection dir, std::string name, Guid category,
       GstPad* ghost)
      : owner_(std::move(owner)), dir_(dir), name_(std::move(name)), category_(category),
        ghost_(Share(ghost)) {}
  PinDirection Direction() const override { return dir_; }
  Status QueryPinInfo(PinInfo& info) override;
  Status ConnectedTo(std::shared_ptr<IPin>& other) override {
    other = peer_.lock();
    return other ? status::kOk : status::kNotConnected;
  }
  Status ConnectionMediaType(MediaType& type) override;
  Guid Category() const override { return category_; }

  std::shared_ptr<GFilter> Owner() const { return owner_.lock(); }
  const std::string& PinName() const { return name_; }
  GstPad* Pad() const { return ghost_.get(); }
  std::shared_ptr<GPin> Peer() const { return peer_.lock(); }
  void SetPeer(const std::shared_ptr<GPin>& p) { peer_ = p; }
  void ClearPeer() { peer_.reset(); }

private:
  std::weak_ptr<GFilter> owner_;
  PinDirection dir_;
  std::string name_;
  Guid category_;
  Ref<GstPad> ghost_;
  std::weak_ptr<GPin> peer_;
};

// Counters of one capture run, shared with the pad probes (streaming threads).
struct CaptureCounters {
  std::atomic<bool> gateOpen{true};
  std::atomic<long> sourceFrames{0};  // frames entering the capture branch while open
  std::atomic<long> offsetGaps{0};
  std::atomic<long> muxFrames{0};
  std::atomic<long long> muxBytes{0};
  std::atomic<bool> running{false};
  std::mutex dropMutex;
  gstmap::DropCounter drops;
  void Reset() {
    sourceFrames = 0;
    offsetGaps = 0;
    muxFrames = 0;
    muxBytes = 0;
    std::lock_guard lock(dropMutex);
    drops = gstmap::DropCounter{};
  }
};

class GFilter : public IBaseFilter, public std::enable_shared_from_this<GFilter> {
public:
  GFilter(Kind kind, std::string defaultName)
      : kind_(kind), defaultName_(std::move(defaultName)), bin_(Sink(gst_bin_new(nullptr))) {}
  ~GFilter() override {
    if (bin_) gst_element_set_state(bin_.get(), GST_STATE_NULL);
  }

  Status GetPages(PropertyPageList& pages) override {
    pages.pages.clear();
    return status::kNoInterface;
  }
  std::vector<std::shared_ptr<IPin>> EnumPins() override { return {pins_.begin(), pins_.end()}; }
  std::string Name() const override { return graph_.expired() ? std::string() : name_; }
  std::shared_ptr<IFilterGraph> Graph() const override;

  Kind FilterKind() const { return kind_; }
  const std::string& DefaultName() const { return defaultName_; }
  GstElement* Bin() const { return bin_.get(); }
  std::shared_ptr<GGraph> OwnGraph() const { return graph_.lock(); }
  void SetGraph(const std::shared_ptr<GGraph>& g, std::string name) {
    graph_ = g;
    name_ = std::move(name);
  }
  void LeaveGraph() {
    graph_.reset();
    name_.clear();
  }
  const std::vector<std::shared_ptr<GPin>>& Pins() const { return pins_; }
  std::shared_ptr<GPin> PinNamed(const std::string& n) const {
    for (auto& p : pins_)
      if (p->PinName() == n) return p;
    return nullptr;
  }
  // Called when the graph goes from stopped to running/paused, and back.
  virtual Status Starting() { return status::kOk; }
  virtual void Stopped() {}
  virtual void Attached(const std::shared_ptr<CaptureCounters>&) {}

protected:
  // Exposes `pad` (an element pad inside the bin) as a pin.
  void AddPin(PinDirection dir, const std::string& name, GstPad* pad, Guid category = {}) {
    GstPad* ghost = gst_ghost_pad_new(name.c_str(), pad);
    gst_element_add_pad(bin_.get(), ghost);  // the bin owns the ghost pad
    pins_.push_back(std::make_shared<GPin>(weak_from_this(), dir, name, category, ghost));
  }
  GstElement* Make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (e) gst_bin_add(GST_BIN(bin_.get()), e);
    else Warn("missing GStreamer element", factory);
    return e;
  }
  static GstPad* StaticPad(GstElement* e, const char* name) {
    // The bin keeps the element and so its always-pads; the extra reference is dropped here.
    GstPad* pad = gst_element_get_static_pad(e, name);
    if (pad) gst_object_unref(pad);
    return pad;
  }

private:
  Kind kind_;
  std::string defaultName_;
  std::string name_;
  Ref<GstElement> bin_;
  std::weak_ptr<GGraph> graph_;
  std::vector<std::shared_ptr<GPin>> pins_;
};

Status GPin::QueryPinInfo(PinInfo& info) {
  info.filter = owner_.lock();
  info.direction = dir_;
  info.name = name_;
  return info.filter ? status::kOk : status::kFail;
}

// The one property page the backend offers: the picture controls of a device.
constexpr Guid kColorBalancePage{0x8A5D5C41, 0x2B7E, 0x4C1F, {0x9A, 0x61, 0x4C, 0x55, 0x4D, 0x4F, 0x52, 0x41}};

// Stream configuration of a device: its caps list as capabilities; the format is the caps
// of the device bin's capsfilter.
class GStreamConfig : public IAMStreamConfig {
public:
  GStreamConfig(GstElement* capsfilter, GstElement* ratefilter, std::vector<gstmap::Capability> caps)
      : capsfilter_(Share(capsfilter)), ratefilter_(Share(ratefilter)), caps_(std::move(caps)) {
    if (!caps_.empty()) Apply(gstmap::MediaTypeFor(caps_.front().entry));
  }
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.clear();
    return status::kNoInterface;
  }
  Status GetFormat(MediaType& type) override {
    if (!current_.IsVideoInfo()) return status::kFail;
    type = current_;
    return status::kOk;
  }
  Status SetFormat(const MediaType& type) override {
    if (!type.IsVideoInfo() || !gstmap::CapsForSubtype(type.subtype)) return status::kInvalidMediaType;
    const auto& b = type.videoInfo->bmiHeader;
    if (b.biWidth <= 0 || b.biHeight == 0) return status::kInvalidMediaType;
    // The element refuses caps changes while it streams; the capture code stops first.
    GstState state = GST_STATE_NULL;
    gst_element_get_state(capsfilter_.get(), &state, nullptr, 0);
    if (state > GST_STATE_READY) return status::kWrongState;
    Apply(type);
    return status::kOk;
  }
  Status GetNumberOfCapabilities(int& count, int& size) override {
    count = int(caps_.size());
    size = kStreamConfigCapsSize;
    return status::kOk;
  }
  Status GetStreamCaps(int index, MediaType& type, VideoStreamConfigCaps& caps) override {
    if (index < 0 || size_t(index) >= caps_.size()) return status::kInvalidArg;
    const auto& c = caps_[size_t(index)];
    type = gstmap::MediaTypeFor(c.entry);
    caps = VideoStreamConfigCaps{};
    caps.guid = guid::kFormatVideoInfo;
    caps.inputWidth = caps.minOutputWidth = caps.maxOutputWidth = c.entry.width;
    caps.inputHeight = caps.minOutputHeight = caps.maxOutputHeight = c.entry.height;
    caps.minFrameInterval = c.minInterval;
    caps.maxFrameInterval = c.maxInterval;
    return status::kOk;
  }
  const MediaType& Current() const { return current_; }

private:
  void Apply(const MediaType& type) {
    MediaType t = type;
    auto& b = t.videoInfo->bmiHeader;
    if (b.biHeight < 0) b.biHeight = -b.biHeight;
    const int64_t want = t.videoInfo->AvgTimePerFrame;
    // The device runs at a rate it lists (the wanted one when it is listed, else its
    // fastest for that format and size); videorate makes any other wanted rate from it.
    const gstmap::Capability* match = nullptr;
    bool native = want <= 0;
    for (const auto& c : caps_) {
      if (gstmap::MediaTypeFor(c.entry).subtype != t.subtype || c.entry.width != b.biWidth ||
          c.entry.height != b.biHeight)
        continue;
      if (!match) match = &c;
      // One off either way: 30 fps is 333333 or 333334 depending on who rounded.
      if (want > 0 && (std::abs(want - c.minInterval) <= 1 || std::abs(want - c.maxInterval) <= 1)) {
        native = true;
        match = &c;
      }
    }
    MediaType device = t;
    if (!native || want <= 0) device.videoInfo->AvgTimePerFrame = match ? match->minInterval : 0;
    CapsRef caps = CapsForMediaType(device, true);
    if (caps) g_object_set(capsfilter_.get(), "caps", caps.get(), nullptr);
    CapsRef rate;
    if (!native && caps) {
      const auto [n, d] = gstmap::RateForInterval(want);
      rate.reset(gst_caps_new_simple(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                                     "framerate", GST_TYPE_FRACTION, n, d, nullptr));
    } else {
      rate.reset(gst_caps_new_any());
    }
    g_object_set(ratefilter_.get(), "caps", rate.get(), nullptr);
    if (want <= 0) t.videoInfo->AvgTimePerFrame = device.videoInfo->AvgTimePerFrame;
    current_ = t;
  }
  Ref<GstElement> capsfilter_;
  Ref<GstElement> ratefilter_;
  std::vector<gstmap::Capability> caps_;
  MediaType current_;
};

class GDroppedFrames : public IAMDroppedFrames {
public:
  explicit GDroppedFrames(std::shared_ptr<CaptureCounters> c) : c_(std::move(c)) {}
  Status GetNumDropped(long& dropped) override {
    long lost = 0;
    // Frames still in the queues while running are not lost; once stopped they are.
    if (!c_->running) lost = std::max(0L, c_->sourceFrames.load() - c_->muxFrames.load());
    dropped = c_->offsetGaps.load() + lost;
    return status::kOk;
  }
  Status GetNumNotDropped(long& delivered) override {
    delivered = c_->muxFrames.load();
    return status::kOk;
  }
  Status GetAverageFrameSize(long& bytes) override {
    const long n = c_->muxFrames.load();
    bytes = n > 0 ? long(c_->muxBytes.load() / n) : 0;
    return status::kOk;
  }

private:
  std::shared_ptr<CaptureCounters> c_;
};

class GCaptureFilter : public GFilter {
public:
  GCaptureFilter(std::string friendlyName, std::string displayName, GstElement* source,
                 std::vector<gstmap::Capability> caps)
      : GFilter(Kind::Capture, std::move(friendlyName)), displayName_(std::move(displayName)),
        caps_(std::move(caps)) {
    source_ = source;
    gst_bin_add(GST_BIN(Bin()), source);
    capsfilter_ = Make("capsfilter");
    GstElement* rate = Make("videorate");
    ratefilter_ = Make("capsfilter");
    gst_element_link_many(source_, capsfilter_, rate, ratefilter_, nullptr);
  }
  void Init() {
    AddPin(PinDirection::Output, "Capture", StaticPad(ratefilter_, "src"), guid::kPinCategoryCapture);
    config_ = std::make_shared<GStreamConfig>(capsfilter_, ratefilter_, caps_);
    // Gaps in the driver's sequence numbers show at the source; the frames the capture
    // branch should receive are counted after the rate conversion.
    auto self = std::static_pointer_cast<GCaptureFilter>(shared_from_this());
    gst_pad_add_probe(StaticPad(source_, "src"), GST_PAD_PROBE_TYPE_BUFFER, &GCaptureFilter::CountGaps,
                      new std::weak_ptr<GCaptureFilter>(self),
                      [](gpointer p) { delete static_cast<std::weak_ptr<GCaptureFilter>*>(p); });
    gst_pad_add_probe(StaticPad(ratefilter_, "src"), GST_PAD_PROBE_TYPE_BUFFER, &GCaptureFilter::CountFrames,
                      new std::weak_ptr<GCaptureFilter>(self),
                      [](gpointer p) { delete static_cast<std::weak_ptr<GCaptureFilter>*>(p); });
  }
  void Attached(const std::shared_ptr<CaptureCounters>& c) override {
    std::lock_guard lock(countersMutex_);
    counters_ = c;
  }
  const std::string& DisplayName() const { return displayName_; }
  std::shared_ptr<GStreamConfig> Config() const { return config_; }
  GstElement* Source() const { return source_; }

  // The device's picture controls: the source itself or an element inside it.
  GstColorBalance* Balance() const {
    if (GST_IS_COLOR_BALANCE(source_)) return GST_COLOR_BALANCE(source_);
    if (GST_IS_BIN(source_)) {
      GstElement* e = gst_bin_get_by_interface(GST_BIN(source_), GST_TYPE_COLOR_BALANCE);
      if (e) {
        gst_object_unref(e);  // the bin keeps it
        return GST_COLOR_BALANCE(e);
      }
    }
    return nullptr;
  }
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.clear();
    GstColorBalance* b = Balance();
    if (!b || !gst_color_balance_list_channels(b)) return status::kNoInterface;
    pages.pages.push_back(kColorBalancePage);
    return status::kOk;
  }

private:
  static std::shared_ptr<CaptureCounters> CountersOf(gpointer data) {
    auto self = static_cast<std::weak_ptr<GCaptureFilter>*>(data)->lock();
    if (!self) return nullptr;
    std::lock_guard lock(self->countersMutex_);
    return self->counters_;
  }
  static GstPadProbeReturn CountGaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto c = CountersOf(data);
    if (!c || !c->gateOpen) return GST_PAD_PROBE_OK;
    const uint64_t offset = GST_BUFFER_OFFSET(GST_PAD_PROBE_INFO_BUFFER(info));
    std::lock_guard lock(c->dropMutex);
    c->drops.Add(offset == GST_BUFFER_OFFSET_NONE ? gstmap::DropCounter::kNoOffset : offset);
    c->offsetGaps = long(c->drops.Dropped());
    return GST_PAD_PROBE_OK;
  }
  static GstPadProbeReturn CountFrames(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto c = CountersOf(data);
    if (c && c->gateOpen) c->sourceFrames++;
    return GST_PAD_PROBE_OK;
  }

  std::string displayName_;
  std::vector<gstmap::Capability> caps_;
  GstElement* source_ = nullptr;
  GstElement* capsfilter_ = nullptr;
  GstElement* ratefilter_ = nullptr;
  std::shared_ptr<GStreamConfig> config_;
  std::mutex countersMutex_;
  std::shared_ptr<CaptureCounters> counters_;
};

// The newest sample, kept for snapshots (converted only when one is asked for).
struct GrabberState {
  std::mutex mutex;
  SampleRef sample;
  std::atomic<bool> buffering{false};
};

class GGrabberFilter : public GFilter {
public:
  GGrabberFilter() : GFilter(Kind::Grabber, "SampleGrabber"), state(std::make_shared<GrabberState>()) {
    queue_ = Make("queue");
    g_object_set(queue_, "max-size-buffers", 2u, "leaky", 2, nullptr);  // never stall the source
    // Compressed camera frames (MJPG) are decoded here, so a snapshot only has to convert
    // raw video; raw video passes decodebin untouched.
    GstElement* decode = Make("decodebin");
    out_ = Make("identity");
    gst_element_link(queue_, decode);
    g_signal_connect(decode, "pad-added", G_CALLBACK(&GGrabberFilter::LinkDecoded), out_);
  }
  void Init() {
    AddPin(PinDirection::Input, "In", StaticPad(queue_, "sink"));
    AddPin(PinDirection::Output, "Out", StaticPad(out_, "src"));
    gst_pad_add_probe(StaticPad(out_, "src"), GST_PAD_PROBE_TYPE_BUFFER, &GGrabberFilter::Keep,
                      new std::shared_ptr<GrabberState>(state),
                      [](gpointer p) { delete static_cast<std::shared_ptr<GrabberState>*>(p); });
  }
  std::shared_ptr<GrabberState> state;

private:
  static GstPadProbeReturn Keep(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& s = *static_cast<std::shared_ptr<GrabberState>*>(data);
    if (!s->buffering) return GST_PAD_PROBE_OK;
    CapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps) return GST_PAD_PROBE_OK;
    GstSample* sample = gst_sample_new(GST_PAD_PROBE_INFO_BUFFER(info), caps.get(), nullptr, nullptr);
    std::lock_guard lock(s->mutex);
    s->sample.reset(sample);
    return GST_PAD_PROBE_OK;
  }
  static void LinkDecoded(GstElement*, GstPad* pad, gpointer next) {
    GstPad* sink = gst_element_get_static_pad(GST_ELEMENT(next), "sink");
    if (!gst_pad_is_linked(sink)) gst_pad_link(pad, sink);
    gst_object_unref(sink);
  }
  GstElement* queue_ = nullptr;
  GstElement* out_ = nullptr;
};

class GSampleGrabber : public ISampleGrabber {
public:
  explicit GSampleGrabber(std::shared_ptr<GGrabberFilter> f) : filter_(std::move(f)) {}
  std::shared_ptr<IBaseFilter> Filter() override { return filter_; }
  Status SetBufferSamples(bool on) override {
    filter_->state->buffering = on;
    return status::kOk;
  }
  Status GetCurrentBufferSize(int32_t& size) override {
    int w = 0, h = 0;
    if (!Latest(nullptr, &w, &h)) return status::kWrongState;
    size = int32_t(DibImageBytes(w, h, 24));
    return size > 0 ? status::kOk : status::kFail;
  }
  Status GetCurrentBuffer(int32_t& size, uint8_t* buffer) override {
    if (!buffer) return status::kPointer;
    SampleRef sample;
    int w = 0, h = 0;
    if (!Latest(&sample, &w, &h)) return status::kWrongState;
    const uint32_t need = DibImageBytes(w, h, 24);
    if (need == 0) return status::kFail;
    if (size < 0 || uint32_t(size) < need) return status::kBufferTooSmall;
    // Convert the one frame asked for to 24-bit BGR; GStreamer's BGR stride is the DIB's.
    CapsRef bgr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                    G_TYPE_INT, w, "height", G_TYPE_INT, h, nullptr));
    GError* error = nullptr;
    SampleRef converted(gst_video_convert_sample(sample.get(), bgr.get(), GST_SECOND, &error));
    ErrorRef err(error);
    if (!converted) {
      Warn("snapshot", err ? err->message : "frame conversion failed");
      return status::kFail;
    }
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(converted.get())) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(converted.get()), GST_MAP_READ))
      return status::kFail;
    const size_t row = need / size_t(h);
    const size_t copy = std::min<size_t>(row, size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)));
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    // Bottom-up rows, as a DIB keeps them.
    for (int y = 0; y < h; ++y) {
      uint8_t* dst = buffer + size_t(h - 1 - y) * row;
      std::memcpy(dst, src + size_t(y) * size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)), copy);
      if (copy < row) std::memset(dst + copy, 0, row - copy);
    }
    gst_video_frame_unmap(&frame);
    size = int32_t(need);
    return status::kOk;
  }
  Status GetConnectedMediaType(MediaType& type) override {
    int w = 0, h = 0, n = 0, d = 1;
    if (!Latest(nullptr, &w, &h, &n, &d)) {
      // Before the first frame: the negotiated caps of the input, when any.
      auto in = filter_->PinNamed("In");
      if (!in || !in->Peer()) return status::kNotConnected;
      CapsRef caps(gst_pad_get_current_caps(in->Pad()));
      GstVideoInfo info;
      if (!caps || !gst_video_info_from_caps(&info, caps.get())) return status::kNotConnected;
      w = GST_VIDEO_INFO_WIDTH(&info);
      h = GST_VIDEO_INFO_HEIGHT(&info);
      n = GST_VIDEO_INFO_FPS_N(&info);
      d = GST_VIDEO_INFO_FPS_D(&info);
    }
    type = MakeVideoMediaType(guid::kSubtypeRGB24, w, h, 24, 0, gstmap::FrameInterval(n, d));
    return status::kOk;
  }

private:
  bool Latest(SampleRef* out, int* w, int* h, int* n = nullptr, int* d = nullptr) {
    std::lock_guard lock(filter_->state->mutex);
    GstSample* s = filter_->state->sample.get();
    if (!s) return false;
    // Raw or compressed (a camera's MJPG): the size and rate are in the caps either way;
    // the conversion for a snapshot decodes when it has to.
    const GstCaps* caps = gst_sample_get_caps(s);
    const GstStructure* st = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!st || !gst_structure_get_int(st, "width", w) || !gst_structure_get_int(st, "height", h) ||
        *w <= 0 || *h <= 0)
      return false;
    int fn = 0, fd = 1;
    if (!gst_structure_get_fraction(st, "framerate", &fn, &fd)) fn = 0, fd = 1;
    if (n) *n = fn;
    if (d) *d = fd;
    if (out) out->reset(gst_sample_ref(s));
    return true;
  }
  std::shared_ptr<GGrabberFilter> filter_;
};

class GRendererFilter : public GFilter {
public:
  GRendererFilter() : GFilter(Kind::Renderer, "Video Renderer"), slot(std::make_shared<gstpreview::FrameSlot>()) {
    GstElement* queue = Make("queue");
    g_object_set(queue, "max-size-buffers", 2u, "leaky", 2, nullptr);
    // decodebin passes raw video through and decodes what cameras send compressed (MJPG).
    GstElement* decode = Make("decodebin");
    GstElement* convert = Make("videoconvert");
    GstElement* caps = Make("capsfilter");
    CapsRef bgrx(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(caps, "caps", bgrx.get(), nullptr);
    GstElement* sink = Make("appsink");
    // wait-on-eos=false: a capture graph's EOS must not wait for the preview to be pulled.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, "wait-on-eos", FALSE,
                 "enable-last-sample", FALSE, nullptr);
    gst_element_link(queue, decode);
    gst_element_link_many(convert, caps, sink, nullptr);
    g_signal_connect(decode, "pad-added", G_CALLBACK(&GRendererFilter::LinkDecoded), convert);
    gstpreview::AttachSink(GST_APP_SINK(sink), slot);
    queue_ = queue;
  }
  ~GRendererFilter() override {
    gst_element_set_state(Bin(), GST_STATE_NULL);
    delete widget_.data();
  }
  void Init() { AddPin(PinDirection::Input, "Input", StaticPad(queue_, "sink")); }
  static void LinkDecoded(GstElement*, GstPad* pad, gpointer convert) {
    GstPad* sink = gst_element_get_static_pad(GST_ELEMENT(convert), "sink");
    if (!gst_pad_is_linked(sink)) gst_pad_link(pad, sink);
    gst_object_unref(sink);
  }
  // The widget exists only in a widget application.
  gstpreview::PreviewWidget* Widget() {
    if (!widget_ && qobject_cast<QApplication*>(QCoreApplication::instance())) {
      widget_ = new gstpreview::PreviewWidget(slot);
      widget_->hide();
    }
    return widget_.data();
  }
  std::shared_ptr<gstpreview::FrameSlot> slot;

private:
  GstElement* queue_ = nullptr;
  QPointer<gstpreview::PreviewWidget> widget_;
};

class GVideoWindow : public IVideoWindow {
public:
  explicit GVideoWindow(std::shared_ptr<GRendererFilter> r) : r_(std::move(r)) {}
  Status put_Owner(OwnerWindow owner) override {
    auto* w = r_->Widget();
    if (!w) return owner ? status::kNoInterface : status::kOk;
    const bool visible = w->isVisible();
    w->setParent(WidgetFromOwner(owner));
    if (!owner) w->hide();
    else if (visible) w->show();
    return status::kOk;
  }
  Status put_WindowStyle(long) override { return status::kOk; }  // always a child widget
  Status SetWindowPosition(int left, int top, int width, int height) override {
    if (auto* w = r_->Widget()) w->setGeometry(left, top, width, height);
    return status::kOk;
  }
  Status put_Visible(bool visible) override {
    auto* w = r_->Widget();
    if (!w) return visible ? status::kNoInterface : status::kOk;
    // A window without owner would float on its own: only owned windows are shown.
    w->setVisible(visible && w->parentWidget());
    return status::kOk;
  }

private:
  std::shared_ptr<GRendererFilter> r_;
};

class GSmartTeeFilter : public GFilter {
public:
  GSmartTeeFilter() : GFilter(Kind::SmartTee, "Smart Tee") {
    tee_ = Make("tee");
    g_object_set(tee_, "allow-not-linked", TRUE, nullptr);
    captureQueue_ = Make("queue");
    previewQueue_ = Make("queue");
    // The preview may lose frames; the capture branch may not.
    g_object_set(previewQueue_, "max-size-buffers", 2u, "leaky", 2, nullptr);
    gst_element_link(tee_, captureQueue_);
    gst_element_link(tee_, previewQueue_);
  }
  void Init() {
    AddPin(PinDirection::Input, "Input", StaticPad(tee_, "sink"));
    AddPin(PinDirection::Output, "Capture", StaticPad(captureQueue_, "src"), guid::kPinCategoryCapture);
    AddPin(PinDirection::Output, "Preview", StaticPad(previewQueue_, "src"), guid::kPinCategoryPreview);
  }

private:
  GstElement* tee_ = nullptr;
  GstElement* captureQueue_ = nullptr;
  GstElement* previewQueue_ = nullptr;
};

class GCompressorFilter : public GFilter {
public:
  GCompressorFilter(std::string friendlyName, const std::string& factory)
      : GFilter(Kind::Compressor, std::move(friendlyName)) {
    convert_ = Make("videoconvert");
    encoder_ = Make(factory.c_str());
    if (encoder_) gst_element_link(convert_, encoder_);
  }
  bool Init() {
    if (!encoder_) return false;
    AddPin(PinDirection::Input, "Input", StaticPad(convert_, "sink"));
    AddPin(PinDirection::Output, "Output", StaticPad(encoder_, "src"));
    return true;
  }

private:
  GstElement* convert_ = nullptr;
  GstElement* encoder_ = nullptr;
};

class GAviMuxConfig : public IConfigAviMux {
public:
  Status SetOutputCompatibilityIndex(bool on) override {
    compatibilityIndex = on;  // avimux always writes the idx1 index
    return status::kOk;
  }
  Status SetMasterStream(long) override { return status::kOk; }  // video only: no master
  bool compatibilityIndex = false;
};

class GMuxFilter : public GFilter {
public:
  GMuxFilter() : GFilter(Kind::Mux, "AVI Mux"), config(std::make_shared<GAviMuxConfig>()) {
    mux_ = Make("avimux");
  }
  bool Init() {
    if (!mux_) return false;
    GstPad* video = gst_element_request_pad_simple(mux_, "video_%u");
    if (!video) return false;
    AddPin(PinDirection::Input, "Input 01", video);
    gst_pad_add_probe(video, GST_PAD_PROBE_TYPE_BUFFER, &GMuxFilter::Gate,
                      new std::weak_ptr<GMuxFilter>(std::static_pointer_cast<GMuxFilter>(shared_from_this())),
                      [](gpointer p) { delete static_cast<std::weak_ptr<GMuxFilter>*>(p); });
    gst_object_unref(video);
    AddPin(PinDirection::Output, "AVI Out", StaticPad(mux_, "src"));
    return true;
  }
  void Attached(const std::shared_ptr<CaptureCounters>& c) override {
    std::lock_guard lock(mutex_);
    counters_ = c;
  }
  GstElement* Mux() const { return mux_; }
  std::shared_ptr<GAviMuxConfig> config;

private:
  // Stream control: while the capture stream is off its buffers stop here (events pass, so
  // the file still gets a complete header and index when it ends).
  static GstPadProbeReturn Gate(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto self = static_cast<std::weak_ptr<GMuxFilter>*>(data)->lock();
    if (!self) return GST_PAD_PROBE_OK;
    std::shared_ptr<CaptureCounters> c;
    {
      std::lock_guard lock(self->mutex_);
      c = self->counters_;
    }
    if (!c) return GST_PAD_PROBE_OK;
    if (!c->gateOpen) return GST_PAD_PROBE_DROP;
    c->muxFrames++;
    c->muxBytes += (long long)gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    return GST_PAD_PROBE_OK;
  }
  GstElement* mux_ = nullptr;
  std::mutex mutex_;
  std::shared_ptr<CaptureCounters> counters_;
};

class GFileSink : public IFileSinkFilter {
public:
  explicit GFileSink(std::string path) : path(std::move(path)) {}
  Status SetFileName(const std::string& p) override {
    if (p.empty()) return status::kInvalidArg;
    path = p;
    return status::kOk;
  }
  Status GetCurFile(std::string& p) override {
    p = path;
    return status::kOk;
  }
  std::string path;
};

class GWriterFilter : public GFilter {
public:
  explicit GWriterFilter(std::string path)
      : GFilter(Kind::FileWriter, "File Writer"), sink(std::make_shared<GFileSink>(std::move(path))) {
    fdsink_ = Make("fdsink");
  }
  ~GWriterFilter() override { CloseFile(); }
  bool Init() {
    if (!fdsink_) return false;
    AddPin(PinDirection::Input, "in", StaticPad(fdsink_, "sink"));
    return true;
  }
  // The capture file is opened without truncation, so a reserved file keeps its space;
  // fdsink seeks back to rewrite the header at the end.
  Status Starting() override {
    if (fd_ >= 0) return status::kOk;
    fd_ = ::open(sink->path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      Warn("cannot open capture file", sink->path + ": " + std::strerror(errno));
      return errno == EACCES || errno == EROFS ? status::kAccessDenied
             : errno == ENOENT                 ? status::kFileNotFound
                                               : status::kFail;
    }
    g_object_set(fdsink_, "fd", fd_, nullptr);
    return status::kOk;
  }
  void Stopped() override { CloseFile(); }
  std::shared_ptr<GFileSink> sink;

private:
  void CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  GstElement* fdsink_ = nullptr;
  int fd_ = -1;
};

// ---------------------------------------------------------------------------------------
// The graph: one pipeline, its bus read on the UI thread, its event queue.

class GPlatform;

class GMediaEvent : public IMediaEventEx {
public:
  explicit GMediaEvent(std::function<void()> drain) : drain_(std::move(drain)) {}
  Status SetNotifyWindow(Notify notify, uint32_t message, intptr_t instance) override {
    notify_ = std::move(notify);
    message_ = message;
    instance_ = instance;
    if (!queue_.empty()) Signal();
    return status::kOk;
  }
  Status GetEvent(GraphEvent& event, long) override {
    if (queue_.empty() && drain_) drain_();
    if (queue_.empty()) return status::kTimeout;
    event = queue_.front();
    queue_.pop_front();
    return status::kOk;
  }
  Status FreeEventParams(GraphEvent& event) override {
    event.filter.reset();
    return status::kOk;
  }
  void Queue(GraphEvent e) { queue_.push_back(std::move(e)); }
  void Signal() {
    if (!notify_ || signalled_) return;
    signalled_ = true;
    std::weak_ptr<int> alive = alive_;
    Post([this, alive] {
      if (!alive.lock()) return;
      signalled_ = false;
      if (notify_ && !queue_.empty()) {
        auto notify = notify_;  // the handler may drop the notification target
        notify(message_, instance_);
      }
    });
  }
  void Detach() { drain_ = nullptr; }

private:
  std::function<void()> drain_;
  std::deque<GraphEvent> queue_;
  Notify notify_;
  uint32_t message_ = 0;
  intptr_t instance_ = 0;
  bool signalled_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

class GGraph : public IFilterGraph, public IMediaControl, public std::enable_shared_from_this<GGraph> {
public:
  GGraph() : counters(std::make_shared<CaptureCounters>()) {
    static std::atomic<unsigned> serial{0};
    char name[64];
    // The name the system gives a playing graph; dumped as DOT with GST_DEBUG_DUMP_DOT_DIR.
    std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x", serial++, unsigned(::getpid()));
    pipeline_ = Sink(gst_pipeline_new(name));
    bus_ = Own(gst_element_get_bus(pipeline_.get()));
  }
  void Init() {
    std::weak_ptr<GGraph> weak = weak_from_this();
    events_ = std::make_shared<GMediaEvent>([weak] {
      if (auto g = weak.lock()) g->Drain(false);
    });
    if (QCoreApplication::instance()) {
      GPollFD fd{};
      gst_bus_get_pollfd(bus_.get(), &fd);
      notifier_ = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
      QObject::connect(notifier_.get(), &QSocketNotifier::activated, [weak] {
        if (auto g = weak.lock()) g->Drain(true);
      });
    }
  }
  ~GGraph() override {
    notifier_.reset();
    if (events_) events_->Detach();
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    for (auto& f : filters_) {
      gst_bin_remove(GST_BIN(pipeline_.get()), f->Bin());
      f->Stopped();
      f->LeaveGraph();
    }
  }

  Status AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) override {
    auto f = std::dynamic_pointer_cast<GFilter>(filter);
    if (!f) return status::kPointer;
    if (auto g = f->OwnGraph()) return g.get() == this ? status::kDuplicateNameError : status::kWrongState;
    std::string want = name.empty() ? f->DefaultName() : name;
    std::string unique = want;
    Status result = status::kOk;
    for (int n = 1; NameTaken(unique); ++n) {
      if (n > 9999) return status::kDuplicateNameError;
      unique = want + " " + std::to_string(n);
      result = status::kDuplicateName;
    }
    if (!gst_bin_add(GST_BIN(pipeline_.get()), f->Bin())) return status::kFail;
    f->SetGraph(shared_from_this(), unique);
    f->Attached(counters);
    filters_.push_back(f);
    return result;
  }
  Status RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
    auto f = std::dynamic_pointer_cast<GFilter>(filter);
    if (!f) return status::kPointer;
    auto it = std::find(filters_.begin(), filters_.end(), f);
    if (it == filters_.end()) return status::kNotFound;
    // Pulling a filter out of a streaming pipeline would break the stream under the
    // streaming threads; the graph must be stopped first.
    if (state_ != GST_STATE_NULL) return status::kWrongState;
    for (auto& p : f->Pins())
      if (auto peer = p->Peer()) {
        Unlink(p, peer);
        peer->ClearPeer();
        p->ClearPeer();
      }
    gst_element_set_state(f->Bin(), GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_.get()), f->Bin());
    f->Stopped();
    f->Attached(nullptr);
    f->LeaveGraph();
    filters_.erase(it);
    return status::kOk;
  }
  Status Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
    auto o = std::dynamic_pointer_cast<GPin>(out);
    auto i = std::dynamic_pointer_cast<GPin>(in);
    if (!o || !i) return status::kPointer;
    return Join(o, i);
  }
  Status Render(const std::shared_ptr<IPin>& out) override {
    auto o = std::dynamic_pointer_cast<GPin>(out);
    if (!o) return status::kPointer;
    return RenderPin(o);
  }
  Status Disconnect(const std::shared_ptr<IPin>& pin) override {
    auto p = std::dynamic_pointer_cast<GPin>(pin);
    if (!p) return status::kPointer;
    if (state_ != GST_STATE_NULL) return status::kWrongState;
    auto peer = p->Peer();
    if (!peer) return status::kFalse;
    Unlink(p, peer);
    p->ClearPeer();
    return status::kOk;
  }
  std::vector<std::shared_ptr<IBaseFilter>> EnumFilters() override { return {filters_.begin(), filters_.end()}; }
  Status QueryMediaControl(std::shared_ptr<IMediaControl>& control) override {
    control = std::shared_ptr<IMediaControl>(shared_from_this(), static_cast<IMediaControl*>(this));
    return status::kOk;
  }
  Status QueryMediaEvent(std::shared_ptr<IMediaEventEx>& events) override {
    events = events_;
    return status::kOk;
  }
  Status QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) override {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it)
      if ((*it)->FilterKind() == Kind::Renderer) {
        window = std::make_shared<GVideoWindow>(std::static_pointer_cast<GRendererFilter>(*it));
        return status::kOk;
      }
    return status::kNoInterface;
  }

  Status Run() override { return Start(GST_STATE_PLAYING); }
  Status Pause() override { return Start(GST_STATE_PAUSED); }
  Status Stop() override {
    if (state_ == GST_STATE_NULL) return status::kOk;
    if (state_ == GST_STATE_PLAYING && HasKind(Kind::Mux)) FinishFile();
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    Drain(true);  // errors seen while stopping still reach the event loop
    state_ = GST_STATE_NULL;
    counters->running = false;
    for (auto& f : filters_) f->Stopped();
    return status::kOk;
  }

  Status Join(const std::shared_ptr<GPin>& o, const std::shared_ptr<GPin>& i) {
    auto of = o->Owner(), inf = i->Owner();
    if (!of || !inf || of->OwnGraph().get() != this || inf->OwnGraph().get() != this) return status::kNotFound;
    if (o->Direction() != PinDirection::Output || i->Direction() != PinDirection::Input)
      return status::kInvalidArg;
    if (o->Peer() || i->Peer()) return status::kAlreadyConnected;
    if (state_ != GST_STATE_NULL) return status::kWrongState;
    if (gst_pad_link(o->Pad(), i->Pad()) != GST_PAD_LINK_OK) return status::kCannotConnect;
    o->SetPeer(i);
    i->SetPeer(o);
    return status::kOk;
  }
  Status RenderPin(const std::shared_ptr<GPin>& o) {
    auto r = std::make_shared<GRendererFilter>();
    r->Init();
    Status s = AddFilter(r, "");
    if (Failed(s)) return s;
    s = Join(o, r->Pins()[0]);
    if (Failed(s)) RemoveFilter(r);
    return s;
  }
  bool HasKind(Kind k) const {
    return std::any_of(filters_.begin(), filters_.end(), [k](auto& f) { return f->FilterKind() == k; });
  }
  const std::vector<std::shared_ptr<GFilter>>& Filters() const { return filters_; }
  std::shared_ptr<GMediaEvent> Events() const { return events_; }
  void QueueEvent(GraphEvent e) {
    if (e.code == event::kDeviceLost && !FirstLoss(e.filter)) return;
    events_->Queue(std::move(e));
    events_->Signal();
  }
  // A vanished camera shows up twice (its stream fails and the monitor reports it gone):
  // the capture code hears about it once per run.
  bool FirstLoss(const std::shared_ptr<IBaseFilter>& f) {
    if (std::find(lostReported_.begin(), lostReported_.end(), f.get()) != lostReported_.end()) return false;
    lostReported_.push_back(f.get());
    return true;
  }

  std::shared_ptr<CaptureCounters> counters;

private:
  static void Unlink(const std::shared_ptr<GPin>& a, const std::shared_ptr<GPin>& b) {
    GstPad* src = a->Direction() == PinDirection::Output ? a->Pad() : b->Pad();
    GstPad* sink = a->Direction() == PinDirection::Output ? b->Pad() : a->Pad();
    if (gst_pad_is_linked(src)) gst_pad_unlink(src, sink);
  }
  bool NameTaken(const std::string& n) const {
    return std::any_of(filters_.begin(), filters_.end(), [&](auto& f) { return f->Name() == n; });
  }
  Status Start(GstState target) {
    if (state_ == GST_STATE_NULL) {
      for (auto& f : filters_)
        if (Status s = f->Starting(); Failed(s)) {
          for (auto& g : filters_) g->Stopped();
          return s;
        }
      counters->Reset();
      errorSeen_ = false;
      lostReported_.clear();
    }
    const GstStateChangeReturn r = gst_element_set_state(pipeline_.get(), target);
    if (r == GST_STATE_CHANGE_FAILURE) {
      const Status why = FailureFromBus();
      gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
      for (auto& f : filters_) f->Stopped();
      state_ = GST_STATE_NULL;
      return why;
    }
    state_ = target;
    counters->running = target == GST_STATE_PLAYING;
    if (const char* dir = std::getenv("GST_DEBUG_DUMP_DOT_DIR"); dir && *dir)
      GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(pipeline_.get()), GST_DEBUG_GRAPH_SHOW_ALL,
                                GST_ELEMENT_NAME(pipeline_.get()));
    return r == GST_STATE_CHANGE_ASYNC ? status::kFalse : status::kOk;
  }
  // Why a state change failed: the error the element posted (kept off the event queue,
  // the caller gets it as the status).
  Status FailureFromBus() {
    Status why = status::kFail;
    while (MessageRef m{gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR)}) why = Translate(m.get(), nullptr);
    return why;
  }
  // End the file properly: EOS through the graph, wait for it, so the muxer writes its
  // index and header counts. An error while waiting goes to the event queue.
  void FinishFile() {
    if (!errorSeen_) {
      gst_element_send_event(pipeline_.get(), gst_event_new_eos());
      if (WaitEos(2 * GST_SECOND)) return;
    }
    // After an error the source may have stopped streaming: push EOS straight into the
    // muxer so it still writes what it can.
    for (auto& f : filters_)
      if (f->FilterKind() == Kind::Mux)
        for (auto& p : f->Pins())
          if (p->Direction() == PinDirection::Input) gst_pad_send_event(p->Pad(), gst_event_new_eos());
    WaitEos(GST_SECOND / 2);
  }
  bool WaitEos(GstClockTime timeout) {
    const GstClockTime until = gst_util_get_timestamp() + timeout;
    for (;;) {
      const GstClockTime now = gst_util_get_timestamp();
      if (now >= until) return false;
      MessageRef m{gst_bus_timed_pop_filtered(bus_.get(), until - now,
                                              GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))};
      if (!m) return false;
      if (GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_EOS) return true;
      Handle(m.get());
    }
  }
  void Drain(bool signal) {
    bool any = false;
    while (MessageRef m{gst_bus_pop(bus_.get())}) any |= Handle(m.get());
    if (any && signal) events_->Signal();
  }
  // Bus message -> graph event. Returns whether one was queued.
  bool Handle(GstMessage* m) {
    switch (GST_MESSAGE_TYPE(m)) {
      case GST_MESSAGE_ERROR: {
        errorSeen_ = true;
        std::shared_ptr<GFilter> lostDevice;
        const Status s = Translate(m, &lostDevice);
        if (lostDevice) {
          if (!FirstLoss(lostDevice)) return false;
          events_->Queue(GraphEvent{event::kDeviceLost, 0, 0, lostDevice});
        } else events_->Queue(GraphEvent{event::kErrorAbort, s, 0, nullptr});
        return true;
      }
      case GST_MESSAGE_EOS:
        events_->Queue(GraphEvent{event::kComplete, 0, 0, nullptr});
        return true;
      default:
        return false;
    }
  }
  Status Translate(GstMessage* m, std::shared_ptr<GFilter>* lostDevice) {
    GError* e = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(m, &e, &debug);
    ErrorRef err(e);
    CharRef dbg(debug);
    GstObject* src = GST_MESSAGE_SRC(m);
    std::shared_ptr<GFilter> from;
    for (auto& f : filters_)
      if (src && (src == GST_OBJECT(f->Bin()) || gst_object_has_as_ancestor(src, GST_OBJECT(f->Bin()))))
        from = f;
    Warn(src ? GST_OBJECT_NAME(src) : "pipeline", err ? err->message : "error");
    if (!err) return status::kFail;
    if (err->domain == GST_RESOURCE_ERROR) {
      // A camera that vanished mid-stream: the framework's "device lost".
      if (lostDevice && from && from->FilterKind() == Kind::Capture &&
          (err->code == GST_RESOURCE_ERROR_NOT_FOUND || err->code == GST_RESOURCE_ERROR_READ)) {
        *lostDevice = from;
        return status::kFail;
      }
      switch (err->code) {
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT: return status::kDiskFull;
        case GST_RESOURCE_ERROR_NOT_FOUND: return status::kFileNotFound;
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED: return status::kAccessDenied;
        case GST_RESOURCE_ERROR_BUSY:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE: return status::kDeviceInUse;
        default: return status::kFail;
      }
    }
    if (err->domain == GST_STREAM_ERROR && err->code == GST_STREAM_ERROR_FORMAT) return status::kInvalidMediaType;
    if (err->domain == GST_CORE_ERROR && err->code == GST_CORE_ERROR_NEGOTIATION) return status::kInvalidMediaType;
    return status::kFail;
  }

  Ref<GstElement> pipeline_;
  Ref<GstBus> bus_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::shared_ptr<GMediaEvent> events_;
  std::vector<std::shared_ptr<GFilter>> filters_;
  GstState state_ = GST_STATE_NULL;
  bool errorSeen_ = false;  // since the last start
  std::vector<const IBaseFilter*> lostReported_;  // identities only, never dereferenced
};

std::shared_ptr<IFilterGraph> GFilter::Graph() const { return graph_.lock(); }

Status GPin::ConnectionMediaType(MediaType& type) {
  if (peer_.expired()) return status::kNotConnected;
  CapsRef caps(gst_pad_get_current_caps(ghost_.get()));
  if (!caps) {
    // Not negotiated yet (stopped graph): the device's chosen format, when it is one.
    auto owner = owner_.lock();
    if (auto cap = std::dynamic_pointer_cast<GCaptureFilter>(owner)) {
      type = cap->Config()->Current();
      return status::kOk;
    }
    return status::kNotConnected;
  }
  auto entries = ExpandCaps(caps.get());
  if (entries.empty()) return status::kNotConnected;
  type = gstmap::MediaTypeFor(entries.front());
  return status::kOk;
}

// ---------------------------------------------------------------------------------------
// Capture graph builder.

class GBuilder : public ICaptureGraphBuilder2 {
public:
  Status SetFiltergraph(const std::shared_ptr<IFilterGraph>& graph) override {
    if (graph_) return status::kUnexpected;
    graph_ = std::dynamic_pointer_cast<GGraph>(graph);
    return graph_ ? status::kOk : status::kPointer;
  }
  Status GetFiltergraph(std::shared_ptr<IFilterGraph>& graph) override {
    graph = graph_;
    return graph_ ? status::kOk : status::kUnexpected;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMStreamConfig>& out) override {
    out.reset();
    auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f);
    if (!cap || !PinOf(cap, c, t) || (c && *c == guid::kPinCategoryPreview)) return status::kNoInterface;
    out = cap->Config();
    return status::kOk;
  }
  // Capture pins here carry no compression information, driver dialogs, crossbars or tuners.
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMVideoCompression>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMDroppedFrames>& out) override {
    out.reset();
    auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f);
    if (!cap || !PinOf(cap, c, t) || (c && *c != guid::kPinCategoryCapture)) return status::kNoInterface;
    auto g = cap->OwnGraph();
    if (!g) return status::kNoInterface;
    out = std::make_shared<GDroppedFrames>(g->counters);
    return status::kOk;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMVfwCaptureDialogs>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMCrossbar>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMTVTuner>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IConfigAviMux>& out) override {
    out.reset();
    auto mux = std::dynamic_pointer_cast<GMuxFilter>(f);
    if (!mux) return status::kNoInterface;
    out = mux->config;
    return status::kOk;
  }

  Status RenderStream(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& source,
                      const std::shared_ptr<IBaseFilter>& intermediate,
                      const std::shared_ptr<IBaseFilter>& sink) override {
    if (!graph_) return status::kUnexpected;
    auto src = std::dynamic_pointer_cast<GFilter>(source);
    if (!src || src->OwnGraph() != graph_) return status::kInvalidArg;
    bool faked = false;
    std::shared_ptr<GPin> pin = PinOf(src, c, t);
    if (!pin && c && *c == guid::kPinCategoryPreview && src->FilterKind() == Kind::Capture) {
      // No preview pin (as with USB cameras): split the capture stream with a tee.
      auto capturePin = PinOf(src, &guid::kPinCategoryCapture, t);
      if (!capturePin) return status::kInvalidArg;
      auto tee = Tee(capturePin);
      if (!tee) return status::kFail;
      pin = tee->PinNamed("Preview");
      faked = true;
    }
    if (!pin) return status::kInvalidArg;
    if (auto peer = pin->Peer(); peer && peer->Owner() && peer->Owner()->FilterKind() == Kind::SmartTee)
      pin = peer->Owner()->PinNamed("Capture");
    if (pin->Peer()) return status::kAlreadyConnected;
    std::shared_ptr<GPin> from = pin;
    if (auto mid = std::dynamic_pointer_cast<GFilter>(intermediate)) {
      if (!mid->OwnGraph())
        if (Status s = graph_->AddFilter(mid, ""); Failed(s)) return s;
      auto in = FreePin(mid, PinDirection::Input);
      if (!in) return status::kCannotConnect;
      if (Status s = graph_->Join(from, in); Failed(s)) return s;
      from = FreePin(mid, PinDirection::Output);
      if (!from) return status::kCannotConnect;
    }
    Status s;
    if (auto to = std::dynamic_pointer_cast<GFilter>(sink)) {
      auto in = FreePin(to, PinDirection::Input);
      s = in ? graph_->Join(from, in) : status::kCannotConnect;
    } else {
      s = graph_->RenderPin(from);
    }
    if (Failed(s)) return s;
    return faked ? status::kPreviewFromCapture : status::kOk;
  }
  Status SetOutputFileName(const Guid& subtype, const std::string& path,
                           std::shared_ptr<IBaseFilter>& mux,
                           std::shared_ptr<IFileSinkFilter>& sink) override {
    if (subtype != guid::kSubtypeAvi || path.empty()) return status::kInvalidArg;
    if (!graph_) return status::kUnexpected;
    auto m = std::make_shared<GMuxFilter>();
    auto w = std::make_shared<GWriterFilter>(path);
    if (!m->Init() || !w->Init()) return status::kFail;
    Status s = graph_->AddFilter(m, "");
    if (Succeeded(s)) s = graph_->AddFilter(w, path);
    if (Succeeded(s)) s = graph_->Join(m->PinNamed("AVI Out"), w->PinNamed("in"));
    if (Failed(s)) {
      graph_->RemoveFilter(w);
      graph_->RemoveFilter(m);
      return s;
    }
    mux = m;
    sink = w->sink;
    return status::kOk;
  }
  Status ControlStream(const Guid* c, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       const int64_t* start, const int64_t*, uint16_t, uint16_t) override {
    if (!graph_) return status::kUnexpected;
    // Only the capture stream into the file can be held back; the preview always flows.
    if ((c && *c != guid::kPinCategoryCapture) || !graph_->HasKind(Kind::Mux)) return status::kNoInterface;
    const bool open = !(start && *start == kMaxTime);
    if (open && !graph_->counters->gateOpen) graph_->counters->Reset();  // counts start now
    graph_->counters->gateOpen = open;
    return status::kOk;
  }
  Status AllocCapFile(const std::string& path, uint64_t bytes) override {
    return AllocateCaptureFile(path, bytes);
  }

private:
  static std::shared_ptr<GPin> PinOf(const std::shared_ptr<GFilter>& f, const Guid* c, const Guid* t) {
    // Every pin here carries plain video: interleaved (DV) streams do not exist.
    if (t && *t != guid::kMediaTypeVideo) return nullptr;
    for (auto& p : f->Pins()) {
      if (p->Direction() != PinDirection::Output) continue;
      if (c && *c != guid::kLookUpstreamOnly && p->Category() != *c) continue;
      return p;
    }
    return nullptr;
  }
  static std::shared_ptr<GPin> FreePin(const std::shared_ptr<GFilter>& f, PinDirection d) {
    for (auto& p : f->Pins())
      if (p->Direction() == d && !p->Peer()) return p;
    return nullptr;
  }
  std::shared_ptr<GFilter> Tee(const std::shared_ptr<GPin>& capturePin) {
    if (auto peer = capturePin->Peer(); peer && peer->Owner() && peer->Owner()->FilterKind() == Kind::SmartTee)
      return peer->Owner();
    auto tee = std::make_shared<GSmartTeeFilter>();
    tee->Init();
    if (Failed(graph_->AddFilter(tee, ""))) return nullptr;
    auto downstream = capturePin->Peer();
    if (downstream) {
      graph_->Disconnect(capturePin);
      graph_->Disconnect(downstream);
    }
    if (Failed(graph_->Join(capturePin, tee->PinNamed("Input")))) return nullptr;
    if (downstream) graph_->Join(tee->PinNamed("Capture"), downstream);
    return tee;
  }
  std::shared_ptr<GGraph> graph_;
};

class GOldBuilder : public ICaptureGraphBuilder {
public:
  Status CopyCaptureFile(const std::string& oldPath, const std::string& newPath, bool allowEscAbort,
                         const std::function<bool()>& escapePressed) override {
    std::function<bool()> abort;
    if (allowEscAbort && escapePressed) abort = escapePressed;
    return media::CopyCaptureFile(oldPath, newPath, abort);
  }
};

// ---------------------------------------------------------------------------------------
// Devices.

class GBag : public IPropertyBag {
public:
  GBag(std::string friendly, std::string clsid) : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
  Status Read(const std::string& name, std::string& value) override {
    if (name == "FriendlyName" && !friendly_.empty()) value = friendly_;
    else if (name == "CLSID" && !clsid_.empty()) value = clsid_;
    else return status::kInvalidArg;
    return status::kOk;
  }

private:
  std::string friendly_, clsid_;
};

// The class identifier the capture code reads from a device's property bag.
constexpr char kCaptureFilterClsid[] = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
constexpr char kEncoderPrefix[] = "@device:gst:encoder:";

class GPlatform;

class GMoniker : public IMoniker {
public:
  GMoniker(GPlatform* platform, std::string displayName) : platform_(platform), name_(std::move(displayName)) {}
  std::string GetDisplayName() const override { return name_; }
  Status IsEqual(const IMoniker& other) const override {
    return other.GetDisplayName() == name_ ? status::kOk : status::kFalse;
  }
  Status BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) override;
  Status BindToFilter(std::shared_ptr<IBaseFilter>& filter) override;

private:
  GPlatform* platform_;
  std::string name_;
};

class GPlatform : public IMediaPlatform {
public:
  GPlatform() {
    gst_init(nullptr, nullptr);
    if (TestCameraCount() > 0) {
      static bool registered = gst_device_provider_register(
          nullptr, "lumoratestcameras", GST_RANK_PRIMARY, lumora_test_camera_provider_get_type());
      (void)registered;
    }
    monitor_ = Own(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
    // Otherwise a PipeWire provider hides the V4L2 devices it also offers.
    gst_device_monitor_set_show_all_devices(monitor_.get(), TRUE);
    started_ = gst_device_monitor_start(monitor_.get());
    if (!QCoreApplication::instance())
      Warn("media platform", "created before the application object: no device change notices");
    if (started_ && QCoreApplication::instance()) {
      monitorBus_ = Own(gst_device_monitor_get_bus(monitor_.get()));
      GPollFD fd{};
      gst_bus_get_pollfd(monitorBus_.get(), &fd);
      notifier_ = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
      QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { DrainMonitor(); });
    }
  }
  ~GPlatform() override {
    notifier_.reset();
    if (started_) gst_device_monitor_stop(monitor_.get());
  }

  Status CreateClassEnumerator(const Guid& category,
                               std::vector<std::shared_ptr<IMoniker>>& monikers) override {
    monikers.clear();
    if (category == guid::kVideoInputDeviceCategory) {
      for (auto& d : Devices()) monikers.push_back(std::make_shared<GMoniker>(this, d.displayName));
    } else if (category == guid::kVideoCompressorCategory) {
      for (auto& e : Encoders()) monikers.push_back(std::make_shared<GMoniker>(this, kEncoderPrefix + e.first));
    }
    return monikers.empty() ? status::kFalse : status::kOk;
  }
  Status ParseDisplayName(const std::string& displayName, std::shared_ptr<IMoniker>& moniker) override {
    if (displayName.rfind(gstmap::kDisplayNamePrefix, 0) != 0) return status::kInvalidArg;
    moniker = std::make_shared<GMoniker>(this, displayName);
    return status::kOk;
  }
  Status CreateCaptureGraphBuilder2(std::shared_ptr<ICaptureGraphBuilder2>& builder) override {
    builder = std::make_shared<GBuilder>();
    return status::kOk;
  }
  Status CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder>& builder) override {
    builder = std::make_shared<GOldBuilder>();
    return status::kOk;
  }
  Status CreateFilterGraph(std::shared_ptr<IFilterGraph>& graph) override {
    auto g = std::make_shared<GGraph>();
    g->Init();
    graphs_.erase(std::remove_if(graphs_.begin(), graphs_.end(), [](auto& w) { return w.expired(); }),
                  graphs_.end());
    graphs_.push_back(g);
    graph = g;
    return status::kOk;
  }
  Status CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override {
    auto f = std::make_shared<GGrabberFilter>();
    f->Init();
    grabber = std::make_shared<GSampleGrabber>(f);
    return status::kOk;
  }
  Status ShowPropertyFrame(OwnerWindow owner, int x, int y, const std::string& caption,
                           IPropertyPageHost& object, const PropertyPageList& pages) override {
    if (pages.pages.empty()) return status::kOk;
    auto* filter = dynamic_cast<GCaptureFilter*>(&object);
    GstColorBalance* balance = filter ? filter->Balance() : nullptr;
    if (!balance || std::find(pages.pages.begin(), pages.pages.end(), kColorBalancePage) == pages.pages.end())
      return status::kNotImplemented;
    return gstpages::ShowColorBalance(WidgetFromOwner(owner), x, y,
                                      caption.empty() ? filter->DefaultName() : caption, balance)
               ? status::kOk
               : status::kFalse;
  }
  void SetDeviceChangeCallback(std::function<void()> callback) override { deviceChange_ = std::move(callback); }
  uint32_t TickCountMs() override { return NowMs(); }

  struct DeviceEntry {
    std::string displayName;
    std::string friendlyName;
    Ref<GstDevice> device;
  };
  // The devices present now, in a stable order (by identity).
  std::vector<DeviceEntry> Devices() {
    std::vector<DeviceEntry> out;
    GList* list = gst_device_monitor_get_devices(monitor_.get());
    for (GList* l = list; l; l = l->next) {
      auto* dev = GST_DEVICE(l->data);
      CharRef name(gst_device_get_display_name(dev));
      out.push_back(DeviceEntry{DisplayNameOf(dev), name ? name.get() : "", Own(dev)});
    }
    g_list_free(list);
    std::stable_sort(out.begin(), out.end(),
                     [](const DeviceEntry& a, const DeviceEntry& b) { return a.displayName < b.displayName; });
    // Identical identities (two functions of one device): keep the first of each.
    out.erase(std::unique(out.begin(), out.end(),
                          [](const DeviceEntry& a, const DeviceEntry& b) { return a.displayName == b.displayName; }),
              out.end());
    return out;
  }
  // Encoders whose output the AVI muxer takes: {factory name, long name}, by factory name.
  std::vector<std::pair<std::string, std::string>> Encoders() {
    std::vector<std::pair<std::string, std::string>> out;
    GstElementFactory* avimux = gst_element_factory_find("avimux");
    if (!avimux) return out;
    CapsRef muxCaps;
    for (const GList* t = gst_element_factory_get_static_pad_templates(avimux); t; t = t->next) {
      auto* tmpl = static_cast<GstStaticPadTemplate*>(t->data);
      if (tmpl->direction == GST_PAD_SINK && std::strncmp(tmpl->name_template, "video", 5) == 0)
        muxCaps.reset(gst_static_caps_get(&tmpl->static_caps));
    }
    gst_object_unref(avimux);
    if (!muxCaps) return out;
    GList* list = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER, GST_RANK_NONE);
    for (GList* l = list; l; l = l->next) {
      auto* f = GST_ELEMENT_FACTORY(l->data);
      const gchar* klass = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS);
      if (!klass || (!std::strstr(klass, "Encoder/Video") && !std::strstr(klass, "Encoder/Image"))) continue;
      if (!gst_element_factory_can_src_any_caps(f, muxCaps.get())) continue;
      const gchar* longName = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_LONGNAME);
      out.push_back({GST_OBJECT_NAME(f), longName ? longName : GST_OBJECT_NAME(f)});
    }
    gst_plugin_feature_list_free(list);
    std::sort(out.begin(), out.end());
    return out;
  }
  void DeviceRemovedFromGraphs(const std::string& displayName) {
    for (auto& w : graphs_) {
      auto g = w.lock();
      if (!g) continue;
      for (auto& f : g->Filters())
        if (auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f); cap && cap->DisplayName() == displayName)
          g->QueueEvent(GraphEvent{event::kDeviceLost, 0, 0, cap});
    }
  }

private:
  void DrainMonitor() {
    bool changed = false;
    while (MessageRef m{gst_bus_pop(monitorBus_.get())}) {
      const auto type = GST_MESSAGE_TYPE(m.get());
      if (type != GST_MESSAGE_DEVICE_ADDED && type != GST_MESSAGE_DEVICE_REMOVED) continue;
      changed = true;
      if (type == GST_MESSAGE_DEVICE_REMOVED) {
        GstDevice* dev = nullptr;
        gst_message_parse_device_removed(m.get(), &dev);
        Ref<GstDevice> device = Own(dev);
        if (device) DeviceRemovedFromGraphs(DisplayNameOf(device.get()));
      }
    }
    // The callback is looked up when the call runs: its owner may have gone meanwhile.
    if (changed && deviceChange_) {
      std::weak_ptr<int> alive = alive_;
      Post([this, alive] {
        if (alive.lock() && deviceChange_) {
          auto callback = deviceChange_;
          callback();
        }
      });
    }
  }

  Ref<GstDeviceMonitor> monitor_;
  Ref<GstBus> monitorBus_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool started_ = false;
  std::function<void()> deviceChange_;
  std::vector<std::weak_ptr<GGraph>> graphs_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

Status GMoniker::BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) {
  if (name_.rfind(kEncoderPrefix, 0) == 0) {
    const std::string factory = name_.substr(sizeof kEncoderPrefix - 1);
    for (auto& e : platform_->Encoders())
      if (e.first == factory) {
        bag = std::make_shared<GBag>(e.second, "");
        return status::kOk;
      }
    return status::kFileNotFound;
  }
  for (auto& d : platform_->Devices())
    if (d.displayName == name_) {
      bag = std::make_shared<GBag>(d.friendlyName, kCaptureFilterClsid);
      return status::kOk;
    }
  return status::kFileNotFound;
}

Status GMoniker::BindToFilter(std::shared_ptr<IBaseFilter>& filter) {
  if (name_.rfind(kEncoderPrefix, 0) == 0) {
    const std::string factory = name_.substr(sizeof kEncoderPrefix - 1);
    for (auto& e : platform_->Encoders())
      if (e.first == factory) {
        auto f = std::make_shared<GCompressorFilter>(e.second, factory);
        if (!f->Init()) return status::kFail;
        filter = f;
        return status::kOk;
      }
    return status::kFileNotFound;
  }
  for (auto& d : platform_->Devices()) {
    if (d.displayName != name_) continue;
    GstElement* source = gst_device_create_element(d.device.get(), nullptr);
    if (!source) return status::kFail;
    CapsRef caps(gst_device_get_caps(d.device.get()));
    auto f = std::make_shared<GCaptureFilter>(d.friendlyName, d.displayName, source,
                                              gstmap::GroupCapabilities(ExpandCaps(caps.get())));
    f->Init();
    filter = f;
    return status::kOk;
  }
  return status::kFileNotFound;
}

}  // namespace

std::unique_ptr<IMediaPlatform> CreateGstPlatform() { return std::make_unique<GPlatform>(); }

bool SetTestCameraPresentForTesting(int index, bool present) {
  GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("lumoratestcameras");
  if (!provider) return false;
  Ref<GstDeviceProvider> hold = Own(provider);
  GstDevice* found = nullptr;
  GList* list = gst_device_provider_get_devices(provider);
  for (GList* l = list; l; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, lumora_test_camera_get_type()) &&
        reinterpret_cast<LumoraTestCamera*>(l->data)->index == index)
      found = GST_DEVICE(l->data);
  bool done = false;
  if (!present && found) {
    gst_device_provider_device_remove(provider, found);
    done = true;
  } else if (present && !found) {
    gst_device_provider_device_add(provider, NewTestCamera(index));
    done = true;
  }
  g_list_free_full(list, gst_object_unref);
  return done;
}

}  // namespace media
