// The smart tee (a capture stream split for the preview) and the video compressor (an
// encoder element behind a converter).
#pragma once

#include "capture/platform/gst/gst_filter.h"

namespace media::gst {

using namespace gsth;

class GSmartTeeFilter : public GFilter {
public:
  GSmartTeeFilter() : GFilter(FilterKind::SmartTee, "Smart Tee") {
    tee_ = Make("tee");
    g_object_set(tee_, "allow-not-linked", TRUE, nullptr);
    captureQueue_ = Make("queue");
    previewQueue_ = Make("queue");
    // The preview may lose frames; the capture branch may not.
    g_object_set(previewQueue_, "max-size-buffers", 2u, "leaky", 2, nullptr);
    gst_element_link(tee_, captureQueue_);
    gst_element_link(tee_, previewQueue_);
  }
  void Init() {
    AddGhostPin(PinDirection::Input, "Input", StaticPad(tee_, "sink"));
    AddGhostPin(PinDirection::Output, "Capture", StaticPad(captureQueue_, "src"), guid::kPinCategoryCapture);
    AddGhostPin(PinDirection::Output, "Preview", StaticPad(previewQueue_, "src"), guid::kPinCategoryPreview);
  }

private:
  GstElement* tee_ = nullptr;
  GstElement* captureQueue_ = nullptr;
  GstElement* previewQueue_ = nullptr;
};

class GCompressorFilter : public GFilter {
public:
  GCompressorFilter(std::string friendlyName, const std::string& factory)
      : GFilter(FilterKind::Compressor, std::move(friendlyName)) {
    // A camera's MJPG is decoded before it is compressed again; raw video passes decodebin.
    convert_ = Make("videoconvert");
    decode_ = MakeDecoderInto(convert_);
    encoder_ = Make(factory.c_str());
    if (encoder_) gst_element_link(convert_, encoder_);
  }
  bool Init() {
    if (!encoder_ || !decode_) return false;
    AddGhostPin(PinDirection::Input, "Input", StaticPad(decode_, "sink"));
    AddGhostPin(PinDirection::Output, "Output", StaticPad(encoder_, "src"));
    return true;
  }

private:
  GstElement* decode_ = nullptr;
  GstElement* convert_ = nullptr;
  GstElement* encoder_ = nullptr;
};

}  // namespace media::gst
