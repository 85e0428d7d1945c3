#include "capture/platform/scripted/scripted_platform.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <deque>

#include "capture/platform/capture_file.h"

namespace media {

namespace {

enum class Kind { Capture, Grabber, Renderer, Mux, FileWriter, Compressor, SmartTee };

class SFilter;
class SGraph;

std::string Hex(Status s) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", unsigned(s));
  return text;
}

}  // namespace

struct ScriptedPlatform::Impl : std::enable_shared_from_this<ScriptedPlatform::Impl> {
  ScriptedSettings settings;
  uint32_t clockMs = 0;
  std::vector<std::string> log;
  std::function<void()> deviceChange;
  std::vector<std::weak_ptr<SGraph>> graphs;
  std::vector<bool> lost;
  uint64_t frameNumber = 0;

  void Log(std::string line) { log.push_back(std::move(line)); }
  // The failure switch of an operation (kOk when none). Logs the call either way.
  Status Check(const std::string& op, const std::string& arg = {}) {
    Log(arg.empty() ? op : op + " " + arg);
    auto it = settings.fail.find(op);
    return it == settings.fail.end() ? status::kOk : it->second;
  }
  bool DeviceLost(size_t index) const { return index < lost.size() && lost[index]; }
  const ScriptedDevice* Device(size_t index) const {
    return index < settings.devices.size() ? &settings.devices[index] : nullptr;
  }
};

namespace {

using Impl = ScriptedPlatform::Impl;

// Runs `fn` on the UI thread later when an event loop exists, at once otherwise.
void Post(std::function<void()> fn) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  else
    fn();
}

class SPin : public IPin {
public:
  SPin(std::weak_ptr<SFilter> owner, PinDirection dir, std::string name, Guid category,
       Guid major)
      : owner_(std::move(owner)), dir_(dir), name_(std::move(name)), category_(category),
        major_(major) {}
  PinDirection Direction() const override { return dir_; }
  Status QueryPinInfo(PinInfo& info) override;
  Status ConnectedTo(std::shared_ptr<IPin>& other) override {
    other = connected_.lock();
    return other ? status::kOk : status::kNotConnected;
  }
  Status ConnectionMediaType(MediaType& type) override {
    if (connected_.expired()) return status::kNotConnected;
    type = type_;
    return status::kOk;
  }
  Guid Category() const override { return category_; }

  std::shared_ptr<SFilter> Owner() const { return owner_.lock(); }
  const std::string& PinName() const { return name_; }
  Guid Major() const { return major_; }
  std::shared_ptr<SPin> Peer() const { return connected_.lock(); }
  void SetPeer(const std::shared_ptr<SPin>& peer, const MediaType& type) {
    connected_ = peer;
    type_ = type;
  }
  void ClearPeer() { connected_.reset(); }

private:
  std::weak_ptr<SFilter> owner_;
  PinDirection dir_;
  std::string name_;
  Guid category_;
  Guid major_;
  std::weak_ptr<SPin> connected_;
  MediaType type_;
};

class SStreamConfig;
class SDialogs;
class SCompression;
class SDropped;
class SCrossbar;
class STuner;
class SAviMux;
class SFileSink;

class SFilter : public IBaseFilter, public std::enable_shared_from_this<SFilter> {
public:
  SFilter(std::shared_ptr<Impl> impl, Kind kind, std::string defaultName)
      : impl_(std::move(impl)), kind_(kind), defaultName_(std::move(defaultName)) {}

  Status GetPages(PropertyPageList& pages) override {
    pages.pages.assign(size_t(std::max(0, pageCount_)), guid::kFormatVideoInfo);
    return pageCount_ > 0 ? status::kOk : status::kNoInterface;
  }
  std::vector<std::shared_ptr<IPin>> EnumPins() override {
    return {pins_.begin(), pins_.end()};
  }
  std::string Name() const override { return graph_.expired() ? std::string() : name_; }
  std::shared_ptr<IFilterGraph> Graph() const override;

