#include "gstqt/video_widget.h"

#include <gst/video/video.h>

#include <QImage>
#include <QMetaObject>
#include <QPaintEngine>
#include <QPainter>

#include "gstqt/yuv_to_bgrx.h"

namespace media::gstpreview {

PreviewWidget::PreviewWidget(std::shared_ptr<FrameSlot> slot) : slot_(std::move(slot)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Keys (Escape ends a capture) belong to the main window, not to the picture.
  setFocusPolicy(Qt::NoFocus);
  std::lock_guard lock(slot_->mutex);
  slot_->receiver = this;
}

PreviewWidget::~PreviewWidget() {
  {
    std::lock_guard lock(slot_->mutex);
    slot_->receiver = nullptr;
  }
  if (converter_) gst_video_converter_free(converter_);
  if (layoutCaps_) gst_caps_unref(layoutCaps_);
}

bool PreviewWidget::Layout(GstCaps* caps) {
  if (!caps) return false;
  if (caps == layoutCaps_) return true;
  if (layoutCaps_) gst_caps_unref(layoutCaps_);
  layoutCaps_ = nullptr;
  if (!gst_video_info_from_caps(&layout_, caps)) return false;
  layoutCaps_ = gst_caps_ref(caps);
  return true;
}

bool PreviewWidget::Convert(const GstVideoFrame& frame, uint8_t* out, int stride, int w, int h) {
  if (w <= 0 || h <= 0) return false;
  if (w == GST_VIDEO_FRAME_WIDTH(&frame) && h == GST_VIDEO_FRAME_HEIGHT(&frame) &&
      YuvToBgrx(frame, out, stride))
    return true;
  GstVideoInfo outInfo;
  gst_video_info_set_format(&outInfo, GST_VIDEO_FORMAT_BGRx, guint(w), guint(h));
  // The converter keeps rate, aspect and interlacing: only format and layout change.
  outInfo.fps_n = frame.info.fps_n;
  outInfo.fps_d = frame.info.fps_d;
  outInfo.par_n = frame.info.par_n;
  outInfo.par_d = frame.info.par_d;
  outInfo.interlace_mode = frame.info.interlace_mode;
  outInfo.stride[0] = stride;
  outInfo.size = gsize(stride) * gsize(h);
  if (!converter_ || !gst_video_info_is_equal(&converterIn_, &frame.info) ||
      !gst_video_info_is_equal(&converterOut_, &outInfo)) {
    if (converter_) gst_video_converter_free(converter_);
    // Scaling (a window smaller or larger than the video) is bilinear: as good as a
    // preview needs, and far cheaper than the default cubic taps.
    converter_ = gst_video_converter_new(
        const_cast<GstVideoInfo*>(&frame.info), &outInfo,
        gst_structure_new("config", GST_VIDEO_CONVERTER_OPT_DITHER_METHOD,
                          GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
                          GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
                          GST_VIDEO_RESAMPLER_METHOD_LINEAR, nullptr));
    converterIn_ = frame.info;
    converterOut_ = outInfo;
  }
  if (!converter_) return false;
  GstBuffer* wrapped = gst_buffer_new_wrapped_full(GstMemoryFlags(0), out, outInfo.size, 0,
                                                   outInfo.size, nullptr, nullptr);
  GstVideoFrame dest;
  const bool mapped = gst_video_frame_map(&dest, &outInfo, wrapped, GST_MAP_WRITE);
  if (mapped) {
    gst_video_converter_frame(converter_, &frame, &dest);
    gst_video_frame_unmap(&dest);
  }
  gst_buffer_unref(wrapped);
  return mapped;
}

uint8_t* PreviewWidget::DirectTarget(QPainter& painter, int& stride) {
  QPaintEngine* engine = painter.paintEngine();
  QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
  if (!device || device->devType() != QInternal::Image || visibleRegion() != QRegion(rect()))
    return nullptr;
  const int width = this->width(), height = this->height();
  auto* image = static_cast<QImage*>(device);
  const QTransform t = painter.deviceTransform();
  if (t.type() > QTransform::TxTranslate || image->devicePixelRatio() != 1.0 ||
      (image->format() != QImage::Format_RGB32 &&
       image->format() != QImage::Format_ARGB32_Premultiplied))
    return nullptr;
  const QPoint at(int(t.dx()), int(t.dy()));
  if (!image->rect().contains(QRect(at, QSize(width, height)))) return nullptr;
  stride = int(image->bytesPerLine());
  return image->bits() + qsizetype(at.y()) * stride + qsizetype(at.x()) * 4;
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
  GstVideoFrame frame;
  if (!Layout(gst_sample_get_caps(sample)) ||
      !gst_video_frame_map(&frame, &layout_, gst_sample_get_buffer(sample), GST_MAP_READ)) {
    painter.fillRect(rect(), Qt::black);
    gst_sample_unref(sample);
    return;
  }
  const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
  const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(&frame);
  bool drawn = false;
  if (format == GST_VIDEO_FORMAT_BGRx || format == GST_VIDEO_FORMAT_BGRA) {
    const QImage image(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), w, h,
                       GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
    painter.drawImage(rect(), image);
    drawn = true;
  } else if (int stride = 0; uint8_t* direct = DirectTarget(painter, stride)) {
    drawn = Convert(frame, direct, stride, width(), height());
  } else {
    // Converted (and scaled) to the widget's size, into a picture kept from frame to frame.
    if (scratch_.size() != size()) scratch_ = QImage(size(), QImage::Format_RGB32);
    if (!scratch_.isNull() &&
        Convert(frame, scratch_.bits(), int(scratch_.bytesPerLine()), width(), height())) {
      painter.drawImage(0, 0, scratch_);
      drawn = true;
    }
  }
  gst_video_frame_unmap(&frame);
  if (drawn) ++painted_;
  else painter.fillRect(rect(), Qt::black);
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
