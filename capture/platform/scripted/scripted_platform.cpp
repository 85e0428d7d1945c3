#include "capture/platform/scripted/scripted_platform.h"

#include "capture/platform/scripted/scripted_builder.h"
#include "capture/platform/scripted/scripted_graph.h"
#include "capture/platform/scripted/scripted_impl.h"

namespace media {

using namespace scripted;

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

Status ScriptedPlatform::CreateSystemDeviceEnum() {
  return impl_->Check("Platform.CreateSystemDeviceEnum");
}

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
        if (f->Kind() == FilterKind::Grabber) {
          auto grab = std::static_pointer_cast<SGrabberFilter>(f);
          auto in = grab->PinNamed("In");
          MediaType type;
          if (!grab->buffering || Failed(in->ConnectionMediaType(type))) continue;
          grab->frame = SyntheticFrame(type, impl_->frameNumber);
          grab->hasFrame = true;
        } else if (f->Kind() == FilterKind::Capture) {
          auto cap = std::static_pointer_cast<SCaptureFilter>(f);
          auto pin = cap->PinNamed("Capture");
          if (!g->CaptureGateOpen() || !SGraph::LeadsTo(pin, FilterKind::Mux)) continue;
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
      if (auto r = std::static_pointer_cast<SRendererFilter>(g->FindKind(FilterKind::Renderer))) return r->window;
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
