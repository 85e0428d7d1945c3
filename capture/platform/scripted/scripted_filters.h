// Filters, pins and the facilities the scripted devices offer (stream configuration, driver
// dialogs, compression information, dropped frames, crossbar, tuner), the AVI output, the
// renderer and the sample grabber.
#pragma once

#include <algorithm>
#include <cstdlib>

#include "capture/platform/scripted/scripted_impl.h"

namespace media::scripted {

using Impl = ScriptedPlatform::Impl;

class SPin : public model::Pin {
public:
  using Pin::Pin;
  Status ConnectionMediaType(MediaType& type) override {
    if (!Peer()) return status::kNotConnected;
    type = type_;
    return status::kOk;
  }
  void SetType(const MediaType& type) { type_ = type; }

private:
  MediaType type_;
};

class SFilter : public model::Filter {
public:
  SFilter(std::shared_ptr<Impl> impl, FilterKind kind, std::string defaultName)
      : Filter(kind, std::move(defaultName)), impl_(std::move(impl)) {}

  Status GetPages(PropertyPageList& pages) override {
    pages.pages.assign(size_t(std::max(0, pageCount_)), guid::kFormatVideoInfo);
    return pageCount_ > 0 ? status::kOk : status::kNoInterface;
  }
  void AddPin(PinDirection dir, std::string name, Guid category = {}, Guid major = guid::kMediaTypeVideo) {
    Filter::AddPin(std::make_shared<SPin>(weak_from_this(), dir, std::move(name), category, major));
  }
  // Media type this filter puts out (what its input received, for pass-through filters).
  virtual MediaType OutputType(const model::Pin&) const {
    for (auto& p : Pins())
      if (p->Direction() == PinDirection::Input && p->Peer()) {
        MediaType t;
        p->ConnectionMediaType(t);
        return t;
      }
    return MediaType{};
  }

  int pageCount_ = 0;

protected:
  std::shared_ptr<Impl> impl_;
};

class SStreamConfig : public IAMStreamConfig {
public:
  SStreamConfig(std::shared_ptr<Impl> impl, size_t device, int pages)
      : impl_(std::move(impl)), device_(device), pages_(pages) {
    const auto& d = impl_->settings.devices[device];
    if (!d.capabilities.empty()) {
      const auto& c = d.capabilities[size_t(std::clamp<int>(d.currentCapability, 0,
                                                            int(d.capabilities.size()) - 1))];
      current_ = MakeVideoMediaType(c.subtype, c.width, c.height, c.bitCount, c.compression,
                                    c.avgTimePerFrame);
    }
  }
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.assign(size_t(std::max(0, pages_)), guid::kFormatVideoInfo);
    return pages_ > 0 ? status::kOk : status::kNoInterface;
  }
  Status GetFormat(MediaType& type) override {
    if (Status s = impl_->Check("StreamConfig.GetFormat"); Failed(s)) return s;
    type = current_;
    return status::kOk;
  }
  Status SetFormat(const MediaType& type) override {
    std::string arg;
    if (type.IsVideoInfo()) {
      const auto& b = type.videoInfo->bmiHeader;
      arg = std::to_string(b.biWidth) + "x" + std::to_string(b.biHeight) + " " +
            std::to_string(type.videoInfo->AvgTimePerFrame);
    }
    if (Status s = impl_->Check("StreamConfig.SetFormat", arg); Failed(s)) return s;
    if (!type.IsVideoInfo()) return status::kInvalidMediaType;
    // As a driver does: only a subtype and size it lists.
    const auto& b = type.videoInfo->bmiHeader;
    const bool listed = std::any_of(Caps().begin(), Caps().end(), [&](const ScriptedCapability& c) {
      return c.subtype == type.subtype && c.width == b.biWidth && c.height == std::abs(b.biHeight);
    });
    if (!listed) return status::kInvalidMediaType;
    current_ = type;
    return status::kOk;
  }
  Status GetNumberOfCapabilities(int& count, int& size) override {
    count = int(Caps().size());
    size = kStreamConfigCapsSize;
    return status::kOk;
  }
  Status GetStreamCaps(int index, MediaType& type, VideoStreamConfigCaps& caps) override {
    const auto& list = Caps();
    if (index < 0 || size_t(index) >= list.size()) return status::kInvalidArg;
    const auto& c = list[size_t(index)];
    type = MakeVideoMediaType(c.subtype, c.width, c.height, c.bitCount, c.compression,
                              c.avgTimePerFrame);
    caps = VideoStreamConfigCaps{};
    caps.guid = guid::kFormatVideoInfo;
    caps.inputWidth = caps.minOutputWidth = caps.maxOutputWidth = c.width;
    caps.inputHeight = caps.minOutputHeight = caps.maxOutputHeight = c.height;
    caps.minFrameInterval = caps.maxFrameInterval = c.avgTimePerFrame;
    return status::kOk;
  }
  const MediaType& Current() const { return current_; }

private:
  const std::vector<ScriptedCapability>& Caps() const {
    return impl_->settings.devices[device_].capabilities;
  }
  std::shared_ptr<Impl> impl_;
  size_t device_;
  int pages_;
  MediaType current_;
};

