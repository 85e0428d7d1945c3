#include "capture/platform/gst/test_cameras.h"

#include <gst/gst.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#include "gstqt/gst_handles.h"
#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/v4l2/fake_v4l2.h"

extern "C" {

typedef struct {
  GstDevice parent;
  int index;
} LumoraTestCamera;

typedef struct {
  GstDeviceClass parent_class;
} LumoraTestCameraClass;

typedef struct {
  GstDeviceProvider parent;
} LumoraTestCameraProvider;

typedef struct {
  GstDeviceProviderClass parent_class;
} LumoraTestCameraProviderClass;

// The camera's element: a bin that can refuse to open as a real camera does.
typedef struct {
  GstBin parent;
  int index;
  int fault;
} LumoraTestCameraBin;

typedef struct {
  GstBinClass parent_class;
} LumoraTestCameraBinClass;

GType lumora_test_camera_get_type(void);
GType lumora_test_camera_provider_get_type(void);
GType lumora_test_camera_bin_get_type(void);
}

G_DEFINE_TYPE(LumoraTestCamera, lumora_test_camera, GST_TYPE_DEVICE)
G_DEFINE_TYPE(LumoraTestCameraProvider, lumora_test_camera_provider, GST_TYPE_DEVICE_PROVIDER)
G_DEFINE_TYPE(LumoraTestCameraBin, lumora_test_camera_bin, GST_TYPE_BIN)

