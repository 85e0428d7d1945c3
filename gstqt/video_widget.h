// The preview renderer's widget: paints the newest frame an appsink received.
//
// The appsink's callback (streaming thread) only swaps the newest sample into the shared
// slot and posts one queued repaint at a time; the widget maps and draws the sample on the
// UI thread. BGRx frames are drawn through a QImage over the mapped buffer. Camera formats
// (I420, YUY2, NV12, ...) are converted and scaled to the widget's size at paint time,
// straight into the window's backing store when the widget is unobscured: one pass over the
// pixels shown instead of a conversion of the whole frame and a copy, and frames the screen
// never shows are never converted. At the picture's own size libyuv does it (yuv_to_bgrx.h).
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QImage>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

namespace media::gstpreview {

// Shared between the appsink callback and the widget; outlives either.
struct FrameSlot {
  std::mutex mutex;
  GstSample* sample = nullptr;  // newest frame (owned)
  QObject* receiver = nullptr;  // the widget while it exists
  std::atomic<bool> updatePending{false};
  std::atomic<uint64_t> framesReceived{0};
  ~FrameSlot() {
    if (sample) gst_sample_unref(sample);
  }
};

class PreviewWidget : public QWidget {
public:
  explicit PreviewWidget(std::shared_ptr<FrameSlot> slot);
  ~PreviewWidget() override;
  uint64_t FramesPainted() const { return painted_; }

  // Raw formats the widget paints itself; anything else is converted upstream.
  static constexpr const char* kPaintableCaps =
      "video/x-raw,format={BGRx,BGRA,I420,YV12,NV12,NV21,YUY2,UYVY,YVYU,RGBx,xRGB,xBGR,RGB,BGR}";

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  // Converts `frame` to BGRx of `width` x `height` (scaling when the frame's size differs)
  // into `out` (stride in bytes); false when it cannot.
  bool Convert(const GstVideoFrame& frame, uint8_t* out, int stride, int width, int height);
  // The backing store's pixels under this widget when it may be written directly.
  uint8_t* DirectTarget(QPainter& painter, int& stride);

  // The frame layout read from `layoutCaps_` (held), read again only when the caps change.
  bool Layout(GstCaps* caps);

  std::shared_ptr<FrameSlot> slot_;
  uint64_t painted_ = 0;
  GstCaps* layoutCaps_ = nullptr;
  GstVideoInfo layout_{};
  QImage scratch_;  // the converted frame when the backing store cannot take it directly
  GstVideoConverter* converter_ = nullptr;
  GstVideoInfo converterIn_{};
  GstVideoInfo converterOut_{};
};

// Installs the callbacks that feed `slot` from `sink`. With `showPreroll` the frame a paused
// pipeline prerolls is shown too (a player's first frame after a seek or a frame step); a live
// preview never prerolls.
void AttachSink(GstAppSink* sink, const std::shared_ptr<FrameSlot>& slot, bool showPreroll = false);

}  // namespace media::gstpreview
