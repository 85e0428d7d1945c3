// The capture filter: a device's source element, its stream configuration (format and frame
// rate through capsfilters and videorate) and the frame counters of a capture run.
#pragma once

#include <gst/video/colorbalance.h>

#include "capture/platform/gst/caps_convert.h"
#include "capture/platform/gst/gst_filter.h"
#include "capture/platform/v4l2/v4l2_inputs.h"

namespace media::gst {

using namespace gsth;

// The one property page the backend offers: the picture controls of a device.
constexpr Guid kColorBalancePage{0x8A5D5C41, 0x2B7E, 0x4C1F, {0x9A, 0x61, 0x4C, 0x55, 0x4D, 0x4F, 0x52, 0x41}};

// The format page of a device's stream configuration.
constexpr Guid kStreamFormatPage{0x8A5D5C42, 0x2B7E, 0x4C1F, {0x9A, 0x61, 0x4C, 0x55, 0x4D, 0x46, 0x4D, 0x54}};

// Stream configuration of a device: its caps list as capabilities; the format is the caps
// of the device bin's capsfilter. videorate sits between the two capsfilters only while a
// rate the device does not run at is wanted: it keeps the previous frame and sends out
// copies sharing its memory, so the source's pool could never take a frame back and
// allocated (and page-faulted) a new one for every frame.
class GStreamConfig : public IAMStreamConfig {
public:
  // The capsfilter is linked straight to the rate filter; `videorate` waits beside them.
  GStreamConfig(GstElement* capsfilter, GstElement* videorate, GstElement* ratefilter,
                std::vector<gstmap::Capability> caps)
      : capsfilter_(Share(capsfilter)), videorate_(Share(videorate)), ratefilter_(Share(ratefilter)),
        caps_(std::move(caps)) {
    if (!caps_.empty()) Apply(gstmap::MediaTypeFor(caps_.front().entry));
  }
  bool ConvertsRate() const { return converting_; }
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.clear();
    if (caps_.empty()) return status::kNoInterface;
    pages.pages.push_back(kStreamFormatPage);
    return status::kOk;
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
    // A format the device does not list would only be refused once the graph runs.
    const int32_t height = b.biHeight < 0 ? -b.biHeight : b.biHeight;
    const bool listed = std::any_of(caps_.begin(), caps_.end(), [&](const gstmap::Capability& c) {
      return gstmap::MediaTypeFor(c.entry).subtype == type.subtype && c.entry.width == b.biWidth &&
             c.entry.height == height;
    });
    if (!listed) return status::kInvalidMediaType;
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
    const auto match = std::find_if(caps_.begin(), caps_.end(), [&](const gstmap::Capability& c) {
      return gstmap::MediaTypeFor(c.entry).subtype == t.subtype && c.entry.width == b.biWidth &&
             c.entry.height == b.biHeight;
    });
    // The device is handed one of its own fractions: the wanted rate when it lists it, else
    // the one videorate makes the wanted rate from (without a wanted rate, its fastest).
    gstmap::Rate device{0, 1};
    std::optional<gstmap::Rate> listed;
    if (match != caps_.end()) {
      listed = want > 0 ? gstmap::ListedRate(*match, want) : std::nullopt;
      device = listed ? *listed : gstmap::SourceRateFor(*match, want > 0 ? want : 0);
    }
    const bool convert = want > 0 && !listed;
    CapsRef caps = CapsForMediaType(t, device);
    if (caps) g_object_set(capsfilter_.get(), "caps", caps.get(), nullptr);
    CapsRef rate;
    if (convert && caps) {
      // What the capture branch gets, and the rate the file's header states.
      const auto [n, d] = gstmap::RateForInterval(want);
      rate.reset(gst_caps_new_simple(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                                     "framerate", GST_TYPE_FRACTION, n, d, nullptr));
    } else {
      rate.reset(gst_caps_new_any());
    }
    g_object_set(ratefilter_.get(), "caps", rate.get(), nullptr);
    ConvertRate(convert && caps);
    if (want <= 0) t.videoInfo->AvgTimePerFrame = gstmap::FrameInterval(device.first, device.second);
    current_ = t;
  }
  // Puts videorate into the chain or takes it out (the element is stopped: SetFormat
  // refuses while it streams).
  void ConvertRate(bool on) {
    if (on == converting_ || !videorate_) return;
    GstElement* caps = capsfilter_.get();
    GstElement* rate = videorate_.get();
    GstElement* out = ratefilter_.get();
    if (on) {
      gst_element_unlink(caps, out);
      gst_element_link_pads_full(caps, "src", rate, "sink", GST_PAD_LINK_CHECK_NOTHING);
      gst_element_link_pads_full(rate, "src", out, "sink", GST_PAD_LINK_CHECK_NOTHING);
    } else {
      gst_element_unlink_many(caps, rate, out, nullptr);
      gst_element_link_pads_full(caps, "src", out, "sink", GST_PAD_LINK_CHECK_NOTHING);
    }
    converting_ = on;
  }
  Ref<GstElement> capsfilter_;
  Ref<GstElement> videorate_;
  Ref<GstElement> ratefilter_;
  bool converting_ = false;
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
      : GFilter(FilterKind::Capture, std::move(friendlyName)), displayName_(std::move(displayName)),
        caps_(std::move(caps)) {
    source_ = source;
    gst_bin_add(GST_BIN(Bin()), source);
    capsfilter_ = Make("capsfilter");
    videorate_ = Make("videorate");
    ratefilter_ = Make("capsfilter");
    // videorate joins the chain when a rate is wanted that the device does not run at.
    gst_element_link_many(source_, capsfilter_, ratefilter_, nullptr);
  }
  void Init() {
    AddGhostPin(PinDirection::Output, "Capture", StaticPad(ratefilter_, "src"), guid::kPinCategoryCapture);
    config_ = std::make_shared<GStreamConfig>(capsfilter_, videorate_, ratefilter_, caps_);
    // Gaps in the driver's sequence numbers show at the source; the frames the capture
    // branch should receive are counted after the rate conversion.
    ProbeCounters(StaticPad(source_, "src"), &GCaptureFilter::CountGaps);
    ProbeCounters(StaticPad(ratefilter_, "src"), &GCaptureFilter::CountFrames);
    gst_pad_add_probe(StaticPad(videorate_, "sink"),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &GCaptureFilter::OwnAndTime, new ArrivalClock{},
                      [](gpointer p) { delete static_cast<ArrivalClock*>(p); });
  }
  const std::string& DisplayName() const { return displayName_; }
  // The device's V4L2 node, for its inputs and norms (none for sources without one).
  void SetNode(std::shared_ptr<v4l2::IV4L2Io> io, std::string path) {
    nodeIo_ = std::move(io);
    nodePath_ = std::move(path);
  }
  std::unique_ptr<v4l2::CV4L2Inputs> OpenInputs() const {
    return nodeIo_ ? v4l2::CV4L2Inputs::Open(nodeIo_, nodePath_) : nullptr;
  }
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
  static GstPadProbeReturn CountGaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto c = CountersOf(data);
    if (!c || !c->gateOpen) return GST_PAD_PROBE_OK;
    const uint64_t offset = GST_BUFFER_OFFSET(GST_PAD_PROBE_INFO_BUFFER(info));
    std::lock_guard lock(c->dropMutex);
    c->drops.Add(offset == GST_BUFFER_OFFSET_NONE ? gstmap::DropCounter::kNoOffset : offset);
    c->offsetGaps = long(c->drops.Dropped());
    return GST_PAD_PROBE_OK;
  }
  // Frames enter the rate conversion as copies of the program's own. videorate sends the
  // frame it holds again as copies sharing its memory, and a source that takes a frame's
  // memory back once the frame itself is released (PipeWire's does) would rewrite it while
  // those copies are still being read: a decoder then reads a frame changing under it.
  // The copies are timed by their arrival, so the rate made is a rate in real time whatever
  // clock the source stamped its frames by, and a capture plays as long as it ran.
  struct ArrivalClock {
    gint64 startUs = -1;  // monotonic time of the first frame since the stream (re)started
    GstClockTime startPts = 0;
  };
  static GstPadProbeReturn OwnAndTime(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* clock = static_cast<ArrivalClock*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
      const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
      if (type == GST_EVENT_STREAM_START || type == GST_EVENT_FLUSH_STOP || type == GST_EVENT_SEGMENT)
        clock->startUs = -1;
      return GST_PAD_PROBE_OK;
    }
    GstBuffer* in = GST_PAD_PROBE_INFO_BUFFER(info);
    GstBuffer* own = gst_buffer_copy_deep(in);
    if (!own) return GST_PAD_PROBE_DROP;
    const gint64 now = g_get_monotonic_time();
    if (clock->startUs < 0) {
      clock->startUs = now;
      clock->startPts = GST_BUFFER_PTS_IS_VALID(in) ? GST_BUFFER_PTS(in) : 0;
    }
    GST_BUFFER_PTS(own) = clock->startPts + GstClockTime(now - clock->startUs) * GST_USECOND;
    GST_BUFFER_DTS(own) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(own) = GST_CLOCK_TIME_NONE;
    gst_buffer_unref(in);
    GST_PAD_PROBE_INFO_DATA(info) = own;
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
  GstElement* videorate_ = nullptr;
  GstElement* ratefilter_ = nullptr;
  std::shared_ptr<GStreamConfig> config_;
  std::shared_ptr<v4l2::IV4L2Io> nodeIo_;
  std::string nodePath_;
};


}  // namespace media::gst
