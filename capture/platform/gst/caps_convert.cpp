#include "capture/platform/gst/caps_convert.h"

#include "capture/platform/gst/gst_util.h"

namespace media::gst {

using namespace gsth;

std::vector<gstmap::CapsEntry> ExpandCaps(const GstCaps* caps) {
  std::vector<gstmap::CapsEntry> out;
  if (!caps) return out;
  static const std::pair<int, int> kSizes[] = {{160, 120}, {320, 240}, {640, 480}, {1280, 720}};
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    const std::string media = gst_structure_get_name(s);
    std::vector<std::string> formats;
    if (const GValue* f = gst_structure_get_value(s, "format")) {
      if (G_VALUE_HOLDS_STRING(f)) formats.push_back(g_value_get_string(f));
      else if (GST_VALUE_HOLDS_LIST(f))
        for (guint k = 0; k < gst_value_list_get_size(f); ++k) {
          const GValue* v = gst_value_list_get_value(f, k);
          if (G_VALUE_HOLDS_STRING(v)) formats.push_back(g_value_get_string(v));
        }
    }
    if (formats.empty()) formats.push_back("");
    std::vector<std::pair<int, int>> sizes;
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    if (w && h && G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
      sizes.push_back({g_value_get_int(w), g_value_get_int(h)});
    } else if (w && h && GST_VALUE_HOLDS_INT_RANGE(w) && GST_VALUE_HOLDS_INT_RANGE(h)) {
      for (auto [sw, sh] : kSizes)
        if (sw >= gst_value_get_int_range_min(w) && sw <= gst_value_get_int_range_max(w) &&
            sh >= gst_value_get_int_range_min(h) && sh <= gst_value_get_int_range_max(h))
          sizes.push_back({sw, sh});
    }
    std::vector<std::pair<int, int>> rates;
    if (const GValue* r = gst_structure_get_value(s, "framerate")) {
      if (GST_VALUE_HOLDS_FRACTION(r)) {
        rates.push_back({gst_value_get_fraction_numerator(r), gst_value_get_fraction_denominator(r)});
      } else if (GST_VALUE_HOLDS_LIST(r)) {
        for (guint k = 0; k < gst_value_list_get_size(r); ++k) {
          const GValue* v = gst_value_list_get_value(r, k);
          if (GST_VALUE_HOLDS_FRACTION(v))
            rates.push_back({gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)});
        }
      } else if (GST_VALUE_HOLDS_FRACTION_RANGE(r)) {
        const GValue* max = gst_value_get_fraction_range_max(r);
        rates.push_back({gst_value_get_fraction_numerator(max), gst_value_get_fraction_denominator(max)});
      }
    }
    if (rates.empty()) rates.push_back({0, 1});
    for (const auto& f : formats)
      for (auto [sw, sh] : sizes)
        for (auto [n, d] : rates) out.push_back(gstmap::CapsEntry{media, f, sw, sh, n, d});
  }
  return out;
}

CapsRef CapsForMediaType(const MediaType& type, gstmap::Rate rate) {
  if (!type.IsVideoInfo()) return nullptr;
  const auto names = gstmap::CapsForSubtype(type.subtype);
  if (!names) return nullptr;
  const auto& b = type.videoInfo->bmiHeader;
  GstStructure* s = gst_structure_new_empty(names->first.c_str());
  if (!names->second.empty()) gst_structure_set(s, "format", G_TYPE_STRING, names->second.c_str(), nullptr);
  gst_structure_set(s, "width", G_TYPE_INT, int(b.biWidth), "height", G_TYPE_INT,
                    int(b.biHeight < 0 ? -b.biHeight : b.biHeight), nullptr);
  if (rate.first > 0 && rate.second > 0)
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, rate.first, rate.second, nullptr);
  GstCaps* caps = gst_caps_new_empty();
  gst_caps_append_structure(caps, s);
  return CapsRef(caps);
}

gstmap::DeviceIdentity IdentityOf(GstDevice* device) {
  gstmap::DeviceIdentity id;
  GstStructure* props = gst_device_get_properties(device);
  if (props) {
    int test = -1;
    if (gst_structure_get_int(props, "lumora.test-camera", &test)) id.testCamera = test;
    id.serial = StructString(props, "device.serial");
    id.vendorId = StructString(props, "device.vendor.id");
    id.productId = StructString(props, "device.product.id");
    id.busInfo = StructString(props, "v4l2.device.bus_info");
    if (id.busInfo.empty()) id.busInfo = StructString(props, "api.v4l2.cap.bus_info");
    id.card = StructString(props, "v4l2.device.card");
    if (id.card.empty()) id.card = StructString(props, "api.v4l2.cap.card");
    id.path = StructString(props, "device.path");
    if (id.path.empty()) id.path = StructString(props, "api.v4l2.path");
    gst_structure_free(props);
  }
  CharRef name(gst_device_get_display_name(device));
  if (name) id.name = name.get();
  return id;
}

std::string DisplayNameOf(GstDevice* device) { return gstmap::DeviceDisplayName(IdentityOf(device)); }

}  // namespace media::gst