  Kind FilterKind() const { return kind_; }
  const std::string& DefaultName() const { return defaultName_; }
  void SetGraph(const std::shared_ptr<SGraph>& g, std::string name) {
    graph_ = g;
    name_ = std::move(name);
  }
  void LeaveGraph() {
    graph_.reset();
    name_.clear();
  }
  std::shared_ptr<SGraph> OwnGraph() const { return graph_.lock(); }
  const std::vector<std::shared_ptr<SPin>>& Pins() const { return pins_; }
  std::shared_ptr<SPin> PinNamed(const std::string& n) const {
    for (auto& p : pins_)
      if (p->PinName() == n) return p;
    return nullptr;
  }
  void AddPin(PinDirection dir, std::string name, Guid category = {},
              Guid major = guid::kMediaTypeVideo) {
    pins_.push_back(std::make_shared<SPin>(weak_from_this(), dir, std::move(name), category, major));
  }
  // Media type this filter puts out (what its input received, for pass-through filters).
  virtual MediaType OutputType(const SPin& pin) const {
    for (auto& p : pins_)
      if (p->Direction() == PinDirection::Input && p->Peer()) {
        MediaType t;
        p->ConnectionMediaType(t);
        return t;
      }
    (void)pin;
    return MediaType{};
  }

  int pageCount_ = 0;

protected:
  std::shared_ptr<Impl> impl_;

private:
  Kind kind_;
  std::string defaultName_;
  std::string name_;
  std::weak_ptr<SGraph> graph_;
  std::vector<std::shared_ptr<SPin>> pins_;
};

