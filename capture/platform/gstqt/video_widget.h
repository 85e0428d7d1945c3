// The preview renderer's widget: paints the newest frame an appsink received.
//
// The appsink's callback (streaming thread) only swaps the newest sample into the shared
// slot and posts one queued repaint at a time; the widget maps and draws the sample on the
// UI thread. Frames are BGRx, drawn without a copy through a QImage over the mapped buffer.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

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

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  std::shared_ptr<FrameSlot> slot_;
  uint64_t painted_ = 0;
};

// Installs the callbacks that feed `slot` from `sink`. With `showPreroll` the frame a paused
// pipeline prerolls is shown too (a player's first frame after a seek or a frame step); a live
// preview never prerolls.
void AttachSink(GstAppSink* sink, const std::shared_ptr<FrameSlot>& slot, bool showPreroll = false);

}  // namespace media::gstpreview