class SDialogs : public IAMVfwCaptureDialogs {
public:
  SDialogs(std::shared_ptr<Impl> impl, size_t device) : impl_(std::move(impl)), device_(device) {}
  Status HasDialog(int which) override {
    return (impl_->settings.devices[device_].driverDialogs & which) ? status::kOk : status::kFalse;
  }
  Status ShowDialog(int which, OwnerWindow) override {
    const auto& d = impl_->settings.devices[device_];
    impl_->Log("Dialog.Show " + d.friendlyName + " " + std::to_string(which));
    if (!(d.driverDialogs & which)) return status::kInvalidArg;
    return which == dialog::kFormat ? d.formatDialogResult : status::kOk;
  }

private:
  std::shared_ptr<Impl> impl_;
  size_t device_;
};

class SCompression : public IAMVideoCompression {
public:
  SCompression(std::shared_ptr<Impl> impl, size_t device) : impl_(std::move(impl)), device_(device) {}
  Status GetInfo(std::string& version, int versionMax, std::string& description,
                 int descriptionMax) override {
    const auto& d = impl_->settings.devices[device_];
    auto cut = [](const std::string& s, int max) {
      return max <= 0 ? std::string() : CutToChars(s, size_t(max - 1));
    };
    version = cut(d.compressionVersion, versionMax);
    description = cut(d.compressionDescription, descriptionMax);
    return status::kOk;
  }

private:
  std::shared_ptr<Impl> impl_;
  size_t device_;
};

struct Counters {
  long delivered = 0;
  long dropped = 0;
  long seen = 0;
};

class SDropped : public IAMDroppedFrames {
public:
  SDropped(std::shared_ptr<Impl> impl, size_t device, std::shared_ptr<Counters> counters,
           std::shared_ptr<SStreamConfig> config)
      : impl_(std::move(impl)), device_(device), counters_(std::move(counters)),
        config_(std::move(config)) {}
  Status GetNumDropped(long& dropped) override {
    dropped = counters_->dropped;
    return status::kOk;
  }
  Status GetNumNotDropped(long& delivered) override {
    delivered = counters_->delivered;
    return status::kOk;
  }
  Status GetAverageFrameSize(long& bytes) override {
    const long set = impl_->settings.devices[device_].averageFrameSize;
    if (set > 0) bytes = set;
    else if (config_ && config_->Current().IsVideoInfo())
      bytes = long(config_->Current().videoInfo->bmiHeader.biSizeImage);
    else bytes = 0;
    return status::kOk;
  }

private:
  std::shared_ptr<Impl> impl_;
  size_t device_;
  std::shared_ptr<Counters> counters_;
  std::shared_ptr<SStreamConfig> config_;
};

class SCrossbar : public IAMCrossbar {
public:
  explicit SCrossbar(int pages) : pages_(pages) {}
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.assign(size_t(std::max(0, pages_)), guid::kFormatVideoInfo);
    return pages_ > 0 ? status::kOk : status::kNoInterface;
  }
  // A driver-side crossbar, not a filter in the graph: no second crossbar behind it.
  std::shared_ptr<IBaseFilter> AsFilter() override { return nullptr; }

private:
  int pages_;
};

class STuner : public IAMTVTuner {
public:
  explicit STuner(int pages) : pages_(pages) {}
  Status GetPages(PropertyPageList& pages) override {
    pages.pages.assign(size_t(std::max(0, pages_)), guid::kFormatVideoInfo);
    return pages_ > 0 ? status::kOk : status::kNoInterface;
  }

private:
  int pages_;
};

