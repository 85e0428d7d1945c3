// The capture graph builder of the GStreamer backend, and the older builder's file copy.
#pragma once

#include "capture/platform/capture_file.h"
#include "capture/platform/gst/gst_avi_output.h"
#include "capture/platform/gst/gst_capture_filter.h"
#include "capture/platform/gst/gst_compressor.h"
#include "capture/platform/gst/gst_graph.h"
#include "capture/platform/gst/gst_inputs.h"

namespace media::gst {

using namespace gsth;

class GBuilder : public model::Builder {
public:
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMStreamConfig>& out) override {
    out.reset();
    auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f);
    if (!cap || !HasPin(cap, c, t) || (c && *c == guid::kPinCategoryPreview)) return status::kNoInterface;
    out = cap->Config();
    return status::kOk;
  }
  // Capture pins here carry no compression information or driver dialogs.
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMVideoCompression>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMDroppedFrames>& out) override {
    out.reset();
    auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f);
    if (!cap || !HasPin(cap, c, t) || (c && *c != guid::kPinCategoryCapture)) return status::kNoInterface;
    auto g = std::static_pointer_cast<GGraph>(cap->OwnGraph());
    if (!g) return status::kNoInterface;
    out = std::make_shared<GDroppedFrames>(g->counters);
    return status::kOk;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>&,
                       std::shared_ptr<IAMVfwCaptureDialogs>& out) override {
    out.reset();
    return status::kNoInterface;
  }
  // A device's inputs and norms, from its V4L2 node, on its capture pin.
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMCrossbar>& out) override {
    auto cap = CapturePinOwner(c, t, f);
    out = cap ? GCrossbar::For(cap->OpenInputs()) : nullptr;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMTVTuner>& out) override {
    auto cap = CapturePinOwner(c, t, f);
    out = cap ? GTuner::For(cap->OpenInputs()) : nullptr;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IConfigAviMux>& out) override {
    out.reset();
    auto mux = std::dynamic_pointer_cast<GMuxFilter>(f);
    if (!mux) return status::kNoInterface;
    out = mux->config;
    return status::kOk;
  }


protected:
  std::shared_ptr<model::Filter> MakeTee() override {
    auto tee = std::make_shared<GSmartTeeFilter>();
    tee->Init();
    return tee;
  }
  std::shared_ptr<model::Filter> MakeMux() override {
    auto m = std::make_shared<GMuxFilter>();
    return m->Init() ? m : nullptr;
  }
  std::shared_ptr<model::Filter> MakeWriter(const std::string& path) override {
    auto w = std::make_shared<GWriterFilter>(path);
    return w->Init() ? w : nullptr;
  }
  std::shared_ptr<IFileSinkFilter> FileSinkOf(const std::shared_ptr<model::Filter>& writer) override {
    return std::static_pointer_cast<GWriterFilter>(writer)->sink;
  }

private:
  // Every pin here carries plain video: interleaved (DV) streams do not exist.
  static bool HasPin(const std::shared_ptr<GFilter>& f, const Guid* c, const Guid* t) {
    return PinOf(*f, c, t) != nullptr;
  }
  static std::shared_ptr<GCaptureFilter> CapturePinOwner(const Guid* c, const Guid* t,
                                                         const std::shared_ptr<IBaseFilter>& f) {
    auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f);
    if (!cap || !HasPin(cap, c, t) || (c && *c != guid::kPinCategoryCapture)) return nullptr;
    return cap;
  }
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
