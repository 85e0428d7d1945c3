// Reads a GStreamer bus on the UI thread without a GLib main loop: a QSocketNotifier on the
// bus's poll descriptor calls `ready` whenever messages are waiting; the callback drains
// them with gst_bus_pop.
#pragma once

#include <gst/gst.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace media::gstqt {

class BusWatch {
public:
  // Does nothing when there is no application object (no event loop to watch with).
  BusWatch(GstBus* bus, std::function<void()> ready);
  ~BusWatch();
  BusWatch(const BusWatch&) = delete;
  BusWatch& operator=(const BusWatch&) = delete;

private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace media::gstqt
