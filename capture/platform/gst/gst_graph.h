// The graph: one pipeline, its bus read on the UI thread, its event queue.
#pragma once

#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "capture/platform/gst/gst_capture_filter.h"
#include "capture/platform/gst/gst_filter.h"
#include "capture/platform/gst/gst_renderer.h"

namespace media::gst {

using namespace gsth;

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

}  // namespace media::gst
