// The sample grabber: keeps the newest frame; converts it to a bottom-up 24-bit DIB only when
// a snapshot asks for it.
#pragma once

#include <gst/video/video.h>

#include <algorithm>
#include <cstring>

#include "capture/platform/gst/format_map.h"
#include "capture/platform/gst/gst_filter.h"

namespace media::gst {

using namespace gsth;

// The newest sample, kept for snapshots (converted only when one is asked for).
struct GrabberState {
  std::mutex mutex;
  SampleRef sample;
  std::atomic<bool> buffering{false};
};

class GGrabberFilter : public GFilter {
public:
  GGrabberFilter() : GFilter(FilterKind::Grabber, "SampleGrabber"), state(std::make_shared<GrabberState>()) {
    queue_ = Make("queue");
    g_object_set(queue_, "max-size-buffers", 2u, "leaky", 2, nullptr);  // never stall the source
    // Compressed camera frames (MJPG) are decoded here, so a snapshot only has to convert
    // raw video; raw video passes decodebin untouched.
    out_ = Make("identity");
    gst_element_link(queue_, MakeDecoderInto(out_));
  }
  void Init() {
    AddGhostPin(PinDirection::Input, "In", StaticPad(queue_, "sink"));
    AddGhostPin(PinDirection::Output, "Out", StaticPad(out_, "src"));
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
      auto in = filter_->GPinNamed("In");
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

}  // namespace media::gst