Status SPin::QueryPinInfo(PinInfo& info) {
  info.filter = owner_.lock();
  info.direction = dir_;
  info.name = name_;
  return info.filter ? status::kOk : status::kFail;
}

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
      return max <= 0 ? std::string() : s.substr(0, size_t(max - 1));
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
      : SFilter(impl, Kind::Capture, impl->settings.devices[device].friendlyName), device_(device) {
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
  MediaType OutputType(const SPin& pin) const override {
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
  bool captureGateOn = true;

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
      : SFilter(impl, Kind::Mux, "AVI Mux"), config(std::make_shared<SAviMux>(impl)) {}
  std::shared_ptr<SAviMux> config;
};

class SWriterFilter : public SFilter {
public:
  SWriterFilter(std::shared_ptr<Impl> impl, std::string path)
      : SFilter(impl, Kind::FileWriter, "File Writer"),
        sink(std::make_shared<SFileSink>(impl, std::move(path))) {}
  std::shared_ptr<SFileSink> sink;
};

class SRendererFilter : public SFilter {
public:
  explicit SRendererFilter(std::shared_ptr<Impl> impl) : SFilter(impl, Kind::Renderer, "Video Renderer") {}
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
  explicit SGrabberFilter(std::shared_ptr<Impl> impl) : SFilter(impl, Kind::Grabber, "SampleGrabber") {}
  bool buffering = false;
  std::vector<uint8_t> frame;
  bool hasFrame = false;
};

std::shared_ptr<IBaseFilter> SGrabber::Filter() { return filter_; }
Status SGrabber::SetBufferSamples(bool on) {
  impl_->Log(std::string("Grabber.SetBufferSamples ") + (on ? "1" : "0"));
  filter_->buffering = on;
  return status::kOk;
}
Status SGrabber::GetCurrentBufferSize(int32_t& size) {
  if (!filter_->hasFrame) return status::kWrongState;
  size = int32_t(filter_->frame.size());
  return status::kOk;
}
Status SGrabber::GetCurrentBuffer(int32_t& size, uint8_t* buffer) {
  if (!filter_->hasFrame) return status::kWrongState;
  if (!buffer) return status::kPointer;
  if (size < int32_t(filter_->frame.size())) return status::kBufferTooSmall;
  std::copy(filter_->frame.begin(), filter_->frame.end(), buffer);
  size = int32_t(filter_->frame.size());
  return status::kOk;
}
Status SGrabber::GetConnectedMediaType(MediaType& type) {
  auto in = filter_->PinNamed("In");
  return in->ConnectionMediaType(type);
}

class SMediaEvent : public IMediaEventEx {
public:
  explicit SMediaEvent(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
  Status SetNotifyWindow(Notify notify, uint32_t message, intptr_t instance) override {
    if (Status s = impl_->Check("MediaEvent.SetNotifyWindow", notify ? "on" : "off"); Failed(s))
      return s;
    notify_ = std::move(notify);
    message_ = message;
    instance_ = instance;
    if (!queue_.empty()) Signal();
    return status::kOk;
  }
  Status GetEvent(GraphEvent& event, long) override {
    if (queue_.empty()) return status::kTimeout;
    event = queue_.front();
    queue_.pop_front();
    return status::kOk;
  }
  Status FreeEventParams(GraphEvent& event) override {
    event.filter.reset();
    return status::kOk;
  }
  void Queue(GraphEvent e) {
    queue_.push_back(std::move(e));
    Signal();
  }

private:
  void Signal() {
    if (!notify_) return;
    std::weak_ptr<int> alive = alive_;
    Post([alive, notify = notify_, msg = message_, inst = instance_] {
      if (alive.lock()) notify(msg, inst);
    });
  }
  std::shared_ptr<Impl> impl_;
  std::deque<GraphEvent> queue_;
  Notify notify_;
  uint32_t message_ = 0;
  intptr_t instance_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

enum class GraphState { Stopped, Paused, Running };

class SGraph : public IFilterGraph, public IMediaControl, public std::enable_shared_from_this<SGraph> {
public:
  explicit SGraph(std::shared_ptr<Impl> impl)
      : impl_(std::move(impl)), events_(std::make_shared<SMediaEvent>(impl_)) {}

  Status AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) override {
    auto f = std::dynamic_pointer_cast<SFilter>(filter);
    if (!f) return status::kPointer;
    std::string want = name.empty() ? f->DefaultName() : name;
    if (Status s = impl_->Check("Graph.AddFilter", want); Failed(s)) return s;
    if (f->OwnGraph()) return f->OwnGraph().get() == this ? status::kDuplicateNameError : status::kWrongState;
    std::string unique = want;
    Status result = status::kOk;
    for (int n = 1; NameTaken(unique); ++n) {
      if (n > 9999) return status::kDuplicateNameError;
      unique = want + " " + std::to_string(n);
      result = status::kDuplicateName;
    }
    f->SetGraph(shared_from_this(), unique);
    filters_.push_back(f);
    return result;
  }
  Status RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
    auto f = std::dynamic_pointer_cast<SFilter>(filter);
    if (!f) return status::kPointer;
    impl_->Log("Graph.RemoveFilter " + f->Name());
    auto it = std::find(filters_.begin(), filters_.end(), f);
    if (it == filters_.end()) return status::kNotFound;
    if (state_ != GraphState::Stopped) return status::kWrongState;
    for (auto& p : f->Pins())
      if (auto peer = p->Peer()) {
        peer->ClearPeer();
        p->ClearPeer();
      }
    f->LeaveGraph();
    filters_.erase(it);
    return status::kOk;
  }
  Status Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
    auto o = std::dynamic_pointer_cast<SPin>(out);
    auto i = std::dynamic_pointer_cast<SPin>(in);
    if (!o || !i) return status::kPointer;
    auto of = o->Owner(), inf = i->Owner();
    const std::string arg = (of ? of->Name() : "?") + ":" + o->PinName() + "->" +
                            (inf ? inf->Name() : "?") + ":" + i->PinName();
    if (Status s = impl_->Check("Graph.Connect", arg); Failed(s)) return s;
    return Join(o, i);
  }
  Status Render(const std::shared_ptr<IPin>& out) override {
    auto o = std::dynamic_pointer_cast<SPin>(out);
    if (!o) return status::kPointer;
    auto of = o->Owner();
    const Status answer = impl_->Check("Graph.Render", (of ? of->Name() : "?") + ":" + o->PinName());
    if (Failed(answer)) return answer;
    // A switch set to a success code (kPreviewFromCapture, kFalse) is what a render that
    // worked answers, as a real one may.
    const Status rendered = RenderPin(o);
    return Failed(rendered) ? rendered : answer;
  }
  Status Disconnect(const std::shared_ptr<IPin>& pin) override {
    auto p = std::dynamic_pointer_cast<SPin>(pin);
    if (!p) return status::kPointer;
    auto f = p->Owner();
    impl_->Log("Graph.Disconnect " + (f ? f->Name() : "?") + ":" + p->PinName());
    if (state_ != GraphState::Stopped) return status::kWrongState;
    if (!p->Peer()) return status::kFalse;
    p->ClearPeer();
    return status::kOk;
  }
  std::vector<std::shared_ptr<IBaseFilter>> EnumFilters() override {
    return {filters_.begin(), filters_.end()};
  }
  Status QueryMediaControl(std::shared_ptr<IMediaControl>& control) override {
    if (Status s = impl_->Check("Graph.QueryMediaControl"); Failed(s)) return s;
    control = std::shared_ptr<IMediaControl>(shared_from_this(), static_cast<IMediaControl*>(this));
    return status::kOk;
  }
  Status QueryMediaEvent(std::shared_ptr<IMediaEventEx>& events) override {
    if (Status s = impl_->Check("Graph.QueryMediaEvent"); Failed(s)) return s;
    events = events_;
    return status::kOk;
  }
  Status QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) override;

  // IMediaControl
  Status Run() override { return Change("MediaControl.Run", GraphState::Running); }
  Status Pause() override { return Change("MediaControl.Pause", GraphState::Paused); }
  Status Stop() override { return Change("MediaControl.Stop", GraphState::Stopped); }

  // Joins two pins after the checks a real connection makes.
  Status Join(const std::shared_ptr<SPin>& o, const std::shared_ptr<SPin>& i) {
    auto of = o->Owner(), inf = i->Owner();
    if (!of || !inf || of->OwnGraph().get() != this || inf->OwnGraph().get() != this)
      return status::kNotFound;
    if (o->Direction() != PinDirection::Output || i->Direction() != PinDirection::Input)
      return status::kInvalidArg;
    if (o->Peer() || i->Peer()) return status::kAlreadyConnected;
    if (state_ != GraphState::Stopped) return status::kWrongState;
    if (of->FilterKind() == Kind::Capture) {
      auto cap = std::static_pointer_cast<SCaptureFilter>(of);
      if (impl_->settings.devices[cap->DeviceIndex()].inUse) return status::kCannotConnect;
    }
    const MediaType type = of->OutputType(*o);
    o->SetPeer(i, type);
    i->SetPeer(o, type);
    return status::kOk;
  }
  Status RenderPin(const std::shared_ptr<SPin>& o) {
    auto r = std::make_shared<SRendererFilter>(impl_);
    r->AddPin(PinDirection::Input, "Input");
    Status s = AddFilter(r, "");
    if (Failed(s)) return s;
    s = Join(o, r->Pins()[0]);
    if (Failed(s)) RemoveFilter(r);
    return s;
  }
  template <class T>
  std::shared_ptr<T> FindKind(Kind k) const {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it)
      if ((*it)->FilterKind() == k) return std::static_pointer_cast<T>(*it);
    return nullptr;
  }
  const std::vector<std::shared_ptr<SFilter>>& Filters() const { return filters_; }
  GraphState State() const { return state_; }
  std::shared_ptr<SMediaEvent> Events() const { return events_; }
  // Whether `pin` leads (through tees, grabbers, compressors) into a multiplexer.
  static bool LeadsTo(const std::shared_ptr<SPin>& pin, Kind k, int depth = 0) {
    auto peer = pin ? pin->Peer() : nullptr;
    if (!peer || depth > 16) return false;
    auto f = peer->Owner();
    if (!f) return false;
    if (f->FilterKind() == k) return true;
    for (auto& p : f->Pins())
      if (p->Direction() == PinDirection::Output && LeadsTo(p, k, depth + 1)) return true;
    return false;
  }