class SCaptureFilter : public SFilter {
public:
  SCaptureFilter(std::shared_ptr<Impl> impl, size_t device)
      : SFilter(impl, FilterKind::Capture, impl->settings.devices[device].friendlyName), device_(device) {
    const auto& d = impl_->settings.devices[device];
    pageCount_ = d.filterPages;
    counters = std::make_shared<Counters>();
    if (d.hasStreamConfig) {
      captureConfig = std::make_shared<SStreamConfig>(impl_, device, d.capturePinPages);
      if (d.hasPreviewPin)
        previewConfig = std::make_shared<SStreamConfig>(impl_, device, d.previewPinPages);
    }
    if (d.driverDialogs) dialogs = std::make_shared<SDialogs>(impl_, device);
    if (d.hasCompression) compression = std::make_shared<SCompression>(impl_, device);
    if (d.hasDroppedFrames) dropped = std::make_shared<SDropped>(impl_, device, counters, captureConfig);
    if (d.hasCrossbar) crossbar = std::make_shared<SCrossbar>(d.crossbarPages);
    if (d.hasTuner) tuner = std::make_shared<STuner>(d.tunerPages);
  }
  void MakePins() {
    const auto& d = impl_->settings.devices[device_];
    AddPin(PinDirection::Output, "Capture", guid::kPinCategoryCapture,
           d.hasInterleavedPin ? guid::kMediaTypeInterleaved : guid::kMediaTypeVideo);
    if (d.hasPreviewPin)
      AddPin(PinDirection::Output, "Preview", guid::kPinCategoryPreview, guid::kMediaTypeVideo);
  }
  MediaType OutputType(const model::Pin& pin) const override {
    if (pin.Category() == guid::kPinCategoryPreview && previewConfig) return previewConfig->Current();
    if (captureConfig) return captureConfig->Current();
    const auto& c = impl_->settings.devices[device_].capabilities;
    return c.empty() ? MediaType{}
                     : MakeVideoMediaType(c[0].subtype, c[0].width, c[0].height, c[0].bitCount,
                                          c[0].compression, c[0].avgTimePerFrame);
  }
  size_t DeviceIndex() const { return device_; }

  std::shared_ptr<SStreamConfig> captureConfig, previewConfig;
  std::shared_ptr<SDialogs> dialogs;
  std::shared_ptr<SCompression> compression;
  std::shared_ptr<SDropped> dropped;
  std::shared_ptr<SCrossbar> crossbar;
  std::shared_ptr<STuner> tuner;
  std::shared_ptr<Counters> counters;

private:
  size_t device_;
};

class SAviMux : public IConfigAviMux {
public:
  explicit SAviMux(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
  Status SetOutputCompatibilityIndex(bool on) override {
    impl_->Log(std::string("AviMux.SetOutputCompatibilityIndex ") + (on ? "1" : "0"));
    compatibilityIndex = on;
    return status::kOk;
  }
  Status SetMasterStream(long stream) override {
    impl_->Log("AviMux.SetMasterStream " + std::to_string(stream));
    return status::kOk;
  }
  bool compatibilityIndex = false;

private:
  std::shared_ptr<Impl> impl_;
};

class SFileSink : public IFileSinkFilter {
public:
  SFileSink(std::shared_ptr<Impl> impl, std::string path) : impl_(std::move(impl)), path_(std::move(path)) {}
  Status SetFileName(const std::string& path) override {
    impl_->Log("FileSink.SetFileName " + path);
    if (path.empty()) return status::kInvalidArg;
    path_ = path;
    return status::kOk;
  }
  Status GetCurFile(std::string& path) override {
    path = path_;
    return status::kOk;
  }

private:
  std::shared_ptr<Impl> impl_;
  std::string path_;
};

class SMuxFilter : public SFilter {
public:
  explicit SMuxFilter(std::shared_ptr<Impl> impl)
      : SFilter(impl, FilterKind::Mux, "AVI Mux"), config(std::make_shared<SAviMux>(impl)) {}
  std::shared_ptr<SAviMux> config;
};

class SWriterFilter : public SFilter {
public:
  SWriterFilter(std::shared_ptr<Impl> impl, std::string path)
      : SFilter(impl, FilterKind::FileWriter, "File Writer"),
        sink(std::make_shared<SFileSink>(impl, std::move(path))) {}
  std::shared_ptr<SFileSink> sink;
};

class SRendererFilter : public SFilter {
public:
  explicit SRendererFilter(std::shared_ptr<Impl> impl) : SFilter(impl, FilterKind::Renderer, "Video Renderer") {}
  ScriptedPlatform::VideoWindowState window;
};

class SGrabberFilter;

class SGrabber : public ISampleGrabber {
public:
  SGrabber(std::shared_ptr<Impl> impl, std::shared_ptr<SGrabberFilter> filter)
      : impl_(std::move(impl)), filter_(std::move(filter)) {}
  std::shared_ptr<IBaseFilter> Filter() override;
  Status SetBufferSamples(bool on) override;
  Status GetCurrentBufferSize(int32_t& size) override;
  Status GetCurrentBuffer(int32_t& size, uint8_t* buffer) override;
  Status GetConnectedMediaType(MediaType& type) override;

private:
  std::shared_ptr<Impl> impl_;
  std::shared_ptr<SGrabberFilter> filter_;
};

class SGrabberFilter : public SFilter {
public:
  explicit SGrabberFilter(std::shared_ptr<Impl> impl) : SFilter(impl, FilterKind::Grabber, "SampleGrabber") {}
  bool buffering = false;
  std::vector<uint8_t> frame;
  bool hasFrame = false;
};

}  // namespace media::scripted
