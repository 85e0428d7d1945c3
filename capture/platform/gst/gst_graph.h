// The graph of the GStreamer backend: one pipeline on the shared graph model. The bus is read
// on the UI thread and its errors and end of stream become graph events; a graph that writes
// a file finishes it (end of stream through the branch, bounded wait) before it stops or is
// destroyed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/platform/gst/gst_filter.h"
#include "gstqt/bus_watch.h"

namespace media::gst {

class GGraph : public model::Graph {
public:
  GGraph();
  ~GGraph() override;
  // After construction (needs weak_from_this): watches the bus, connects the event queue.
  void Init();

  // A capture device of this graph went away (the device monitor saw it leave).
  void QueueDeviceLost(const std::shared_ptr<GFilter>& filter);
  GstElement* Pipeline() const { return pipeline_.get(); }

  std::shared_ptr<CaptureCounters> counters;

  // How long stopping waits for the file to be finished (end of stream through the branch).
  static constexpr GstClockTime kFinishTimeout = 3 * GST_SECOND;
  // How long a start waits for a state change that completes asynchronously.
  static constexpr GstClockTime kStartTimeout = 5 * GST_SECOND;
  // How long a failed start waits for the error that failed it to reach the bus.
  static constexpr GstClockTime kErrorGrace = GST_SECOND / 2;

protected:
  Status AttachFilter(model::Filter& f) override;
  void DetachFilter(model::Filter& f) override;
  Status LinkPins(model::Pin& out, model::Pin& in) override;
  void UnlinkPins(model::Pin& out, model::Pin& in) override;
  std::shared_ptr<model::Filter> MakeRenderer() override;
  Status MakeVideoWindow(const std::shared_ptr<model::Filter>& renderer,
                         std::shared_ptr<IVideoWindow>& window) override;
  Status StartBackend(model::GraphState target) override;
  void StopBackend() override;
  void GateChanged(bool open) override;

private:
  bool Writing() const;
  Status FailureFromBus();
  void FinishFile();
  bool WaitFileEnd(GstClockTime timeout);
  std::vector<std::shared_ptr<GPin>> BranchBehind(const std::shared_ptr<GFilter>& failed) const;
  void Drain(bool signal);
  bool Handle(GstMessage* m);
  Status Translate(GstMessage* m, std::shared_ptr<GFilter>* from, bool* deviceLost);
  bool FirstLoss(const std::shared_ptr<IBaseFilter>& f);

  gsth::Ref<GstElement> pipeline_;
  gsth::Ref<GstBus> bus_;
  std::unique_ptr<gstqt::BusWatch> watch_;
  bool errorSeen_ = false;   // since the last start
  bool finishing_ = false;   // our own end of stream is on its way
  std::weak_ptr<GFilter> failed_;  // the filter of the first error since the last start
  std::vector<const IBaseFilter*> lostReported_;  // identities only, never dereferenced
};

}  // namespace media::gst
