// The video renderer: a preview widget painted from an appsink, and its video window.
#pragma once

#include <gst/app/gstappsink.h>

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>

#include "capture/platform/gst/gst_filter.h"
#include "gstqt/video_widget.h"
#include "capture/platform/qt_owner.h"

namespace media::gst {

using namespace gsth;

class GRendererFilter : public GFilter {
public:
  // No queue of its own: what feeds it (the grabber in a preview graph, the smart tee's
  // preview branch in a capture graph) already has a leaky one, and the appsink never
  // blocks. A second queue only handed every frame to one more thread.
  GRendererFilter() : GFilter(FilterKind::Renderer, "Video Renderer"), slot(std::make_shared<gstpreview::FrameSlot>()) {
    // decodebin passes raw video through and decodes what cameras send compressed (MJPG).
    GstElement* convert = Make("videoconvert");
    GstElement* decode = MakeDecoderInto(convert);
    GstElement* caps = Make("capsfilter");
    // Formats the widget paints itself pass videoconvert untouched: the widget converts
    // them only for the frames it shows, in one pass into the window.
    CapsRef paintable(gst_caps_from_string(gstpreview::PreviewWidget::kPaintableCaps));
    g_object_set(caps, "caps", paintable.get(), nullptr);
    GstElement* sink = Make("appsink");
    // wait-on-eos=false: a capture graph's EOS must not wait for the preview to be pulled.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, "wait-on-eos", FALSE,
                 "enable-last-sample", FALSE, nullptr);
    gst_element_link_many(convert, caps, sink, nullptr);
    gstpreview::AttachSink(GST_APP_SINK(sink), slot);
    input_ = decode;
  }
  ~GRendererFilter() override {
    gst_element_set_state(Bin(), GST_STATE_NULL);
    delete widget_.data();
  }
  void Init() { AddGhostPin(PinDirection::Input, "Input", StaticPad(input_, "sink")); }
  // The widget exists only in a widget application.
  gstpreview::PreviewWidget* Widget() {
    if (!widget_ && qobject_cast<QApplication*>(QCoreApplication::instance())) {
      widget_ = new gstpreview::PreviewWidget(slot);
      widget_->hide();
    }
    return widget_.data();
  }
  std::shared_ptr<gstpreview::FrameSlot> slot;

private:
  GstElement* input_ = nullptr;
  QPointer<gstpreview::PreviewWidget> widget_;
};

class GVideoWindow : public IVideoWindow {
public:
  explicit GVideoWindow(std::shared_ptr<GRendererFilter> r) : r_(std::move(r)) {}
  Status put_Owner(OwnerWindow owner) override {
    auto* w = r_->Widget();
    if (!w) return owner ? status::kNoInterface : status::kOk;
    const bool visible = w->isVisible();
    w->setParent(WidgetFromOwner(owner));
    if (!owner) w->hide();
    else if (visible) w->show();
    return status::kOk;
  }
  Status put_WindowStyle(long) override { return status::kOk; }  // always a child widget
  Status SetWindowPosition(int left, int top, int width, int height) override {
    if (auto* w = r_->Widget()) w->setGeometry(left, top, width, height);
    return status::kOk;
  }
  Status put_Visible(bool visible) override {
    auto* w = r_->Widget();
    if (!w) return visible ? status::kNoInterface : status::kOk;
    // A window without owner would float on its own: only owned windows are shown.
    w->setVisible(visible && w->parentWidget());
    return status::kOk;
  }

private:
  std::shared_ptr<GRendererFilter> r_;
};

}  // namespace media::gst
