#include "capture/platform/scripted/scripted_graph.h"

namespace media::scripted {

SGraph::SGraph(std::shared_ptr<Impl> impl)
    : Graph([weak = std::weak_ptr<Impl>(impl)](const std::string& op, const std::string& arg) {
        auto i = weak.lock();
        return i ? i->Check(op, arg) : status::kOk;
      }),
      impl_(std::move(impl)) {}

bool SGraph::LeadsTo(const std::shared_ptr<model::Pin>& pin, FilterKind k, int depth) {
  auto peer = pin ? pin->Peer() : nullptr;
  if (!peer || depth > 16) return false;
  auto f = peer->Owner();
  if (!f) return false;
  if (f->Kind() == k) return true;
  for (auto& p : f->Pins())
    if (p->Direction() == PinDirection::Output && LeadsTo(p, k, depth + 1)) return true;
  return false;
}

Status SGraph::LinkPins(model::Pin& out, model::Pin& in) {
  auto of = std::static_pointer_cast<SFilter>(out.Owner());
  if (of->Kind() == FilterKind::Capture) {
    auto cap = std::static_pointer_cast<SCaptureFilter>(of);
    if (impl_->settings.devices[cap->DeviceIndex()].inUse) return status::kCannotConnect;
  }
  const MediaType type = of->OutputType(out);
  static_cast<SPin&>(out).SetType(type);
  static_cast<SPin&>(in).SetType(type);
  return status::kOk;
}

std::shared_ptr<model::Filter> SGraph::MakeRenderer() {
  auto r = std::make_shared<SRendererFilter>(impl_);
  r->AddPin(PinDirection::Input, "Input");
  return r;
}

Status SGraph::MakeVideoWindow(const std::shared_ptr<model::Filter>& renderer, std::shared_ptr<IVideoWindow>& window) {
  window = std::make_shared<SVideoWindow>(impl_, std::static_pointer_cast<SRendererFilter>(renderer));
  return status::kOk;
}

}  // namespace media::scripted
