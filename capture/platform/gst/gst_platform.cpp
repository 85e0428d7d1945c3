#include "capture/platform/gst/gst_platform.h"

#include <gst/video/colorbalance.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstring>

#include "capture/platform/gst/caps_convert.h"
#include "capture/platform/gst/gst_builder.h"
#include "capture/platform/gst/gst_devices.h"
#include "capture/platform/gst/gst_grabber.h"
#include "capture/platform/gst/gst_pages.h"
#include "capture/platform/gst/test_cameras.h"
#include "gstqt/bus_watch.h"
#include "capture/platform/qt_owner.h"
#include "capture/platform/v4l2/v4l2_io.h"
#include "capture/platform/v4l2/v4l2_registry.h"

namespace media::gst {

using namespace gsth;

class GPlatform : public IMediaPlatform {
public:
  // `programWide`: this backend answers the process-wide controls lookup (a second one made
  // by a test leaves it to the first).
  GPlatform(const char* deviceClass, bool programWide) : programWide_(programWide) {
    gst_init(nullptr, nullptr);
    RegisterTestCameras();
    monitor_ = Own(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor_.get(), deviceClass, nullptr);
    // Otherwise a PipeWire provider hides the V4L2 devices it also offers.
    gst_device_monitor_set_show_all_devices(monitor_.get(), TRUE);
    if (!QCoreApplication::instance())
      Warn("media platform", "created before the application object: no device change notices");
    StartMonitor();
    if (programWide_) v4l2::SetControlsFinder([this](const std::string& name) { return ControlsOf(name); });
  }
  ~GPlatform() override {
    if (programWide_) v4l2::SetControlsFinder({});
    watch_.reset();
    if (started_) gst_device_monitor_stop(monitor_.get());
  }

  // A monitor that could not start (no device provider installed, or none would start) is
  // tried again at each listing: the user may have installed one meanwhile.
  Status CreateSystemDeviceEnum() override { return StartMonitor() ? status::kOk : status::kFail; }
  Status CreateClassEnumerator(const Guid& category,
                               std::vector<std::shared_ptr<IMoniker>>& monikers) override {
    monikers.clear();
    if (category == guid::kVideoInputDeviceCategory) {
      auto catalog = std::make_shared<Catalog>();
      catalog->devices = Devices();
      for (auto& d : catalog->devices) monikers.push_back(std::make_shared<GMoniker>(this, d.displayName, catalog));
    } else if (category == guid::kVideoCompressorCategory) {
      auto catalog = std::make_shared<Catalog>();
      catalog->encoders = Encoders();
      for (auto& e : catalog->encoders)
        monikers.push_back(std::make_shared<GMoniker>(this, kEncoderPrefix + e.first, catalog));
    }
    return monikers.empty() ? status::kFalse : status::kOk;
  }
  Status ParseDisplayName(const std::string& displayName, std::shared_ptr<IMoniker>& moniker) override {
    if (displayName.rfind(gstmap::kDisplayNamePrefix, 0) != 0) return status::kInvalidArg;
    moniker = std::make_shared<GMoniker>(this, displayName);
    return status::kOk;
  }
  Status CreateCaptureGraphBuilder2(std::shared_ptr<ICaptureGraphBuilder2>& builder) override {
    builder = std::make_shared<GBuilder>();
    return status::kOk;
  }
  Status CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder>& builder) override {
    builder = std::make_shared<GOldBuilder>();
    return status::kOk;
  }
  Status CreateFilterGraph(std::shared_ptr<IFilterGraph>& graph) override {
    auto g = std::make_shared<GGraph>();
    g->Init();
    graphs_.erase(std::remove_if(graphs_.begin(), graphs_.end(), [](auto& w) { return w.expired(); }),
                  graphs_.end());
    graphs_.push_back(g);
    graph = g;
    return status::kOk;
  }
  Status CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override {
    auto f = std::make_shared<GGrabberFilter>();
    f->Init();
    grabber = std::make_shared<GSampleGrabber>(f);
    return status::kOk;
  }
  Status ShowPropertyFrame(OwnerWindow owner, int x, int y, const std::string& caption,
                           IPropertyPageHost& object, const PropertyPageList& pages) override {
    if (pages.pages.empty()) return status::kOk;
    if (auto* config = dynamic_cast<GStreamConfig*>(&object);
        config && std::find(pages.pages.begin(), pages.pages.end(), kStreamFormatPage) != pages.pages.end())
      return gstpages::ShowStreamFormat(WidgetFromOwner(owner), x, y, caption.empty() ? "Video Format" : caption,
                                        *config);
    if (auto* crossbar = dynamic_cast<GCrossbar*>(&object))
      return gstpages::ShowCrossbar(WidgetFromOwner(owner), x, y, caption.empty() ? "Video Crossbar" : caption,
                                    crossbar->Inputs());
    if (auto* tuner = dynamic_cast<GTuner*>(&object))
      return gstpages::ShowTuner(WidgetFromOwner(owner), x, y, caption.empty() ? "TV Tuner" : caption,
                                 tuner->Inputs());
    auto* filter = dynamic_cast<GCaptureFilter*>(&object);
    GstColorBalance* balance = filter ? filter->Balance() : nullptr;
    if (!balance || std::find(pages.pages.begin(), pages.pages.end(), kColorBalancePage) == pages.pages.end())
      return status::kNotImplemented;
    return gstpages::ShowColorBalance(WidgetFromOwner(owner), x, y,
                                      caption.empty() ? filter->DefaultName() : caption, balance)
               ? status::kOk
               : status::kFalse;
  }
  void SetDeviceChangeCallback(std::function<void()> callback) override { deviceChange_ = std::move(callback); }
  uint32_t TickCountMs() override { return NowMs(); }

