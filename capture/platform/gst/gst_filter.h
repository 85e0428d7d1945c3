// Filters and pins of the GStreamer backend: a filter is a bin in the graph's pipeline, its
// pins are the bin's ghost pads.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/platform/gst/format_map.h"
#include "gstqt/gst_handles.h"
#include "capture/platform/gst/gst_util.h"
#include "capture/platform/graph_model.h"
#include "capture/platform/media_platform.h"

namespace media::gst {

using namespace gsth;

using model::FilterKind;

class GFilter;
class GGraph;

// A pin is a ghost pad of its filter's bin.
class GPin : public model::Pin {
public:
  GPin(std::weak_ptr<model::Filter> owner, PinDirection dir, std::string name, Guid category, GstPad* ghost)
      : Pin(std::move(owner), dir, std::move(name), category), ghost_(Share(ghost)) {}
  Status ConnectionMediaType(MediaType& type) override;
  GstPad* Pad() const { return ghost_.get(); }

private:
  Ref<GstPad> ghost_;
};

// Counters of one capture run, shared with the pad probes (streaming threads).
struct CaptureCounters {
  std::atomic<bool> gateOpen{true};
  std::atomic<bool> awaitKeyFrame{false};  // after the gate opens: drop until a key frame
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

// Where a filter's pad probes find the counters of the graph it is in. The probes hold this
// slot, never the filter: a probe that dropped the last reference to a filter would tear
// the pipeline down from its own streaming thread.
struct CounterSlot {
  std::mutex mutex;
  std::shared_ptr<CaptureCounters> counters;
  std::shared_ptr<CaptureCounters> Get() {
    std::lock_guard lock(mutex);
    return counters;
  }
  void Set(std::shared_ptr<CaptureCounters> c) {
    std::lock_guard lock(mutex);
    counters = std::move(c);
  }
};

class GFilter : public model::Filter {
public:
  GFilter(FilterKind kind, std::string defaultName)
      : Filter(kind, std::move(defaultName)), bin_(Sink(gst_bin_new(nullptr))),
        slot_(std::make_shared<CounterSlot>()) {}
  ~GFilter() override {
    if (bin_) gst_element_set_state(bin_.get(), GST_STATE_NULL);
  }

  GstElement* Bin() const { return bin_.get(); }
  std::shared_ptr<GPin> GPinNamed(const std::string& n) const {
    return std::static_pointer_cast<GPin>(PinNamed(n));
  }
  void Attached(std::shared_ptr<CaptureCounters> c) { slot_->Set(std::move(c)); }

protected:
  // Exposes `pad` (an element pad inside the bin) as a pin.
  void AddGhostPin(PinDirection dir, const std::string& name, GstPad* pad, Guid category = {}) {
    GstPad* ghost = gst_ghost_pad_new(name.c_str(), pad);
    gst_element_add_pad(bin_.get(), ghost);  // the bin owns the ghost pad
    AddPin(std::make_shared<GPin>(weak_from_this(), dir, name, category, ghost));
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
  // Makes a decodebin whose output, once it knows what it decodes, feeds `next`.
  GstElement* MakeDecoderInto(GstElement* next) {
    GstElement* decode = Make("decodebin");
    if (decode)
      g_signal_connect(decode, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer to) {
                         GstPad* sink = gst_element_get_static_pad(GST_ELEMENT(to), "sink");
                         if (!gst_pad_is_linked(sink)) gst_pad_link(pad, sink);
                         gst_object_unref(sink);
                       }),
                       next);
    return decode;
  }
  // Adds a buffer probe holding the counter slot.
  void ProbeCounters(GstPad* pad, GstPadProbeCallback callback) {
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, callback, new std::shared_ptr<CounterSlot>(slot_),
                      [](gpointer p) { delete static_cast<std::shared_ptr<CounterSlot>*>(p); });
  }
  std::shared_ptr<CounterSlot> Slot() const { return slot_; }
  static std::shared_ptr<CaptureCounters> CountersOf(gpointer data) {
    return (*static_cast<std::shared_ptr<CounterSlot>*>(data))->Get();
  }

private:
  Ref<GstElement> bin_;
  std::shared_ptr<CounterSlot> slot_;
};

}  // namespace media::gst
