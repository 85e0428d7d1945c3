#include "capture/platform/graph_model.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

#include "capture/platform/capture_file.h"

namespace media::model {

namespace {

// Runs `fn` on the UI thread later (at once when there is no event loop object).
void Post(std::function<void()> fn) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  else
    fn();
}

std::string TimeText(const int64_t* t) {
  return !t ? "none" : *t == kMaxTime ? "max" : std::to_string(*t);
}

}  // namespace

// --- pins and filters

Pin::Pin(std::weak_ptr<Filter> owner, PinDirection dir, std::string name, Guid category, Guid major)
    : owner_(std::move(owner)), dir_(dir), name_(std::move(name)), category_(category), major_(major) {}

Status Pin::QueryPinInfo(PinInfo& info) {
  info.filter = owner_.lock();
  info.direction = dir_;
  info.name = name_;
  return info.filter ? status::kOk : status::kFail;
}

Status Pin::ConnectedTo(std::shared_ptr<IPin>& other) {
  other = peer_.lock();
  return other ? status::kOk : status::kNotConnected;
}

std::string Pin::Label() const {
  auto f = owner_.lock();
  return (f ? f->Name() : "?") + ":" + name_;
}

Status Filter::GetPages(PropertyPageList& pages) {
  pages.pages.clear();
  return status::kNoInterface;
}

std::shared_ptr<IFilterGraph> Filter::Graph() const { return graph_.lock(); }

std::shared_ptr<Pin> Filter::PinNamed(const std::string& name) const {
  for (auto& p : pins_)
    if (p->PinName() == name) return p;
  return nullptr;
}

std::shared_ptr<Pin> Filter::FreePin(PinDirection dir) const {
  for (auto& p : pins_)
    if (p->Direction() == dir && !p->Peer()) return p;
  return nullptr;
}

// --- events

EventQueue::EventQueue(CallProbe probe, std::function<void()> pull)
    : probe_(std::move(probe)), pull_(std::move(pull)) {}

EventQueue::~EventQueue() = default;

Status EventQueue::SetNotifyWindow(Notify notify, uint32_t message, intptr_t instance) {
  if (probe_)
    if (Status s = probe_("MediaEvent.SetNotifyWindow", notify ? "on" : "off"); Failed(s)) return s;
  notify_ = std::move(notify);
  message_ = message;
  instance_ = instance;
  if (!queue_.empty()) Signal();
  return status::kOk;
}

Status EventQueue::GetEvent(GraphEvent& event, long) {
  if (queue_.empty() && pull_) pull_();
  if (queue_.empty()) return status::kTimeout;
  event = std::move(queue_.front());
  queue_.pop_front();
  return status::kOk;
}

Status EventQueue::FreeEventParams(GraphEvent& event) {
  event.filter.reset();
  return status::kOk;
}

void EventQueue::Queue(GraphEvent event, bool notify) {
  queue_.push_back(std::move(event));
  if (notify) Signal();
}

void EventQueue::Signal() {
  if (!notify_ || signalled_ || queue_.empty()) return;
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

void EventQueue::Clear() { queue_.clear(); }

// --- graph

Graph::Graph(CallProbe probe) : probe_(std::move(probe)), events_(std::make_shared<EventQueue>(probe_, nullptr)) {}

Graph::~Graph() {
  events_->DetachPull();
  events_->Clear();
  for (auto& f : filters_) {
    f->graph_.reset();
    f->name_.clear();
  }
}

void Graph::SetEventPull(std::function<void()> pull) {
  events_ = std::make_shared<EventQueue>(probe_, std::move(pull));
}

Status Graph::Probe(const std::string& op, const std::string& arg) const {
  return probe_ ? probe_(op, arg) : status::kOk;
}

bool Graph::NameTaken(const std::string& name) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](auto& f) { return f->Name() == name; });
}

std::shared_ptr<Filter> Graph::FindKind(FilterKind kind) const {
  for (auto it = filters_.rbegin(); it != filters_.rend(); ++it)
    if ((*it)->Kind() == kind) return *it;
  return nullptr;
}

Status Graph::AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) {
  auto f = std::dynamic_pointer_cast<Filter>(filter);
  if (!f) return status::kPointer;
  const std::string want = name.empty() ? f->DefaultName() : name;
  if (Status s = Probe("Graph.AddFilter", want); Failed(s)) return s;
  if (auto g = f->OwnGraph()) return g.get() == this ? status::kDuplicateNameError : status::kWrongState;
  std::string unique = want;
  Status result = status::kOk;
  for (int n = 1; NameTaken(unique); ++n) {
    if (n > 9999) return status::kDuplicateNameError;
    unique = want + " " + std::to_string(n);
    result = status::kDuplicateName;
  }
  if (Status s = AttachFilter(*f); Failed(s)) return s;
  f->graph_ = shared_from_this();
  f->name_ = unique;
  filters_.push_back(f);
  return result;
}

