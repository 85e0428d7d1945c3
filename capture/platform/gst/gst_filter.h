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
#include "capture/platform/gst/gst_handles.h"
#include "capture/platform/gst/gst_util.h"
#include "capture/platform/media_platform.h"

namespace media::gst {

using namespace gsth;

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

}  // namespace media::gst