private:
  bool NameTaken(const std::string& n) const {
    for (auto& f : filters_)
      if (f->Name() == n) return true;
    return false;
  }
  Status Change(const std::string& op, GraphState to) {
    if (Status s = impl_->Check(op); Failed(s)) return s;
    state_ = to;
    return status::kOk;
  }

  std::shared_ptr<Impl> impl_;
  std::vector<std::shared_ptr<SFilter>> filters_;
  std::shared_ptr<SMediaEvent> events_;
  GraphState state_ = GraphState::Stopped;
};

std::shared_ptr<IFilterGraph> SFilter::Graph() const { return graph_.lock(); }

class SVideoWindow : public IVideoWindow {
public:
  SVideoWindow(std::shared_ptr<Impl> impl, std::shared_ptr<SRendererFilter> r)
      : impl_(std::move(impl)), r_(std::move(r)) {}
  Status put_Owner(OwnerWindow owner) override {
    impl_->Log(std::string("VideoWindow.Owner ") + (owner ? "1" : "0"));
    r_->window.owner = owner;
    if (!owner) r_->window.visible = false;
    return status::kOk;
  }
  Status put_WindowStyle(long style) override {
    impl_->Log("VideoWindow.Style " + Hex(Status(style)));
    r_->window.style = style;
    return status::kOk;
  }
  Status SetWindowPosition(int left, int top, int width, int height) override {
    impl_->Log("VideoWindow.Position " + std::to_string(left) + "," + std::to_string(top) + " " +
               std::to_string(width) + "x" + std::to_string(height));
    r_->window.left = left;
    r_->window.top = top;
    r_->window.width = width;
    r_->window.height = height;
    return status::kOk;
  }
  Status put_Visible(bool visible) override {
    impl_->Log(std::string("VideoWindow.Visible ") + (visible ? "1" : "0"));
    r_->window.visible = visible;
    return status::kOk;
  }

private:
  std::shared_ptr<Impl> impl_;
  std::shared_ptr<SRendererFilter> r_;
};