Status Graph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
  auto f = std::dynamic_pointer_cast<Filter>(filter);
  if (!f) return status::kPointer;
  if (Status s = Probe("Graph.RemoveFilter", f->Name()); Failed(s)) return s;
  auto it = std::find(filters_.begin(), filters_.end(), f);
  if (it == filters_.end()) return status::kNotFound;
  // Pulling a filter out of a streaming graph would break the stream under its threads.
  if (state_ != GraphState::Stopped) return status::kWrongState;
  for (auto& p : f->Pins())
    if (auto peer = p->Peer()) {
      if (p->Direction() == PinDirection::Output) Unjoin(p, peer);
      else Unjoin(peer, p);
    }
  DetachFilter(*f);
  f->graph_.reset();
  f->name_.clear();
  filters_.erase(it);
  // The graph is being taken apart: what its last run reported is over.
  events_->Clear();
  return status::kOk;
}

Status Graph::Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) {
  auto o = std::dynamic_pointer_cast<Pin>(out);
  auto i = std::dynamic_pointer_cast<Pin>(in);
  if (!o || !i) return status::kPointer;
  if (Status s = Probe("Graph.Connect", o->Label() + "->" + i->Label()); Failed(s)) return s;
  return Join(o, i);
}

Status Graph::Render(const std::shared_ptr<IPin>& out) {
  auto o = std::dynamic_pointer_cast<Pin>(out);
  if (!o) return status::kPointer;
  const Status answer = Probe("Graph.Render", o->Label());
  if (Failed(answer)) return answer;
  // A probe answering a success code (kPreviewFromCapture, kFalse) is what a render that
  // worked answers, as a real one may.
  const Status rendered = RenderPin(o);
  return Failed(rendered) ? rendered : answer;
}

Status Graph::Disconnect(const std::shared_ptr<IPin>& pin) {
  auto p = std::dynamic_pointer_cast<Pin>(pin);
  if (!p) return status::kPointer;
  if (Status s = Probe("Graph.Disconnect", p->Label()); Failed(s)) return s;
  if (state_ != GraphState::Stopped) return status::kWrongState;
  auto peer = p->Peer();
  if (!peer) return status::kFalse;
  // One side per call; the backend's link goes with the first.
  if (p->Direction() == PinDirection::Output) UnlinkPins(*p, *peer);
  else UnlinkPins(*peer, *p);
  p->ClearPeer();
  return status::kOk;
}

Status Graph::QueryMediaControl(std::shared_ptr<IMediaControl>& control) {
  if (Status s = Probe("Graph.QueryMediaControl"); Failed(s)) return s;
  control = std::shared_ptr<IMediaControl>(shared_from_this(), static_cast<IMediaControl*>(this));
  return status::kOk;
}

Status Graph::QueryMediaEvent(std::shared_ptr<IMediaEventEx>& events) {
  if (Status s = Probe("Graph.QueryMediaEvent"); Failed(s)) return s;
  events = events_;
  return status::kOk;
}

Status Graph::QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) {
  if (Status s = Probe("Graph.QueryVideoWindow"); Failed(s)) return s;
  auto r = FindKind(FilterKind::Renderer);
  if (!r) return status::kNoInterface;
  return MakeVideoWindow(r, window);
}

Status Graph::Join(const std::shared_ptr<Pin>& o, const std::shared_ptr<Pin>& i) {
  auto of = o->Owner(), inf = i->Owner();
  if (!of || !inf || of->OwnGraph().get() != this || inf->OwnGraph().get() != this) return status::kNotFound;
  if (o->Direction() != PinDirection::Output || i->Direction() != PinDirection::Input) return status::kInvalidArg;
  if (o->Peer() || i->Peer()) return status::kAlreadyConnected;
  if (state_ != GraphState::Stopped) return status::kWrongState;
  if (Status s = LinkPins(*o, *i); Failed(s)) return s;
  o->SetPeer(i);
  i->SetPeer(o);
  return status::kOk;
}

void Graph::Unjoin(const std::shared_ptr<Pin>& o, const std::shared_ptr<Pin>& i) {
  UnlinkPins(*o, *i);
  o->ClearPeer();
  i->ClearPeer();
}

Status Graph::RenderPin(const std::shared_ptr<Pin>& o) {
  auto r = MakeRenderer();
  if (!r) return status::kFail;
  Status s = AddFilter(r, "");
  if (Failed(s)) return s;
  auto in = r->FreePin(PinDirection::Input);
  s = in ? Join(o, in) : status::kCannotConnect;
  if (Failed(s)) RemoveFilter(r);
  return s;
}

