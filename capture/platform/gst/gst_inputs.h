// A device's video inputs and TV norms as a crossbar and a TV tuner on its capture pin,
// read from its V4L2 node. Offered only when there is a choice to make: a crossbar for more
// than one input, a tuner for a tuner input or more than one norm.
#pragma once

#include <memory>

#include "capture/platform/media_platform.h"
#include "capture/platform/v4l2/v4l2_inputs.h"

namespace media::gst {

constexpr Guid kCrossbarPage{0x8A5D5C43, 0x2B7E, 0x4C1F, {0x9A, 0x61, 0x4C, 0x55, 0x58, 0x42, 0x41, 0x52}};
constexpr Guid kTunerPage{0x8A5D5C44, 0x2B7E, 0x4C1F, {0x9A, 0x61, 0x4C, 0x55, 0x54, 0x55, 0x4E, 0x45}};

class GInputsHost {
public:
  explicit GInputsHost(std::unique_ptr<v4l2::CV4L2Inputs> inputs) : inputs_(std::move(inputs)) {}
  v4l2::CV4L2Inputs& Inputs() { return *inputs_; }

protected:
  static Status OnePage(PropertyPageList& pages, const Guid& page) {
    pages.pages.assign(1, page);
    return status::kOk;
  }
  std::unique_ptr<v4l2::CV4L2Inputs> inputs_;
};

class GCrossbar : public IAMCrossbar, public GInputsHost {
public:
  using GInputsHost::GInputsHost;
  // Null when the node lists fewer than two inputs.
  static std::shared_ptr<GCrossbar> For(std::unique_ptr<v4l2::CV4L2Inputs> inputs) {
    if (!inputs || inputs->Inputs().size() < 2) return nullptr;
    return std::make_shared<GCrossbar>(std::move(inputs));
  }
  Status GetPages(PropertyPageList& pages) override { return OnePage(pages, kCrossbarPage); }
  // The inputs belong to the capture device itself: no crossbar filter upstream.
  std::shared_ptr<IBaseFilter> AsFilter() override { return nullptr; }
};

class GTuner : public IAMTVTuner, public GInputsHost {
public:
  using GInputsHost::GInputsHost;
  // Null when the node has neither a tuner input nor a choice of norms.
  static std::shared_ptr<GTuner> For(std::unique_ptr<v4l2::CV4L2Inputs> inputs) {
    if (!inputs || (!inputs->HasTuner() && inputs->Standards().size() < 2)) return nullptr;
    return std::make_shared<GTuner>(std::move(inputs));
  }
  Status GetPages(PropertyPageList& pages) override { return OnePage(pages, kTunerPage); }
};

}  // namespace media::gst