Status SGraph::QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) {
  if (Status s = impl_->Check("Graph.QueryVideoWindow"); Failed(s)) return s;
  auto r = FindKind<SRendererFilter>(Kind::Renderer);
  if (!r) return status::kNoInterface;
  window = std::make_shared<SVideoWindow>(impl_, r);
  return status::kOk;
}

class SBuilder : public ICaptureGraphBuilder2 {
public:
  explicit SBuilder(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

  Status SetFiltergraph(const std::shared_ptr<IFilterGraph>& graph) override {
    if (graph_) return status::kUnexpected;
    graph_ = std::dynamic_pointer_cast<SGraph>(graph);
    return graph_ ? status::kOk : status::kPointer;
  }
  Status GetFiltergraph(std::shared_ptr<IFilterGraph>& graph) override {
    graph = graph_;
    return graph_ ? status::kOk : status::kUnexpected;
  }

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

  Status RenderStream(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& source,
                      const std::shared_ptr<IBaseFilter>& intermediate,
                      const std::shared_ptr<IBaseFilter>& sink) override {
    const std::string cat = !c ? "any" : *c == guid::kPinCategoryCapture ? "capture"
                                       : *c == guid::kPinCategoryPreview ? "preview" : "other";
    const std::string type = !t ? "any" : *t == guid::kMediaTypeInterleaved ? "iavs"
                                        : *t == guid::kMediaTypeVideo ? "vids" : "other";
    if (Status s = impl_->Check("Builder.RenderStream", cat + " " + type); Failed(s)) return s;
    if (!graph_) return status::kUnexpected;
    auto src = std::dynamic_pointer_cast<SFilter>(source);
    if (!src || src->OwnGraph() != graph_) return status::kInvalidArg;
    bool faked = false;
    std::shared_ptr<SPin> pin = PinOf(src, c, t);
    if (!pin && c && *c == guid::kPinCategoryPreview && src->FilterKind() == Kind::Capture) {
      // No preview pin: split the capture pin with a tee and preview its second output.
      auto capturePin = PinOf(src, &guid::kPinCategoryCapture, t);
      if (!capturePin) return status::kInvalidArg;
      auto tee = Tee(capturePin);
      if (!tee) return status::kFail;
      pin = tee->PinNamed("Preview");
      faked = true;
    }
    if (!pin) return status::kInvalidArg;
    pin = FollowTee(pin);
    if (pin->Peer()) return status::kAlreadyConnected;
    std::shared_ptr<SPin> from = pin;
    if (auto mid = std::dynamic_pointer_cast<SFilter>(intermediate)) {
      if (!mid->OwnGraph()) {
        Status s = graph_->AddFilter(mid, "");
        if (Failed(s)) return s;
      }
      Status s = graph_->Join(from, FirstIn(mid));
      if (Failed(s)) return s;
      from = FirstOut(mid);
    }
    Status s;
    if (auto to = std::dynamic_pointer_cast<SFilter>(sink)) {
      auto in = FreeIn(to);
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
    if (Status s = impl_->Check("Builder.SetOutputFileName", path); Failed(s)) return s;
    if (subtype != guid::kSubtypeAvi || path.empty()) return status::kInvalidArg;
    if (!graph_) return status::kUnexpected;
    auto m = std::make_shared<SMuxFilter>(impl_);
    m->AddPin(PinDirection::Input, "Input 01");
    m->AddPin(PinDirection::Output, "AVI Out");
    auto w = std::make_shared<SWriterFilter>(impl_, path);
    w->AddPin(PinDirection::Input, "in");
    Status s = graph_->AddFilter(m, "");
    if (Succeeded(s)) s = graph_->AddFilter(w, path);
    if (Succeeded(s)) s = graph_->Join(m->PinNamed("AVI Out"), w->PinNamed("in"));
    if (Failed(s)) return s;
    mux = m;
    sink = w->sink;
    return status::kOk;
  }
  Status ControlStream(const Guid* c, const Guid* t, const std::shared_ptr<IBaseFilter>& f,
                       const int64_t* start, const int64_t* stop, uint16_t, uint16_t) override {
    std::string arg = std::string(c && *c == guid::kPinCategoryPreview ? "preview" : "capture") +
                      " start=" + (!start ? "now" : *start == kMaxTime ? "max" : std::to_string(*start)) +
                      " stop=" + (!stop ? "none" : *stop == kMaxTime ? "max" : std::to_string(*stop));
    if (Status s = impl_->Check("Builder.ControlStream", arg); Failed(s)) return s;
    if (!graph_) return status::kUnexpected;
    auto targets = f ? std::vector<std::shared_ptr<SFilter>>{std::dynamic_pointer_cast<SFilter>(f)}
                     : graph_->Filters();
    bool any = false;
    for (auto& tf : targets) {
      auto cap = std::dynamic_pointer_cast<SCaptureFilter>(tf);
      if (!cap || !PinOf(cap, c, t)) continue;
      if (!c || *c == guid::kPinCategoryCapture) cap->captureGateOn = !(start && *start == kMaxTime);
      any = true;
    }
    return any ? status::kOk : status::kNoInterface;
  }
  Status AllocCapFile(const std::string& path, uint64_t bytes) override {
    if (Status s = impl_->Check("Builder.AllocCapFile", path + " " + std::to_string(bytes)); Failed(s))
      return s;
    return AllocateCaptureFile(path, bytes);
  }

private:
  static std::shared_ptr<SCaptureFilter> CaptureOf(const std::shared_ptr<IBaseFilter>& f) {
    return std::dynamic_pointer_cast<SCaptureFilter>(f);
  }
  static std::shared_ptr<SPin> PinOf(const std::shared_ptr<SFilter>& f, const Guid* c, const Guid* t) {
    for (auto& p : f->Pins()) {
      if (p->Direction() != PinDirection::Output) continue;
      if (c && *c != guid::kLookUpstreamOnly && p->Category() != *c) continue;
      if (t && p->Major() != *t) continue;
      return p;
    }
    return nullptr;
  }
  static std::shared_ptr<SPin> FirstIn(const std::shared_ptr<SFilter>& f) {
    for (auto& p : f->Pins())
      if (p->Direction() == PinDirection::Input) return p;
    return nullptr;
  }
  static std::shared_ptr<SPin> FreeIn(const std::shared_ptr<SFilter>& f) {
    for (auto& p : f->Pins())
      if (p->Direction() == PinDirection::Input && !p->Peer()) return p;
    return nullptr;
  }
  static std::shared_ptr<SPin> FirstOut(const std::shared_ptr<SFilter>& f) {
    for (auto& p : f->Pins())
      if (p->Direction() == PinDirection::Output) return p;
    return nullptr;
  }
  // A capture pin already feeding the tee renders through the tee's capture output.
  static std::shared_ptr<SPin> FollowTee(const std::shared_ptr<SPin>& pin) {
    auto peer = pin->Peer();
    auto f = peer ? peer->Owner() : nullptr;
    if (f && f->FilterKind() == Kind::SmartTee) return f->PinNamed("Capture");
    return pin;
  }
  std::shared_ptr<SFilter> Tee(const std::shared_ptr<SPin>& capturePin) {
    if (auto peer = capturePin->Peer(); peer && peer->Owner() &&
                                        peer->Owner()->FilterKind() == Kind::SmartTee)
      return peer->Owner();
    auto tee = std::make_shared<SFilter>(impl_, Kind::SmartTee, "Smart Tee");
    tee->AddPin(PinDirection::Input, "Input");
    tee->AddPin(PinDirection::Output, "Capture", guid::kPinCategoryCapture);
    tee->AddPin(PinDirection::Output, "Preview", guid::kPinCategoryPreview);
    if (Failed(graph_->AddFilter(tee, ""))) return nullptr;
    // Re-route an existing capture connection through the tee.
    auto downstream = capturePin->Peer();
    if (downstream) {
      downstream->ClearPeer();
      capturePin->ClearPeer();
    }
    if (Failed(graph_->Join(capturePin, tee->PinNamed("Input")))) return nullptr;
    if (downstream) graph_->Join(tee->PinNamed("Capture"), downstream);
    return tee;
  }

  std::shared_ptr<Impl> impl_;
  std::shared_ptr<SGraph> graph_;
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
      auto f = std::make_shared<SFilter>(impl_, Kind::Compressor, c->friendlyName);
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

// A deterministic frame: every byte depends on its position and the frame number.
std::vector<uint8_t> SyntheticFrame(const MediaType& type, uint64_t frameNumber) {
  if (!type.IsVideoInfo()) return std::vector<uint8_t>(1024, uint8_t(frameNumber));
  const auto& b = type.videoInfo->bmiHeader;
  uint32_t bytes = b.biSizeImage ? b.biSizeImage : DibImageBytes(b.biWidth, b.biHeight, b.biBitCount);
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t((i * 7 + frameNumber * 13) & 0xFF);
  return frame;
}

}  // namespace

ScriptedSettings TwoCameraSettings() {
  ScriptedSettings s;
  ScriptedDevice a;
  a.displayName = "@device:scripted:camera-a";
  a.friendlyName = "Camera A";
  a.hasPreviewPin = true;
  ScriptedDevice b;
  b.displayName = "@device:scripted:camera-b";
  b.friendlyName = "Camera B";
  b.hasPreviewPin = false;
  s.devices = {a, b};
  return s;
}

ScriptedDevice FailingDevice(const std::string& friendlyName, Status why) {
  ScriptedDevice d;
  d.displayName = "@device:scripted:failing:" + friendlyName;
  d.friendlyName = friendlyName;
  d.bindStatus = why;
  return d;
}

ScriptedPlatform::ScriptedPlatform(ScriptedSettings settings) : impl_(std::make_shared<Impl>()) {
  impl_->clockMs = settings.startTimeMs;
  impl_->settings = std::move(settings);
}
ScriptedPlatform::~ScriptedPlatform() = default;

Status ScriptedPlatform::CreateClassEnumerator(const Guid& category,
                                               std::vector<std::shared_ptr<IMoniker>>& monikers) {
  monikers.clear();
  if (Status s = impl_->Check("Platform.CreateClassEnumerator"); Failed(s)) return s;
  if (category == guid::kVideoInputDeviceCategory) {
    for (size_t i = 0; i < impl_->settings.devices.size(); ++i)
      if (!impl_->DeviceLost(i))
        monikers.push_back(std::make_shared<SMoniker>(impl_, false, impl_->settings.devices[i].displayName));
  } else if (category == guid::kVideoCompressorCategory) {
    for (const auto& c : impl_->settings.compressors)
      monikers.push_back(std::make_shared<SMoniker>(impl_, true, c.displayName));
  }
  return monikers.empty() ? status::kFalse : status::kOk;
}

Status ScriptedPlatform::ParseDisplayName(const std::string& displayName,
                                          std::shared_ptr<IMoniker>& moniker) {
  if (displayName.rfind("@device:", 0) != 0) return status::kInvalidArg;
  bool compressor = false;
  for (const auto& c : impl_->settings.compressors)
    if (c.displayName == displayName) compressor = true;
  moniker = std::make_shared<SMoniker>(impl_, compressor, displayName);
  return status::kOk;
}

Status ScriptedPlatform::CreateCaptureGraphBuilder2(std::shared_ptr<ICaptureGraphBuilder2>& builder) {
  if (Status s = impl_->Check("Platform.CreateCaptureGraphBuilder2"); Failed(s)) return s;
  builder = std::make_shared<SBuilder>(impl_);
  return status::kOk;
}

Status ScriptedPlatform::CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder>& builder) {
  if (Status s = impl_->Check("Platform.CreateCaptureGraphBuilder"); Failed(s)) return s;
  builder = std::make_shared<SOldBuilder>(impl_);
  return status::kOk;
}

Status ScriptedPlatform::CreateFilterGraph(std::shared_ptr<IFilterGraph>& graph) {
  if (Status s = impl_->Check("Platform.CreateFilterGraph"); Failed(s)) return s;
  auto g = std::make_shared<SGraph>(impl_);
  impl_->graphs.push_back(g);
  graph = g;
  return status::kOk;
}

Status ScriptedPlatform::CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) {
  if (Status s = impl_->Check("Platform.CreateSampleGrabber"); Failed(s)) return s;
  auto f = std::make_shared<SGrabberFilter>(impl_);
  f->AddPin(PinDirection::Input, "In");
  f->AddPin(PinDirection::Output, "Out");
  grabber = std::make_shared<SGrabber>(impl_, f);
  return status::kOk;
}