void Graph::SetCaptureGate(bool open) {
  gateOpen_ = open;
  GateChanged(open);
}

Status Graph::Start(GraphState target, const char* op) {
  if (Status s = Probe(op); Failed(s)) return s;
  const bool fromStopped = state_ == GraphState::Stopped;
  if (fromStopped) {
    for (auto& f : filters_)
      if (Status s = f->Starting(); Failed(s)) {
        for (auto& g : filters_) g->Stopped();
        return s;
      }
    events_->Clear();
  }
  const Status s = StartBackend(target);
  if (Failed(s)) {
    // The backend is stopped again; so is the graph.
    state_ = GraphState::Stopped;
    for (auto& f : filters_) f->Stopped();
    return s;
  }
  state_ = target;
  return s;
}

Status Graph::Stop() {
  if (Status s = Probe("MediaControl.Stop"); Failed(s)) return s;
  if (state_ == GraphState::Stopped) return status::kOk;
  StopBackend();
  state_ = GraphState::Stopped;
  for (auto& f : filters_) f->Stopped();
  return status::kOk;
}

// --- builder

struct Builder::Undo {
  std::vector<std::pair<std::shared_ptr<Pin>, std::shared_ptr<Pin>>> joined;
  std::vector<std::shared_ptr<Filter>> added;
  std::shared_ptr<Pin> rerouteFrom, rerouteTo;  // a connection the tee was put into

  void Apply(Graph& graph) {
    for (auto it = joined.rbegin(); it != joined.rend(); ++it) graph.Unjoin(it->first, it->second);
    for (auto it = added.rbegin(); it != added.rend(); ++it) graph.RemoveFilter(*it);
    if (rerouteFrom && rerouteTo) graph.Join(rerouteFrom, rerouteTo);
  }
};

Status Builder::SetFiltergraph(const std::shared_ptr<IFilterGraph>& graph) {
  if (graph_) return status::kUnexpected;
  graph_ = std::dynamic_pointer_cast<Graph>(graph);
  return graph_ ? status::kOk : status::kPointer;
}

Status Builder::GetFiltergraph(std::shared_ptr<IFilterGraph>& graph) {
  graph = graph_;
  return graph_ ? status::kOk : status::kUnexpected;
}

std::shared_ptr<Pin> Builder::PinOf(const Filter& f, const Guid* c, const Guid* t) {
  for (auto& p : f.Pins()) {
    if (p->Direction() != PinDirection::Output) continue;
    if (c && *c != guid::kLookUpstreamOnly && p->Category() != *c) continue;
    if (t && p->Major() != *t) continue;
    return p;
  }
  return nullptr;
}

Status Builder::InsertTee(const std::shared_ptr<Pin>& capturePin, std::shared_ptr<Filter>& tee, Undo& undo) {
  if (auto peer = capturePin->Peer(); peer && peer->Owner() && peer->Owner()->Kind() == FilterKind::SmartTee) {
    tee = peer->Owner();
    return status::kOk;
  }
  // Rewiring pins is only possible in a stopped graph.
  if (graph_->State() != GraphState::Stopped) return status::kWrongState;
  tee = MakeTee();
  if (!tee) return status::kFail;
  if (Status s = graph_->AddFilter(tee, ""); Failed(s)) return s;
  undo.added.push_back(tee);
  if (auto downstream = capturePin->Peer()) {
    graph_->Unjoin(capturePin, downstream);
    undo.rerouteFrom = capturePin;
    undo.rerouteTo = downstream;
  }
  auto in = tee->FreePin(PinDirection::Input);
  if (Status s = graph_->Join(capturePin, in); Failed(s)) return s;
  undo.joined.push_back({capturePin, in});
  if (undo.rerouteTo) {
    auto out = PinOf(*tee, &guid::kPinCategoryCapture, nullptr);
    if (Status s = graph_->Join(out, undo.rerouteTo); Failed(s)) return s;
    undo.joined.push_back({out, undo.rerouteTo});
  }
  return status::kOk;
}

