// The scripted graph on the shared graph model: connections carry the media type the device
// puts out, an in-use device refuses to connect, starting and stopping only change state.
#pragma once

#include "capture/platform/scripted/scripted_filters.h"

namespace media::scripted {

using Impl = ScriptedPlatform::Impl;

class SGraph : public model::Graph {
public:
  explicit SGraph(std::shared_ptr<Impl> impl);

  // Whether `pin` leads (through tees, grabbers, compressors) into a filter of kind `k`.
  static bool LeadsTo(const std::shared_ptr<model::Pin>& pin, FilterKind k, int depth = 0);

protected:
  Status LinkPins(model::Pin& out, model::Pin& in) override;
  void UnlinkPins(model::Pin&, model::Pin&) override {}
  std::shared_ptr<model::Filter> MakeRenderer() override;
  Status MakeVideoWindow(const std::shared_ptr<model::Filter>& renderer,
                         std::shared_ptr<IVideoWindow>& window) override;
  Status StartBackend(GraphState) override { return status::kOk; }
  void StopBackend() override {}

private:
  std::shared_ptr<Impl> impl_;
};

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

}  // namespace media::scripted
