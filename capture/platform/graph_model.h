// The graph rules every backend obeys, kept once: filter naming and the duplicate-name
// statuses, connection bookkeeping, what may change in which state, the render-stream policy
// (a tee and 0x0004027E for a preview without a preview pin), AVI output wiring, the
// graph-wide stream-control gate and the event queue (order, one coalesced notification,
// emptied when the graph is taken apart or started).
//
// A backend derives its filters, pins, graph and builder from these classes and supplies only
// what is its own: linking and unlinking pins, making the renderer, tee, muxer and writer, the
// video window, and starting and stopping. Every operation that fails leaves the graph as it
// was. All calls run on the UI thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/platform/media_platform.h"

namespace media::model {

enum class FilterKind { Capture, Grabber, Renderer, Mux, FileWriter, Compressor, SmartTee };
enum class GraphState { Stopped, Paused, Running };

// Seen by the scripted backend: every operation is announced ("Graph.AddFilter", argument)
// before it runs; a failure status makes the operation answer it. Null: no probe.
using CallProbe = std::function<Status(const std::string& op, const std::string& arg)>;

class Filter;
class Graph;

class Pin : public IPin {
public:
  Pin(std::weak_ptr<Filter> owner, PinDirection dir, std::string name, Guid category = {},
      Guid major = guid::kMediaTypeVideo);
  PinDirection Direction() const override { return dir_; }
  Status QueryPinInfo(PinInfo& info) override;
  Status ConnectedTo(std::shared_ptr<IPin>& other) override;
  Guid Category() const override { return category_; }

  std::shared_ptr<Filter> Owner() const { return owner_.lock(); }
  const std::string& PinName() const { return name_; }
  Guid Major() const { return major_; }
  std::shared_ptr<Pin> Peer() const { return peer_.lock(); }
  void SetPeer(const std::shared_ptr<Pin>& p) { peer_ = p; }
  void ClearPeer() { peer_.reset(); }
  // "filter:pin" for logs.
  std::string Label() const;

private:
  std::weak_ptr<Filter> owner_;
  PinDirection dir_;
  std::string name_;
  Guid category_;
  Guid major_;
  std::weak_ptr<Pin> peer_;
};

class Filter : public IBaseFilter, public std::enable_shared_from_this<Filter> {
public:
  Filter(FilterKind kind, std::string defaultName) : kind_(kind), defaultName_(std::move(defaultName)) {}
  Status GetPages(PropertyPageList& pages) override;
  std::vector<std::shared_ptr<IPin>> EnumPins() override { return {pins_.begin(), pins_.end()}; }
  std::string Name() const override { return graph_.expired() ? std::string() : name_; }
  std::shared_ptr<IFilterGraph> Graph() const override;

  FilterKind Kind() const { return kind_; }
  const std::string& DefaultName() const { return defaultName_; }
  std::shared_ptr<model::Graph> OwnGraph() const { return graph_.lock(); }
  const std::vector<std::shared_ptr<Pin>>& Pins() const { return pins_; }
  std::shared_ptr<Pin> PinNamed(const std::string& name) const;
  // First pin of a direction with no connection (null when none).
  std::shared_ptr<Pin> FreePin(PinDirection dir) const;

  // The graph goes from stopped to running or paused (a failure refuses the start), and back.
  virtual Status Starting() { return status::kOk; }
  virtual void Stopped() {}

protected:
  void AddPin(std::shared_ptr<Pin> pin) { pins_.push_back(std::move(pin)); }

private:
  friend class Graph;
  FilterKind kind_;
  std::string defaultName_;
  std::string name_;
  std::weak_ptr<model::Graph> graph_;
  std::vector<std::shared_ptr<Pin>> pins_;
};

// The event queue of one graph.
class EventQueue : public IMediaEventEx {
public:
  // `pull` (may be empty) fetches what the backend has not queued yet, for GetEvent.
  EventQueue(CallProbe probe, std::function<void()> pull);
  ~EventQueue() override;
  Status SetNotifyWindow(Notify notify, uint32_t message, intptr_t instance) override;
  Status GetEvent(GraphEvent& event, long timeoutMs) override;
  Status FreeEventParams(GraphEvent& event) override;

  // Queues an event; `notify` false leaves the notification to a later Signal().
  void Queue(GraphEvent event, bool notify = true);
  // One notification for everything queued until the handler runs.
  void Signal();
  void Clear();
  size_t Size() const { return queue_.size(); }
  void DetachPull() { pull_ = nullptr; }

private:
  CallProbe probe_;
  std::function<void()> pull_;
  std::deque<GraphEvent> queue_;
  Notify notify_;
  uint32_t message_ = 0;
  intptr_t instance_ = 0;
  bool signalled_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

class Graph : public IFilterGraph, public IMediaControl, public std::enable_shared_from_this<Graph> {
public:
  explicit Graph(CallProbe probe = nullptr);
  ~Graph() override;

