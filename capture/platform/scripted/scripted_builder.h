// The scripted capture graph builder, the older builder's file copy, property bags and
// monikers.
#pragma once

#include <optional>

#include "capture/platform/capture_file.h"
#include "capture/platform/scripted/scripted_graph.h"

namespace media::scripted {

using Impl = ScriptedPlatform::Impl;

class SBuilder : public model::Builder {
public:
  explicit SBuilder(std::shared_ptr<Impl> impl)
      : Builder([weak = std::weak_ptr<Impl>(impl)](const std::string& op, const std::string& arg) {
          auto i = weak.lock();
          return i ? i->Check(op, arg) : status::kOk;
        }),
        impl_(std::move(impl)) {}

  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMStreamConfig>& out) override {
    out.reset();
    auto cap = CaptureOf(f);
    if (!cap) return status::kNoInterface;
    if (!c) {
      out = cap->captureConfig;
    } else {
      auto pin = PinOf(cap, c, t);
      if (!pin) return status::kNoInterface;
      out = pin->Category() == guid::kPinCategoryPreview
                ? std::static_pointer_cast<IAMStreamConfig>(cap->previewConfig)
                : std::static_pointer_cast<IAMStreamConfig>(cap->captureConfig);
    }
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMVideoCompression>& out) override {
    out.reset();
    auto cap = CaptureOf(f);
    if (!cap || (c && !PinOf(cap, c, t)) || (c && *c != guid::kPinCategoryCapture))
      return status::kNoInterface;
    out = cap->compression;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMDroppedFrames>& out) override {
    out.reset();
    auto cap = CaptureOf(f);
    if (!cap || (c && !PinOf(cap, c, t)) || (c && *c != guid::kPinCategoryCapture))
      return status::kNoInterface;
    out = cap->dropped;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMVfwCaptureDialogs>& out) override {
    out.reset();
    auto cap = CaptureOf(f);
    if (!cap || (c && !PinOf(cap, c, t))) return status::kNoInterface;
    out = cap->dialogs;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMCrossbar>& out) override {
    out.reset();
    if (c && *c == guid::kLookUpstreamOnly) return status::kNoInterface;
    auto cap = CaptureOf(f);
    if (!cap || (c && !PinOf(cap, c, t))) return status::kNoInterface;
    out = cap->crossbar;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IAMTVTuner>& out) override {
    out.reset();
    auto cap = CaptureOf(f);
    if (!cap || (c && !PinOf(cap, c, t))) return status::kNoInterface;
    out = cap->tuner;
    return out ? status::kOk : status::kNoInterface;
  }
  Status FindInterface(const Guid*, const Guid*, const std::shared_ptr<IBaseFilter>& f,
                       std::shared_ptr<IConfigAviMux>& out) override {
    out.reset();
    auto mux = std::dynamic_pointer_cast<SMuxFilter>(f);
    if (!mux) return status::kNoInterface;
    out = mux->config;
    return status::kOk;
  }

protected:
  std::shared_ptr<model::Filter> MakeTee() override {
    auto tee = std::make_shared<SFilter>(impl_, FilterKind::SmartTee, "Smart Tee");
    tee->AddPin(PinDirection::Input, "Input");
    tee->AddPin(PinDirection::Output, "Capture", guid::kPinCategoryCapture);
    tee->AddPin(PinDirection::Output, "Preview", guid::kPinCategoryPreview);
    return tee;
  }
  std::shared_ptr<model::Filter> MakeMux() override {
    auto m = std::make_shared<SMuxFilter>(impl_);
    m->AddPin(PinDirection::Input, "Input 01");
    m->AddPin(PinDirection::Output, "AVI Out");
    return m;
  }
  std::shared_ptr<model::Filter> MakeWriter(const std::string& path) override {
    auto w = std::make_shared<SWriterFilter>(impl_, path);
    w->AddPin(PinDirection::Input, "in");
    return w;
  }
  std::shared_ptr<IFileSinkFilter> FileSinkOf(const std::shared_ptr<model::Filter>& writer) override {
    return std::static_pointer_cast<SWriterFilter>(writer)->sink;
  }

private:
  static std::shared_ptr<SCaptureFilter> CaptureOf(const std::shared_ptr<IBaseFilter>& f) {
    return std::dynamic_pointer_cast<SCaptureFilter>(f);
  }
  static std::shared_ptr<model::Pin> PinOf(const std::shared_ptr<SFilter>& f, const Guid* c, const Guid* t) {
    return Builder::PinOf(*f, c, t);
  }