Status ScriptedPlatform::ShowPropertyFrame(OwnerWindow, int x, int y, const std::string&,
                                           IPropertyPageHost& object, const PropertyPageList& pages) {
  std::string who = "object";
  if (auto* f = dynamic_cast<SFilter*>(&object)) who = f->DefaultName();
  else if (dynamic_cast<IAMStreamConfig*>(&object)) who = "StreamConfig";
  else if (dynamic_cast<IAMCrossbar*>(&object)) who = "Crossbar";
  else if (dynamic_cast<IAMTVTuner*>(&object)) who = "TVTuner";
  impl_->Log("PropertyFrame " + who + " " + std::to_string(pages.Count()) + " at " +
             std::to_string(x) + "," + std::to_string(y));
  return impl_->settings.propertyFrameResult;
}

void ScriptedPlatform::SetDeviceChangeCallback(std::function<void()> callback) {
  impl_->deviceChange = std::move(callback);
}

uint32_t ScriptedPlatform::TickCountMs() { return impl_->clockMs; }

ScriptedSettings& ScriptedPlatform::Settings() { return impl_->settings; }

void ScriptedPlatform::AdvanceClock(uint32_t ms) { impl_->clockMs += ms; }

void ScriptedPlatform::DeliverFrames(int count) {
  for (int n = 0; n < count; ++n) {
    ++impl_->frameNumber;
    for (auto& weak : impl_->graphs) {
      auto g = weak.lock();
      if (!g || g->State() != GraphState::Running) continue;
      for (auto& f : g->Filters()) {
        if (f->FilterKind() == Kind::Grabber) {
          auto grab = std::static_pointer_cast<SGrabberFilter>(f);
          auto in = grab->PinNamed("In");
          MediaType type;
          if (!grab->buffering || Failed(in->ConnectionMediaType(type))) continue;
          grab->frame = SyntheticFrame(type, impl_->frameNumber);
          grab->hasFrame = true;
        } else if (f->FilterKind() == Kind::Capture) {
          auto cap = std::static_pointer_cast<SCaptureFilter>(f);
          auto pin = cap->PinNamed("Capture");
          if (!cap->captureGateOn || !SGraph::LeadsTo(pin, Kind::Mux)) continue;
          auto& c = *cap->counters;
          ++c.seen;
          const int every = impl_->settings.devices[cap->DeviceIndex()].dropEvery;
          if (every > 0 && c.seen % every == 0) ++c.dropped;
          else ++c.delivered;
        }
      }
    }
  }
}

