#include "capture/platform/gst/gst_graph.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gst/video/video.h>

#include "capture/platform/gst/gst_avi_output.h"
#include "capture/platform/gst/gst_errors.h"
#include "capture/platform/gst/gst_renderer.h"

namespace media::gst {

using namespace gsth;
using model::FilterKind;
using model::GraphState;

GGraph::GGraph() : counters(std::make_shared<CaptureCounters>()) {
  static std::atomic<unsigned> serial{0};
  char name[64];
  // The name the system gives a playing graph; dumped as DOT with GST_DEBUG_DUMP_DOT_DIR.
  std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x", serial++, unsigned(::getpid()));
  pipeline_ = Sink(gst_pipeline_new(name));
  bus_ = Own(gst_element_get_bus(pipeline_.get()));
}

void GGraph::Init() {
  std::weak_ptr<GGraph> weak = std::static_pointer_cast<GGraph>(shared_from_this());
  SetEventPull([weak] {
    if (auto g = weak.lock()) g->Drain(false);
  });
  watch_ = std::make_unique<gstqt::BusWatch>(bus_.get(), [weak] {
    if (auto g = weak.lock()) g->Drain(true);
  });
}

GGraph::~GGraph() {
  // Whatever way the program leaves, a file being written gets its index and header.
  if (State() != GraphState::Stopped && Writing()) FinishFile();
  watch_.reset();
  Events()->DetachPull();
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  for (auto& f : Filters()) {
    auto g = std::static_pointer_cast<GFilter>(f);
    gst_bin_remove(GST_BIN(pipeline_.get()), g->Bin());
    g->Stopped();
    g->Attached(nullptr);
  }
}

bool GGraph::Writing() const { return HasKind(FilterKind::Mux); }

Status GGraph::AttachFilter(model::Filter& f) {
  auto& g = static_cast<GFilter&>(f);
  if (!gst_bin_add(GST_BIN(pipeline_.get()), g.Bin())) return status::kFail;
  g.Attached(counters);
  return status::kOk;
}

void GGraph::DetachFilter(model::Filter& f) {
  auto& g = static_cast<GFilter&>(f);
  gst_element_set_state(g.Bin(), GST_STATE_NULL);
  gst_bin_remove(GST_BIN(pipeline_.get()), g.Bin());
  g.Stopped();
  g.Attached(nullptr);
}

Status GGraph::LinkPins(model::Pin& out, model::Pin& in) {
  auto& o = static_cast<GPin&>(out);
  auto& i = static_cast<GPin&>(in);
  return gst_pad_link(o.Pad(), i.Pad()) == GST_PAD_LINK_OK ? status::kOk : status::kCannotConnect;
}

void GGraph::UnlinkPins(model::Pin& out, model::Pin& in) {
  auto& o = static_cast<GPin&>(out);
  auto& i = static_cast<GPin&>(in);
  if (gst_pad_is_linked(o.Pad())) gst_pad_unlink(o.Pad(), i.Pad());
}

std::shared_ptr<model::Filter> GGraph::MakeRenderer() {
  auto r = std::make_shared<GRendererFilter>();
  r->Init();
  return r;
}

Status GGraph::MakeVideoWindow(const std::shared_ptr<model::Filter>& renderer,
                               std::shared_ptr<IVideoWindow>& window) {
  window = std::make_shared<GVideoWindow>(std::static_pointer_cast<GRendererFilter>(renderer));
  return status::kOk;
}

Status GGraph::StartBackend(GraphState target) {
  if (State() == GraphState::Stopped) {
    counters->Reset();
    errorSeen_ = false;
    finishing_ = false;
    failed_.reset();
    lostReported_.clear();
  }
  const GstState want = target == GraphState::Running ? GST_STATE_PLAYING : GST_STATE_PAUSED;
  GstStateChangeReturn r = gst_element_set_state(pipeline_.get(), want);
  // A change that completes later counts once it completed (bounded wait); one that fails
  // meanwhile (a preroll refused) fails the start as a change refused at once does.
  if (r == GST_STATE_CHANGE_ASYNC) r = gst_element_get_state(pipeline_.get(), nullptr, nullptr, kStartTimeout);
  if (r == GST_STATE_CHANGE_FAILURE) {
    const Status why = FailureFromBus();
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    counters->running = false;
    return why;
  }
  counters->running = target == GraphState::Running;
  if (const char* dir = std::getenv("GST_DEBUG_DUMP_DOT_DIR"); dir && *dir)
    GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(pipeline_.get()), GST_DEBUG_GRAPH_SHOW_ALL, GST_ELEMENT_NAME(pipeline_.get()));
  return r == GST_STATE_CHANGE_ASYNC ? status::kFalse : status::kOk;
}