  // The devices present now, in a stable order (by identity).
  std::vector<DeviceEntry> Devices() {
    std::vector<DeviceEntry> found;
    std::vector<gstmap::DeviceIdentity> ids;
    GList* list = gst_device_monitor_get_devices(monitor_.get());
    for (GList* l = list; l; l = l->next) {
      auto* dev = GST_DEVICE(l->data);
      CharRef name(gst_device_get_display_name(dev));
      ids.push_back(IdentityOf(dev));
      found.push_back(DeviceEntry{"", name ? name.get() : "", Own(dev)});
    }
    g_list_free(list);
    const auto names = gstmap::DeviceDisplayNames(ids);
    std::vector<DeviceEntry> out;
    for (size_t i = 0; i < found.size(); ++i)
      if (!names[i].empty()) {
        found[i].displayName = names[i];
        out.push_back(std::move(found[i]));
      }
    std::stable_sort(out.begin(), out.end(),
                     [](const DeviceEntry& a, const DeviceEntry& b) { return a.displayName < b.displayName; });
    return out;
  }
  // Encoders whose output the AVI muxer takes: {factory name, long name}, by factory name.
  EncoderList Encoders() {
    EncoderList out;
    GstElementFactory* avimux = gst_element_factory_find("avimux");
    if (!avimux) return out;
    CapsRef muxCaps;
    for (const GList* t = gst_element_factory_get_static_pad_templates(avimux); t; t = t->next) {
      auto* tmpl = static_cast<GstStaticPadTemplate*>(t->data);
      if (tmpl->direction == GST_PAD_SINK && std::strncmp(tmpl->name_template, "video", 5) == 0)
        muxCaps.reset(gst_static_caps_get(&tmpl->static_caps));
    }
    gst_object_unref(avimux);
    if (!muxCaps) return out;
    GList* list = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER, GST_RANK_NONE);
    for (GList* l = list; l; l = l->next) {
      auto* f = GST_ELEMENT_FACTORY(l->data);
      const gchar* klass = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS);
      if (!klass || (!std::strstr(klass, "Encoder/Video") && !std::strstr(klass, "Encoder/Image"))) continue;
      if (!gst_element_factory_can_src_any_caps(f, muxCaps.get())) continue;
      const gchar* longName = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_LONGNAME);
      out.push_back({GST_OBJECT_NAME(f), longName ? longName : GST_OBJECT_NAME(f)});
    }
    gst_plugin_feature_list_free(list);
    std::sort(out.begin(), out.end());
    return out;
  }
  // A device's camera controls: the in-memory node of a synthetic camera, the /dev/video
  // node of a real one; none for sources without a V4L2 node.
  std::unique_ptr<v4l2::CV4L2Controls> ControlsOf(const std::string& displayName) {
    for (auto& d : Devices()) {
      if (d.displayName != displayName) continue;
      const gstmap::DeviceIdentity id = IdentityOf(d.device.get());
      if (id.testCamera >= 0) return TestCameraControls(id.testCamera);
      if (id.path.rfind("/dev/video", 0) == 0) return v4l2::CV4L2Controls::Open(v4l2::SystemV4L2Io(), id.path);
      return nullptr;
    }
    return nullptr;
  }
  // The V4L2 node behind a device: {calls, path}, or no calls when it has none.
  static std::pair<std::shared_ptr<v4l2::IV4L2Io>, std::string> NodeOf(GstDevice* device) {
    const gstmap::DeviceIdentity id = IdentityOf(device);
    if (id.testCamera >= 0) return {TestCameraNode(id.testCamera), TestCameraNodePath(id.testCamera)};
    if (id.path.rfind("/dev/video", 0) == 0) return {v4l2::SystemV4L2Io(), id.path};
    return {nullptr, ""};
  }
  void DeviceRemovedFromGraphs(const std::string& displayName) {
    for (auto& w : graphs_) {
      auto g = w.lock();
      if (!g) continue;
      for (auto& f : g->Filters())
        if (auto cap = std::dynamic_pointer_cast<GCaptureFilter>(f); cap && cap->DisplayName() == displayName)
          g->QueueDeviceLost(cap);
    }
  }

