#include "capture/platform/gstqt/video_widget.h"

#include <gst/video/video.h>

#include <QImage>
#include <QMetaObject>
#include <QPainter>

namespace media::gstpreview {

PreviewWidget::PreviewWidget(std::shared_ptr<FrameSlot> slot) : slot_(std::move(slot)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Keys (Escape ends a capture) belong to the main window, not to the picture.
  setFocusPolicy(Qt::NoFocus);
  std::lock_guard lock(slot_->mutex);
  slot_->receiver = this;
}

PreviewWidget::~PreviewWidget() {
  std::lock_guard lock(slot_->mutex);
  slot_->receiver = nullptr;
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  GstSample* sample = nullptr;
  {
    std::lock_guard lock(slot_->mutex);
    if (slot_->sample) sample = gst_sample_ref(slot_->sample);
  }
  if (!sample) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  GstVideoInfo info;
  GstVideoFrame frame;
  if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
      gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
    const QImage image(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                       GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                       GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
    painter.drawImage(rect(), image);
    gst_video_frame_unmap(&frame);
    ++painted_;
  } else {
    painter.fillRect(rect(), Qt::black);
  }
  gst_sample_unref(sample);
}

namespace {

GstFlowReturn Deliver(GstSample* sample, gpointer data) {
  auto& slot = *static_cast<std::shared_ptr<FrameSlot>*>(data);
  if (!sample) return GST_FLOW_OK;
  std::lock_guard lock(slot->mutex);
  if (slot->sample) gst_sample_unref(slot->sample);
  slot->sample = sample;
  slot->framesReceived++;
  // One repaint in flight at a time: a slow UI thread skips frames instead of queueing them.
  if (slot->receiver && !slot->updatePending.exchange(true)) {
    std::weak_ptr<FrameSlot> weak = slot;
    QMetaObject::invokeMethod(
        slot->receiver,
        [weak] {
          auto s = weak.lock();
          if (!s) return;
          s->updatePending = false;
          QWidget* widget = nullptr;
          {
            std::lock_guard lock(s->mutex);
            widget = static_cast<QWidget*>(s->receiver);
          }
          if (widget) widget->update();
        },
        Qt::QueuedConnection);
  }
  return GST_FLOW_OK;
}

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
  return Deliver(gst_app_sink_pull_sample(sink), data);
}

GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer data) {
  return Deliver(gst_app_sink_pull_preroll(sink), data);
}

void DeleteSlotRef(gpointer data) { delete static_cast<std::shared_ptr<FrameSlot>*>(data); }

}  // namespace

void AttachSink(GstAppSink* sink, const std::shared_ptr<FrameSlot>& slot, bool showPreroll) {
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = OnNewSample;
  if (showPreroll) callbacks.new_preroll = OnNewPreroll;
  gst_app_sink_set_callbacks(sink, &callbacks, new std::shared_ptr<FrameSlot>(slot), DeleteSlotRef);
}

}  // namespace media::gstpreview