namespace {

// Distinct, recognisable pictures per camera: SMPTE bars, snow, red, ball, checkers, ...
constexpr int kPatterns[] = {0, 1, 4, 18, 10, 13, 12, 24, 6, 17};

// videotestsrc ! videobalance [! encoder] ! capsfilter: the balance gives the synthetic camera
// the brightness, contrast, hue and saturation controls a real camera driver offers; the
// capsfilter holds it to the modes it lists, as a driver refuses any other format, size or
// rate (a bare videotestsrc would take whatever it is asked for). Most cameras list a
// webcam's raw modes; a few stand for the other kinds of camera there are.
struct CameraKind {
  const char* modes;
  const char* encoder;  // makes the listed media type from raw video; null for raw modes
};
constexpr CameraKind kWebcam{
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=YUY2,width=640,height=480,framerate=(fraction){30/1,15/1};"
    "video/x-raw,format=BGR,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=BGR,width=640,height=480,framerate=30/1;"
    "video/x-raw,format=I420,width=1280,height=720,framerate=30/1",
    nullptr};
// The third camera sends only MJPG, as many USB cameras do at larger sizes; the fourth has a
// single mode; the fifth sends only raw Bayer mosaics, which nothing in the program decodes.
constexpr CameraKind kKinds[] = {
    kWebcam,
    kWebcam,
    {"image/jpeg,width=320,height=240,framerate=30/1;image/jpeg,width=640,height=480,framerate=30/1", "jpegenc"},
    {"video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", nullptr},
    {"video/x-bayer,format=bggr,width=640,height=480,framerate=30/1", "rgb2bayer"},
};
const CameraKind& KindOf(int index) {
  return index >= 0 && size_t(index) < std::size(kKinds) ? kKinds[index] : kWebcam;
}

// Each synthetic camera has a V4L2 node in memory with a UVC webcam's controls. A camera
// plugged in again gets a new node, with the driver's defaults, as a real one would.
struct Nodes {
  std::mutex mutex;
  std::map<int, std::shared_ptr<v4l2::FakeV4L2>> byIndex;
};
Nodes& TestNodes() {
  static Nodes nodes;
  return nodes;
}

// LUMORA_TEST_CAPTURE_CARD=1 gives the nodes the inputs and norms of an analogue capture
// card, so that its crossbar and tuner pages can be tried in the running program.
void MakeCaptureCard(v4l2::FakeV4L2& node) {
  const char* env = std::getenv("LUMORA_TEST_CAPTURE_CARD");
  if (!env || std::strcmp(env, "1") != 0) return;
  node.SetInputs({{"Composite", false}, {"S-Video", false}, {"Tuner", true}});
  node.SetStandards({{V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}, {V4L2_STD_SECAM_L, "SECAM-L"}});
}

std::shared_ptr<v4l2::FakeV4L2> NodeOf(int index) {
  Nodes& n = TestNodes();
  std::lock_guard lock(n.mutex);
  auto& node = n.byIndex[index];
  if (!node) {
    node = std::make_shared<v4l2::FakeV4L2>(media::gst::TestCameraNodePath(index));
    MakeCaptureCard(*node);
  }
  return node;
}

void UnplugNode(int index) {
  Nodes& n = TestNodes();
  std::lock_guard lock(n.mutex);
  if (auto it = n.byIndex.find(index); it != n.byIndex.end()) {
    it->second->Unplug();
    n.byIndex.erase(it);
  }
}

// The node's picture controls drive the videobalance: each control's range maps around its
// default onto the balance's range around its neutral value, so the defaults change nothing
// and the balance stays in passthrough. Values are taken when a frame passes and set only
// when they changed, so a colour-balance page may still move the balance directly.
struct BalanceLink {
  struct Mapping {
    uint32_t id;
    const char* property;
    double neutral;
    int64_t minimum, maximum, defaultValue;
    int32_t applied;
    bool set;
  };
  std::shared_ptr<v4l2::FakeV4L2> node;
  std::vector<Mapping> mappings;
};

BalanceLink* NewBalanceLink(std::shared_ptr<v4l2::FakeV4L2> node) {
  auto* link = new BalanceLink{std::move(node), {}};
  const std::pair<uint32_t, const char*> wanted[] = {{V4L2_CID_BRIGHTNESS, "brightness"},
                                                      {V4L2_CID_CONTRAST, "contrast"},
                                                      {V4L2_CID_SATURATION, "saturation"},
                                                      {V4L2_CID_HUE, "hue"}};
  for (const auto& c : v4l2::FakeV4L2::UvcWebcamControls())
    for (const auto& [id, property] : wanted)
      if (c.id == id) {
        const double neutral = (id == V4L2_CID_CONTRAST || id == V4L2_CID_SATURATION) ? 1.0 : 0.0;
        link->mappings.push_back({id, property, neutral, c.minimum, c.maximum, c.defaultValue, 0, false});
      }
  return link;
}

GstPadProbeReturn SyncBalance(GstPad* pad, GstPadProbeInfo*, gpointer data) {
  auto* link = static_cast<BalanceLink*>(data);
  GstObject* balance = gst_pad_get_parent(pad);
  if (!balance) return GST_PAD_PROBE_OK;
  for (auto& m : link->mappings) {
    const int32_t v = link->node->Value(m.id);
    if (m.set && v == m.applied) continue;
    m.applied = v;
    m.set = true;
    const double span = v >= m.defaultValue ? double(m.maximum - m.defaultValue)
                                            : double(m.defaultValue - m.minimum);
    const double t = span > 0 ? double(v - m.defaultValue) / span : 0.0;
    g_object_set(balance, m.property, m.neutral + std::clamp(t, -1.0, 1.0), nullptr);
  }
  gst_object_unref(balance);
  return GST_PAD_PROBE_OK;
}

void FreeBalanceLink(gpointer data) { delete static_cast<BalanceLink*>(data); }

// LUMORA_TEST_CAMERA_FAULT makes the cameras fail as real ones do: "busy" (another program
// streams from the camera: the driver refuses the format once streaming begins), "denied"
// (the user may not open the device node) or "stream" (the stream breaks after a few frames,
// as a camera's does when the consumer stops accepting its format). Read when a camera's
// element is made, so a test can change it between graphs.
enum Fault { kNoFault, kBusy, kDenied, kStreamBreaks };

Fault FaultFromEnvironment() {
  const char* env = std::getenv("LUMORA_TEST_CAMERA_FAULT");
  if (!env) return kNoFault;
  if (std::strcmp(env, "busy") == 0) return kBusy;
  if (std::strcmp(env, "denied") == 0) return kDenied;
  if (std::strcmp(env, "stream") == 0) return kStreamBreaks;
  return kNoFault;
}

// The failure is posted once, as the source element posts it; no frame gets out after it.
struct BusyState {
  std::string node;
  Fault fault;
  int framesLeft;  // frames that pass before the failure
  bool posted = false;
};

GstPadProbeReturn RefuseBusy(GstPad* pad, GstPadProbeInfo*, gpointer data) {
  auto* state = static_cast<BusyState*>(data);
  if (state->framesLeft > 0) {
    --state->framesLeft;
    return GST_PAD_PROBE_OK;
  }
  if (!state->posted) {
    state->posted = true;
    if (GstObject* src = gst_pad_get_parent(pad)) {
      if (state->fault == kBusy)
        GST_ELEMENT_ERROR(src, RESOURCE, BUSY, ("Device '%s' is busy", state->node.c_str()),
                          ("Call to S_FMT failed for YUYV @ 320x240: %s", g_strerror(EBUSY)));
      else
        GST_ELEMENT_ERROR(src, STREAM, FAILED, ("Internal data stream error."),
                          ("streaming stopped, reason not-negotiated (-4)"));
      gst_object_unref(src);
    }
  }
  return GST_PAD_PROBE_DROP;
}

void FreeBusyState(gpointer data) { delete static_cast<BusyState*>(data); }

GstElement* TestCameraCreateElement(GstDevice* device, const gchar* name) {
  auto* cam = reinterpret_cast<LumoraTestCamera*>(device);
  GstElement* bin = GST_ELEMENT(g_object_new(lumora_test_camera_bin_get_type(), "name", name, nullptr));
  auto* camBin = reinterpret_cast<LumoraTestCameraBin*>(bin);
  camBin->index = cam->index;
  camBin->fault = FaultFromEnvironment();
  const CameraKind& kind = KindOf(cam->index);
  GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
  GstElement* balance = gst_element_factory_make("videobalance", nullptr);
  GstElement* encoder = kind.encoder ? gst_element_factory_make(kind.encoder, nullptr) : nullptr;
  GstElement* modes = gst_element_factory_make("capsfilter", nullptr);
  if (!src || !balance || !modes || (kind.encoder && !encoder)) {
    for (GstElement* e : {src, balance, encoder, modes})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    gst_object_unref(gst_object_ref_sink(bin));
    return nullptr;
  }
  g_object_set(src, "is-live", TRUE, "pattern", kPatterns[cam->index % 10], nullptr);
  GstCaps* listed = gst_caps_from_string(kind.modes);
  g_object_set(modes, "caps", listed, nullptr);
  gst_caps_unref(listed);
  GstPad* balanceIn = gst_element_get_static_pad(balance, "sink");
  gst_pad_add_probe(balanceIn, GST_PAD_PROBE_TYPE_BUFFER, SyncBalance,
                    NewBalanceLink(NodeOf(cam->index)), FreeBalanceLink);
  gst_object_unref(balanceIn);
  if (camBin->fault == kBusy || camBin->fault == kStreamBreaks) {
    GstPad* srcOut = gst_element_get_static_pad(src, "src");
    const int frames = camBin->fault == kBusy ? 0 : 3;
    gst_pad_add_probe(srcOut, GST_PAD_PROBE_TYPE_BUFFER, RefuseBusy,
                      new BusyState{media::gst::TestCameraNodePath(cam->index), Fault(camBin->fault), frames},
                      FreeBusyState);
    gst_object_unref(srcOut);
  }
  gst_bin_add_many(GST_BIN(bin), src, balance, modes, nullptr);
  gst_element_link(src, balance);
  if (encoder) {
    gst_bin_add(GST_BIN(bin), encoder);
    gst_element_link_many(balance, encoder, modes, nullptr);
  } else {
    gst_element_link(balance, modes);
  }
  GstPad* out = gst_element_get_static_pad(modes, "src");
  gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
  gst_object_unref(out);
  return bin;
}

GstCaps* TestCameraCaps(int index) { return gst_caps_from_string(KindOf(index).modes); }

GstDevice* NewTestCamera(int i) {
  GstCaps* caps = TestCameraCaps(i);
  GstStructure* props =
      gst_structure_new("lumora-test-camera", "lumora.test-camera", G_TYPE_INT, i, nullptr);
  gchar* name = g_strdup_printf("Lumora Test Camera %d", i + 1);
  auto* device = static_cast<LumoraTestCamera*>(g_object_new(
      lumora_test_camera_get_type(), "display-name", name, "device-class", "Video/Source",
      "caps", caps, "properties", props, nullptr));
  device->index = i;
  g_free(name);
  gst_structure_free(props);
  gst_caps_unref(caps);
  return GST_DEVICE(device);
}

GList* TestCameraProbe(GstDeviceProvider*) {
  GList* devices = nullptr;
  for (int i = media::TestCameraCount() - 1; i >= 0; --i)
    devices = g_list_prepend(devices, NewTestCamera(i));
  return devices;
}

}  // namespace