  std::shared_ptr<Impl> impl_;
};

class SOldBuilder : public ICaptureGraphBuilder {
public:
  explicit SOldBuilder(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
  Status CopyCaptureFile(const std::string& oldPath, const std::string& newPath, bool allowEscAbort,
                         const std::function<bool()>& escapePressed) override {
    if (Status s = impl_->Check("Builder.CopyCaptureFile", oldPath + " " + newPath); Failed(s))
      return s;
    std::function<bool()> abort;
    if (allowEscAbort && escapePressed) abort = escapePressed;
    return media::CopyCaptureFile(oldPath, newPath, abort);
  }

private:
  std::shared_ptr<Impl> impl_;
};

class SBag : public IPropertyBag {
public:
  SBag(std::string friendly, std::string clsid) : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
  Status Read(const std::string& name, std::string& value) override {
    const std::string& v = name == "FriendlyName" ? friendly_ : name == "CLSID" ? clsid_ : empty_;
    if (v.empty()) return status::kInvalidArg;
    value = v;
    return status::kOk;
  }

private:
  std::string friendly_, clsid_, empty_;
};

class SMoniker : public IMoniker {
public:
  SMoniker(std::shared_ptr<Impl> impl, bool compressor, std::string displayName)
      : impl_(std::move(impl)), compressor_(compressor), name_(std::move(displayName)) {}
  std::string GetDisplayName() const override { return name_; }
  Status IsEqual(const IMoniker& other) const override {
    return other.GetDisplayName() == name_ ? status::kOk : status::kFalse;
  }
  Status BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) override {
    if (compressor_) {
      const auto* c = FindCompressor();
      if (!c) return status::kFileNotFound;
      bag = std::make_shared<SBag>(c->friendlyName, "");
      return status::kOk;
    }
    const auto index = FindDevice();
    if (!index) return status::kFileNotFound;
    const auto& d = impl_->settings.devices[*index];
    bag = std::make_shared<SBag>(d.friendlyName, d.clsid);
    return status::kOk;
  }
  Status BindToFilter(std::shared_ptr<IBaseFilter>& filter) override {
    if (compressor_) {
      const auto* c = FindCompressor();
      impl_->Log("Moniker.BindToFilter " + (c ? c->friendlyName : name_));
      if (!c) return status::kFileNotFound;
      if (Failed(c->bindStatus)) return c->bindStatus;
      auto f = std::make_shared<SFilter>(impl_, FilterKind::Compressor, c->friendlyName);
      f->AddPin(PinDirection::Input, "Input");
      f->AddPin(PinDirection::Output, "Output");
      filter = f;
      return status::kOk;
    }
    const auto index = FindDevice();
    impl_->Log("Moniker.BindToFilter " + (index ? impl_->settings.devices[*index].friendlyName : name_));
    if (!index || impl_->DeviceLost(*index)) return status::kFileNotFound;
    const auto& d = impl_->settings.devices[*index];
    if (Failed(d.bindStatus)) return d.bindStatus;
    auto f = std::make_shared<SCaptureFilter>(impl_, *index);
    f->MakePins();
    filter = f;
    return status::kOk;
  }

private:
  std::optional<size_t> FindDevice() const {
    for (size_t i = 0; i < impl_->settings.devices.size(); ++i)
      if (impl_->settings.devices[i].displayName == name_) return i;
    return std::nullopt;
  }
  const ScriptedCompressor* FindCompressor() const {
    for (const auto& c : impl_->settings.compressors)
      if (c.displayName == name_) return &c;
    return nullptr;
  }
  std::shared_ptr<Impl> impl_;
  bool compressor_;
  std::string name_;
};


}  // namespace media::scripted