private:
  bool StartMonitor() {
    if (started_) return true;
    started_ = gst_device_monitor_start(monitor_.get());
    if (!started_) {
      Warn("device monitor", "no device provider could be started");
      return false;
    }
    monitorBus_ = Own(gst_device_monitor_get_bus(monitor_.get()));
    watch_ = std::make_unique<gstqt::BusWatch>(monitorBus_.get(), [this] { DrainMonitor(); });
    return true;
  }
  void DrainMonitor() {
    bool changed = false;
    while (MessageRef m{gst_bus_pop(monitorBus_.get())}) {
      const auto type = GST_MESSAGE_TYPE(m.get());
      if (type != GST_MESSAGE_DEVICE_ADDED && type != GST_MESSAGE_DEVICE_REMOVED) continue;
      changed = true;
      if (type == GST_MESSAGE_DEVICE_REMOVED) {
        GstDevice* dev = nullptr;
        gst_message_parse_device_removed(m.get(), &dev);
        Ref<GstDevice> device = Own(dev);
        if (device) DeviceRemovedFromGraphs(DisplayNameOf(device.get()));
      }
    }
    // The callback is looked up when the call runs: its owner may have gone meanwhile.
    if (changed && deviceChange_) {
      std::weak_ptr<int> alive = alive_;
      Post([this, alive] {
        if (alive.lock() && deviceChange_) {
          auto callback = deviceChange_;
          callback();
        }
      });
    }
  }

  Ref<GstDeviceMonitor> monitor_;
  Ref<GstBus> monitorBus_;
  std::unique_ptr<gstqt::BusWatch> watch_;
  bool started_ = false;
  bool programWide_;
  std::function<void()> deviceChange_;
  std::vector<std::weak_ptr<GGraph>> graphs_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

std::shared_ptr<const Catalog> GMoniker::Lookup(bool encoders) {
  if (catalog_) return catalog_;
  auto now = std::make_shared<Catalog>();
  if (encoders) now->encoders = platform_->Encoders();
  else now->devices = platform_->Devices();
  return now;
}

Status GMoniker::BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) {
  if (name_.rfind(kEncoderPrefix, 0) == 0) {
    const std::string factory = name_.substr(sizeof kEncoderPrefix - 1);
    const auto catalog = Lookup(true);  // kept for the loop
    for (auto& e : catalog->encoders)
      if (e.first == factory) {
        bag = std::make_shared<GBag>(e.second, "");
        return status::kOk;
      }
    return status::kFileNotFound;
  }
  const auto catalog = Lookup(false);
  for (auto& d : catalog->devices)
    if (d.displayName == name_) {
      bag = std::make_shared<GBag>(d.friendlyName, kCaptureFilterClsid);
      return status::kOk;
    }
  return status::kFileNotFound;
}

Status GMoniker::BindToFilter(std::shared_ptr<IBaseFilter>& filter) {
  if (name_.rfind(kEncoderPrefix, 0) == 0) {
    const std::string factory = name_.substr(sizeof kEncoderPrefix - 1);
    const auto catalog = Lookup(true);  // kept for the loop
    for (auto& e : catalog->encoders)
      if (e.first == factory) {
        auto f = std::make_shared<GCompressorFilter>(e.second, factory);
        if (!f->Init()) return status::kFail;
        filter = f;
        return status::kOk;
      }
    return status::kFileNotFound;
  }
  // A device bound later than its enumeration must still be there.
  for (auto& d : platform_->Devices()) {
    if (d.displayName != name_) continue;
    GstElement* source = gst_device_create_element(d.device.get(), nullptr);
    if (!source) return status::kFail;
    // PipeWire takes a stream's buffers back when the stream ends, even those still held
    // (the preview's last picture, the snapshot's frame): ours are copies.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "always-copy"))
      g_object_set(source, "always-copy", TRUE, nullptr);
    CapsRef caps(gst_device_get_caps(d.device.get()));
    auto f = std::make_shared<GCaptureFilter>(d.friendlyName, d.displayName, source,
                                              gstmap::GroupCapabilities(ExpandCaps(caps.get())));
    auto [io, path] = GPlatform::NodeOf(d.device.get());
    f->SetNode(std::move(io), std::move(path));
    f->Init();
    filter = f;
    return status::kOk;
  }
  return status::kFileNotFound;
}

}  // namespace media::gst

namespace media {

std::unique_ptr<IMediaPlatform> CreateGstPlatform() { return std::make_unique<gst::GPlatform>("Video/Source", true); }

std::unique_ptr<IMediaPlatform> CreateGstPlatformForTesting(const std::string& deviceClass) {
  return std::make_unique<gst::GPlatform>(deviceClass.c_str(), false);
}

}  // namespace media