void ScriptedPlatform::InjectEvent(long code, intptr_t param1, intptr_t param2,
                                   std::shared_ptr<IBaseFilter> filter) {
  impl_->Log("Inject " + Hex(Status(code)));
  for (auto& weak : impl_->graphs)
    if (auto g = weak.lock()) g->Events()->Queue(GraphEvent{code, param1, param2, filter});
}

void ScriptedPlatform::LoseDevice(size_t index) {
  if (index >= impl_->settings.devices.size()) return;
  impl_->lost.resize(impl_->settings.devices.size(), false);
  impl_->lost[index] = true;
  impl_->Log("LoseDevice " + impl_->settings.devices[index].friendlyName);
  for (auto& weak : impl_->graphs) {
    auto g = weak.lock();
    if (!g) continue;
    for (auto& f : g->Filters())
      if (auto cap = std::dynamic_pointer_cast<SCaptureFilter>(f); cap && cap->DeviceIndex() == index)
        g->Events()->Queue(GraphEvent{event::kDeviceLost, 0, 0, cap});
  }
  FireDeviceChange();
}

void ScriptedPlatform::FireDeviceChange() {
  if (!impl_->deviceChange) return;
  std::weak_ptr<Impl> weak = impl_;
  Post([weak] {
    if (auto impl = weak.lock(); impl && impl->deviceChange) impl->deviceChange();
  });
}