// A camera whose node the user may not open fails to open, as v4l2src reports it.
static GstStateChangeReturn TestCameraBinChangeState(GstElement* element, GstStateChange transition) {
  auto* self = reinterpret_cast<LumoraTestCameraBin*>(element);
  if (transition == GST_STATE_CHANGE_NULL_TO_READY && self->fault == kDenied) {
    const std::string node = media::gst::TestCameraNodePath(self->index);
    GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ_WRITE,
                      ("Could not open device '%s' for reading and writing.", node.c_str()),
                      ("system error: %s", g_strerror(EACCES)));
    return GST_STATE_CHANGE_FAILURE;
  }
  return GST_ELEMENT_CLASS(lumora_test_camera_bin_parent_class)->change_state(element, transition);
}

static void lumora_test_camera_bin_class_init(LumoraTestCameraBinClass* klass) {
  GST_ELEMENT_CLASS(klass)->change_state = TestCameraBinChangeState;
}
static void lumora_test_camera_bin_init(LumoraTestCameraBin* self) {
  self->index = 0;
  self->fault = kNoFault;
}

static void lumora_test_camera_class_init(LumoraTestCameraClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = TestCameraCreateElement;
}
static void lumora_test_camera_init(LumoraTestCamera* self) { self->index = 0; }
static void lumora_test_camera_provider_class_init(LumoraTestCameraProviderClass* klass) {
  GstDeviceProviderClass* dpc = GST_DEVICE_PROVIDER_CLASS(klass);
  dpc->probe = TestCameraProbe;
  gst_device_provider_class_set_static_metadata(dpc, "Lumora test cameras", "Video/Source",
                                                "Synthetic live cameras for testing",
                                                "lumora2003");
}
static void lumora_test_camera_provider_init(LumoraTestCameraProvider*) {}

