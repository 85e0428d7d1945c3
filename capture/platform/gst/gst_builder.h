// The capture graph builder of the GStreamer backend, and the older builder's file copy.
#pragma once

#include "capture/platform/capture_file.h"
#include "capture/platform/gst/gst_avi_output.h"
#include "capture/platform/gst/gst_capture_filter.h"
#include "capture/platform/gst/gst_compressor.h"
#include "capture/platform/gst/gst_graph.h"

namespace media::gst {

using namespace gsth;

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

}  // namespace media::gst