const std::vector<std::string>& ScriptedPlatform::CallLog() const { return impl_->log; }
void ScriptedPlatform::ClearCallLog() { impl_->log.clear(); }

ScriptedPlatform::VideoWindowState ScriptedPlatform::LastVideoWindow() const {
  for (auto it = impl_->graphs.rbegin(); it != impl_->graphs.rend(); ++it)
    if (auto g = it->lock())
      if (auto r = g->FindKind<SRendererFilter>(Kind::Renderer)) return r->window;
  return {};
}

bool ScriptedPlatform::AnyGraphRunning() const {
  for (auto& weak : impl_->graphs)
    if (auto g = weak.lock(); g && g->State() != GraphState::Stopped) return true;
  return false;
}

std::vector<std::string> ScriptedPlatform::FiltersInGraph() const {
  for (auto it = impl_->graphs.rbegin(); it != impl_->graphs.rend(); ++it)
    if (auto g = it->lock()) {
      std::vector<std::string> names;
      for (auto& f : g->Filters()) names.push_back(f->Name());
      return names;
    }
  return {};
}

ScopedScriptedPlatform::ScopedScriptedPlatform(ScriptedSettings settings)
    : platform_(std::make_shared<ScriptedPlatform>(std::move(settings))) {
  SetMediaPlatformForTesting(platform_);
}
ScopedScriptedPlatform::~ScopedScriptedPlatform() { SetMediaPlatformForTesting(nullptr); }

}  // namespace media