namespace media {

using namespace gsth;

int TestCameraCount() {
  const char* env = std::getenv("LUMORA_TEST_CAMERAS");
  if (!env || !*env) return 0;
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  if (*end != '\0' || n <= 0) return 0;
  return int(std::min<long>(n, 10));
}

namespace gst {

void RegisterTestCameras() {
  if (TestCameraCount() <= 0) return;
  static bool registered = gst_device_provider_register(
      nullptr, "lumoratestcameras", GST_RANK_PRIMARY, lumora_test_camera_provider_get_type());
  (void)registered;
}

// Devices added by the test hook: outside the numbered cameras, pictured like the first.
constexpr int kExtraDevice = 10;

bool AddTestDeviceForTesting(const std::string& name, const std::string& properties) {
  GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("lumoratestcameras");
  if (!provider) return false;
  Ref<GstDeviceProvider> hold = Own(provider);
  GstStructure* props = gst_structure_from_string(properties.c_str(), nullptr);
  if (!props) return false;
  GstCaps* caps = TestCameraCaps(0);
  auto* device = static_cast<LumoraTestCamera*>(g_object_new(lumora_test_camera_get_type(), "display-name", name.c_str(),
                                                             "device-class", "Video/Source", "caps", caps,
                                                             "properties", props, nullptr));
  device->index = kExtraDevice;
  gst_structure_free(props);
  gst_caps_unref(caps);
  gst_device_provider_device_add(provider, GST_DEVICE(device));
  return true;
}

void RemoveTestDevicesForTesting() {
  GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("lumoratestcameras");
  if (!provider) return;
  Ref<GstDeviceProvider> hold = Own(provider);
  GList* list = gst_device_provider_get_devices(provider);
  for (GList* l = list; l; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, lumora_test_camera_get_type()) &&
        reinterpret_cast<LumoraTestCamera*>(l->data)->index == kExtraDevice)
      gst_device_provider_device_remove(provider, GST_DEVICE(l->data));
  g_list_free_full(list, gst_object_unref);
}

std::string TestCameraNodePath(int index) { return "/dev/lumora-test-camera" + std::to_string(index); }

std::unique_ptr<v4l2::CV4L2Controls> TestCameraControls(int index) {
  if (index < 0 || index >= TestCameraCount()) return nullptr;
  return v4l2::CV4L2Controls::Open(NodeOf(index), TestCameraNodePath(index));
}

std::shared_ptr<v4l2::FakeV4L2> TestCameraNode(int index) {
  if (index < 0 || index >= TestCameraCount()) return nullptr;
  return NodeOf(index);
}

void UnplugTestCameraNode(int index) { UnplugNode(index); }

}  // namespace gst

bool SetTestCameraPresentForTesting(int index, bool present) {
  GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("lumoratestcameras");
  if (!provider) return false;
  Ref<GstDeviceProvider> hold = Own(provider);
  GstDevice* found = nullptr;
  GList* list = gst_device_provider_get_devices(provider);
  for (GList* l = list; l; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, lumora_test_camera_get_type()) &&
        reinterpret_cast<LumoraTestCamera*>(l->data)->index == index)
      found = GST_DEVICE(l->data);
  bool done = false;
  if (!present && found) {
    gst::UnplugTestCameraNode(index);
    gst_device_provider_device_remove(provider, found);
    done = true;
  } else if (present && !found) {
    gst_device_provider_device_add(provider, NewTestCamera(index));
    done = true;
  }
  g_list_free_full(list, gst_object_unref);
  return done;
}

}  // namespace media