void GGraph::StopBackend() {
  if (State() == GraphState::Running && Writing()) FinishFile();
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  Drain(false);  // errors seen while stopping still reach the event loop
  counters->running = false;
  Events()->Signal();
}

void GGraph::GateChanged(bool open) {
  if (open && !counters->gateOpen) {
    counters->Reset();  // counts start now
    counters->awaitKeyFrame = true;
    // Ask the encoder, if there is one, for a key frame now rather than at its next interval.
    if (auto mux = std::static_pointer_cast<GFilter>(FindKind(FilterKind::Mux)))
      if (auto in = mux->GPinNamed("Input 01"))
        gst_pad_push_event(in->Pad(), gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
  }
  counters->gateOpen = open;
}

// Why a state change failed: the error the element posted (kept off the event queue, the
// caller gets it as the status). An error posted on a streaming thread fails a pending change
// a moment before the message reaches the bus, so it is waited for briefly. Errors after the
// first follow from it (the stream it stopped): the first names the cause.
Status GGraph::FailureFromBus() {
  MessageRef first{gst_bus_timed_pop_filtered(bus_.get(), kErrorGrace, GST_MESSAGE_ERROR)};
  if (!first) return status::kFail;
  const Status why = Translate(first.get(), nullptr, nullptr);
  while (MessageRef m{gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR)}) Translate(m.get(), nullptr, nullptr);
  return why;
}

// End the file properly so the muxer writes its index and header counts: end of stream
// through the graph; after an error, into the branch behind the failed element (frames still
// inside a compressor are written), and at last straight into the muxer.
void GGraph::FinishFile() {
  finishing_ = true;
  if (!errorSeen_) {
    gst_element_send_event(pipeline_.get(), gst_event_new_eos());
    if (WaitFileEnd(kFinishTimeout)) return;
  }
  for (auto& pin : BranchBehind(failed_.lock())) gst_pad_send_event(pin->Pad(), gst_event_new_eos());
  if (WaitFileEnd(GST_SECOND)) return;
  if (auto mux = std::static_pointer_cast<GFilter>(FindKind(FilterKind::Mux)))
    if (auto in = mux->GPinNamed("Input 01")) gst_pad_send_event(in->Pad(), gst_event_new_eos());
  WaitFileEnd(GST_SECOND / 2);
}

// The input pins right behind `failed` (the capture filter when unknown): end of stream sent
// there drains every element between them and the file.
std::vector<std::shared_ptr<GPin>> GGraph::BranchBehind(const std::shared_ptr<GFilter>& failed) const {
  std::shared_ptr<model::Filter> from = failed;
  if (!from || from->Kind() == FilterKind::Mux || from->Kind() == FilterKind::FileWriter)
    from = FindKind(FilterKind::Capture);
  std::vector<std::shared_ptr<GPin>> pins;
  if (!from) return pins;
  for (auto& p : from->Pins())
    if (p->Direction() == PinDirection::Output)
      if (auto peer = p->Peer()) pins.push_back(std::static_pointer_cast<GPin>(peer));
  return pins;
}