Status Builder::RenderStream(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& source,
                             const std::shared_ptr<IBaseFilter>& intermediate,
                             const std::shared_ptr<IBaseFilter>& sink) {
  const std::string cat = !c ? "any" : *c == guid::kPinCategoryCapture ? "capture"
                                     : *c == guid::kPinCategoryPreview ? "preview" : "other";
  const std::string type = !t ? "any" : *t == guid::kMediaTypeInterleaved ? "iavs"
                                      : *t == guid::kMediaTypeVideo ? "vids" : "other";
  if (probe_)
    if (Status s = probe_("Builder.RenderStream", cat + " " + type); Failed(s)) return s;
  if (!graph_) return status::kUnexpected;
  auto src = std::dynamic_pointer_cast<Filter>(source);
  if (!src || src->OwnGraph() != graph_) return status::kInvalidArg;

  Undo undo;
  auto fail = [&](Status s) {
    undo.Apply(*graph_);
    return s;
  };
  bool faked = false;
  std::shared_ptr<Pin> pin = PinOf(*src, c, t);
  if (!pin && c && *c == guid::kPinCategoryPreview && src->Kind() == FilterKind::Capture) {
    // No preview pin (as with USB cameras): split the capture stream with a tee.
    auto capturePin = PinOf(*src, &guid::kPinCategoryCapture, t);
    if (!capturePin) return status::kInvalidArg;
    std::shared_ptr<Filter> tee;
    if (Status s = InsertTee(capturePin, tee, undo); Failed(s)) return fail(s);
    pin = PinOf(*tee, &guid::kPinCategoryPreview, nullptr);
    faked = true;
  }
  if (!pin) return status::kInvalidArg;
  // A capture pin already feeding the tee renders through the tee's capture output.
  if (auto peer = pin->Peer(); peer && peer->Owner() && peer->Owner()->Kind() == FilterKind::SmartTee)
    pin = PinOf(*peer->Owner(), &guid::kPinCategoryCapture, nullptr);
  if (!pin || pin->Peer()) return fail(status::kAlreadyConnected);

  std::shared_ptr<Pin> from = pin;
  if (auto mid = std::dynamic_pointer_cast<Filter>(intermediate)) {
    if (!mid->OwnGraph()) {
      if (Status s = graph_->AddFilter(mid, ""); Failed(s)) return fail(s);
      undo.added.push_back(mid);
    }
    auto in = mid->FreePin(PinDirection::Input);
    if (!in) return fail(status::kCannotConnect);
    if (Status s = graph_->Join(from, in); Failed(s)) return fail(s);
    undo.joined.push_back({from, in});
    from = mid->FreePin(PinDirection::Output);
    if (!from) return fail(status::kCannotConnect);
  }
  Status s;
  if (auto to = std::dynamic_pointer_cast<Filter>(sink)) {
    auto in = to->FreePin(PinDirection::Input);
    s = in ? graph_->Join(from, in) : status::kCannotConnect;
  } else {
    s = graph_->RenderPin(from);
  }
  if (Failed(s)) return fail(s);
  return faked ? status::kPreviewFromCapture : status::kOk;
}

Status Builder::SetOutputFileName(const Guid& subtype, const std::string& path, std::shared_ptr<IBaseFilter>& mux,
                                  std::shared_ptr<IFileSinkFilter>& sink) {
  if (probe_)
    if (Status s = probe_("Builder.SetOutputFileName", path); Failed(s)) return s;
  if (subtype != guid::kSubtypeAvi || path.empty()) return status::kInvalidArg;
  if (!graph_) return status::kUnexpected;
  auto m = MakeMux();
  auto w = MakeWriter(path);
  if (!m || !w) return status::kFail;
  Status s = graph_->AddFilter(m, "");
  if (Failed(s)) return s;
  s = graph_->AddFilter(w, path);
  auto out = m->FreePin(PinDirection::Output);
  auto in = w->FreePin(PinDirection::Input);
  if (Succeeded(s)) s = out && in ? graph_->Join(out, in) : status::kCannotConnect;
  if (Failed(s)) {
    if (w->OwnGraph()) graph_->RemoveFilter(w);
    graph_->RemoveFilter(m);
    return s;
  }
  mux = m;
  sink = FileSinkOf(w);
  return status::kOk;
}

Status Builder::ControlStream(const Guid* c, const Guid*, const std::shared_ptr<IBaseFilter>&,
                              const int64_t* start, const int64_t* stop, uint16_t, uint16_t) {
  if (probe_) {
    const std::string arg = std::string(c && *c == guid::kPinCategoryPreview ? "preview" : "capture") +
                            " start=" + (start ? TimeText(start) : "now") + " stop=" + TimeText(stop);
    if (Status s = probe_("Builder.ControlStream", arg); Failed(s)) return s;
  }
  if (!graph_) return status::kUnexpected;
  // The gate sits where the capture stream enters the file; the preview always flows.
  if ((c && *c != guid::kPinCategoryCapture) || !graph_->HasKind(FilterKind::Mux)) return status::kNoInterface;
  graph_->SetCaptureGate(!(start && *start == kMaxTime));
  return status::kOk;
}

Status Builder::AllocCapFile(const std::string& path, uint64_t bytes) {
  if (probe_)
    if (Status s = probe_("Builder.AllocCapFile", path + " " + std::to_string(bytes)); Failed(s)) return s;
  return AllocateCaptureFile(path, bytes);
}

}  // namespace media::model