  Status AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) override;
  Status RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override;
  Status Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override;
  Status Render(const std::shared_ptr<IPin>& out) override;
  Status Disconnect(const std::shared_ptr<IPin>& pin) override;
  std::vector<std::shared_ptr<IBaseFilter>> EnumFilters() override { return {filters_.begin(), filters_.end()}; }
  Status QueryMediaControl(std::shared_ptr<IMediaControl>& control) override;
  Status QueryMediaEvent(std::shared_ptr<IMediaEventEx>& events) override;
  Status QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) override;

  Status Run() override { return Start(GraphState::Running, "MediaControl.Run"); }
  Status Pause() override { return Start(GraphState::Paused, "MediaControl.Pause"); }
  Status Stop() override;

  // Joins two pins of this graph after the checks every connection makes.
  Status Join(const std::shared_ptr<Pin>& out, const std::shared_ptr<Pin>& in);
  // Breaks a connection on both sides.
  void Unjoin(const std::shared_ptr<Pin>& out, const std::shared_ptr<Pin>& in);
  // Renders `out` into a new renderer; nothing is left behind on failure.
  Status RenderPin(const std::shared_ptr<Pin>& out);

  GraphState State() const { return state_; }
  const std::vector<std::shared_ptr<Filter>>& Filters() const { return filters_; }
  std::shared_ptr<Filter> FindKind(FilterKind kind) const;  // newest of that kind
  bool HasKind(FilterKind kind) const { return FindKind(kind) != nullptr; }
  const std::shared_ptr<EventQueue>& Events() const { return events_; }
  // The stream-control gate of the capture stream into the file (graph-wide, at the muxer).
  bool CaptureGateOpen() const { return gateOpen_; }
  void SetCaptureGate(bool open);
  Status Probe(const std::string& op, const std::string& arg = {}) const;
  // Test hook: replaces the probe (the scripted backend's call log and failure switches).
  void SetProbeForTesting(CallProbe probe) { probe_ = std::move(probe); }

protected:
  // Backend hooks.
  virtual Status AttachFilter(Filter&) { return status::kOk; }
  virtual void DetachFilter(Filter&) {}
  virtual Status LinkPins(Pin& out, Pin& in) = 0;
  virtual void UnlinkPins(Pin& out, Pin& in) = 0;
  virtual std::shared_ptr<Filter> MakeRenderer() = 0;
  virtual Status MakeVideoWindow(const std::shared_ptr<Filter>& renderer,
                                 std::shared_ptr<IVideoWindow>& window) = 0;
  // From stopped or paused to `target`: kOk, kFalse (still completing) or a failure, after
  // which the backend is stopped again.
  virtual Status StartBackend(GraphState target) = 0;
  virtual void StopBackend() = 0;
  virtual void GateChanged(bool /*open*/) {}
  // The event queue's pull of pending backend messages (see EventQueue).
  void SetEventPull(std::function<void()> pull);

private:
  Status Start(GraphState target, const char* op);
  bool NameTaken(const std::string& name) const;

  CallProbe probe_;
  std::vector<std::shared_ptr<Filter>> filters_;
  std::shared_ptr<EventQueue> events_;
  GraphState state_ = GraphState::Stopped;
  bool gateOpen_ = true;
};

// The capture graph builder's shared part; FindInterface is the backend's.
class Builder : public ICaptureGraphBuilder2 {
public:
  explicit Builder(CallProbe probe = nullptr) : probe_(std::move(probe)) {}
  Status SetFiltergraph(const std::shared_ptr<IFilterGraph>& graph) override;
  Status GetFiltergraph(std::shared_ptr<IFilterGraph>& graph) override;
  Status RenderStream(const Guid* category, const Guid* type, const std::shared_ptr<IBaseFilter>& source,
                      const std::shared_ptr<IBaseFilter>& intermediate,
                      const std::shared_ptr<IBaseFilter>& sink) override;
  Status SetOutputFileName(const Guid& subtype, const std::string& path, std::shared_ptr<IBaseFilter>& mux,
                           std::shared_ptr<IFileSinkFilter>& sink) override;
  Status ControlStream(const Guid* category, const Guid* type, const std::shared_ptr<IBaseFilter>& filter,
                       const int64_t* start, const int64_t* stop, uint16_t startCookie,
                       uint16_t stopCookie) override;
  Status AllocCapFile(const std::string& path, uint64_t bytes) override;

  // The output pin of `filter` with that category and major type (null: any).
  static std::shared_ptr<Pin> PinOf(const Filter& filter, const Guid* category, const Guid* type);

protected:
  virtual std::shared_ptr<Filter> MakeTee() = 0;
  virtual std::shared_ptr<Filter> MakeMux() = 0;
  virtual std::shared_ptr<Filter> MakeWriter(const std::string& path) = 0;
  virtual std::shared_ptr<IFileSinkFilter> FileSinkOf(const std::shared_ptr<Filter>& writer) = 0;
  const std::shared_ptr<Graph>& OwnGraph() const { return graph_; }

private:
  struct Undo;
  Status InsertTee(const std::shared_ptr<Pin>& capturePin, std::shared_ptr<Filter>& tee, Undo& undo);

  CallProbe probe_;
  std::shared_ptr<Graph> graph_;
};

}  // namespace media::model