// Waits until the writer has seen end of stream (it posts kFileFinished) or the pipeline
// reports it; errors meanwhile are queued.
bool GGraph::WaitFileEnd(GstClockTime timeout) {
  const GstClockTime until = gst_util_get_timestamp() + timeout;
  for (;;) {
    const GstClockTime now = gst_util_get_timestamp();
    if (now >= until) return false;
    MessageRef m{gst_bus_timed_pop_filtered(
        bus_.get(), until - now, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_APPLICATION))};
    if (!m) return false;
    if (GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_EOS) return true;
    if (GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_APPLICATION) {
      const GstStructure* s = gst_message_get_structure(m.get());
      if (s && gst_structure_has_name(s, kFileFinished)) return true;
      continue;
    }
    Handle(m.get());
  }
}

void GGraph::Drain(bool signal) {
  bool any = false;
  while (MessageRef m{gst_bus_pop(bus_.get())}) any |= Handle(m.get());
  if (any && signal) Events()->Signal();
}

// Bus message -> graph event (queued without notification). Returns whether one was queued.
bool GGraph::Handle(GstMessage* m) {
  switch (GST_MESSAGE_TYPE(m)) {
    case GST_MESSAGE_ERROR: {
      std::shared_ptr<GFilter> from;
      bool lost = false;
      const Status s = Translate(m, &from, &lost);
      if (!errorSeen_) failed_ = from;
      errorSeen_ = true;
      if (lost) {
        if (!FirstLoss(from)) return false;
        Events()->Queue(GraphEvent{event::kDeviceLost, 0, 0, from}, false);
      } else {
        Events()->Queue(GraphEvent{event::kErrorAbort, s, 0, nullptr}, false);
      }
      return true;
    }
    case GST_MESSAGE_EOS:
      // Only a stream that ended by itself is complete: not the end we sent to finish a
      // file, nor the one a source pushes after failing.
      if (errorSeen_ || finishing_) return false;
      Events()->Queue(GraphEvent{event::kComplete, 0, 0, nullptr}, false);
      return true;
    default:
      return false;
  }
}

void GGraph::QueueDeviceLost(const std::shared_ptr<GFilter>& filter) {
  if (!FirstLoss(filter)) return;
  Events()->Queue(GraphEvent{event::kDeviceLost, 0, 0, filter});
}

// A vanished camera shows up twice (its stream fails and the monitor reports it gone): the
// capture code hears about it once per run.
bool GGraph::FirstLoss(const std::shared_ptr<IBaseFilter>& f) {
  if (std::find(lostReported_.begin(), lostReported_.end(), f.get()) != lostReported_.end()) return false;
  lostReported_.push_back(f.get());
  return true;
}

Status GGraph::Translate(GstMessage* m, std::shared_ptr<GFilter>* fromOut, bool* deviceLost) {
  GError* e = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(m, &e, &debug);
  ErrorRef err(e);
  CharRef dbg(debug);
  GstObject* src = GST_MESSAGE_SRC(m);
  std::shared_ptr<GFilter> from;
  for (auto& f : Filters()) {
    auto g = std::static_pointer_cast<GFilter>(f);
    if (src && (src == GST_OBJECT(g->Bin()) || gst_object_has_as_ancestor(src, GST_OBJECT(g->Bin())))) from = g;
  }
  if (fromOut) *fromOut = from;
  Warn(src ? GST_OBJECT_NAME(src) : "pipeline", err ? err->message : "error");
  if (!err) return status::kFail;
  if (err->domain == GST_RESOURCE_ERROR) {
    // A camera that vanished mid-stream: the framework's "device lost".
    if (deviceLost && from && from->Kind() == FilterKind::Capture &&
        (err->code == GST_RESOURCE_ERROR_NOT_FOUND || err->code == GST_RESOURCE_ERROR_READ)) {
      *deviceLost = true;
      return status::kFail;
    }
  }
  return StatusOfError(*err, dbg.get(), from && from->Kind() == FilterKind::Capture);
}

}  // namespace media::gst
