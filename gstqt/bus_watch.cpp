#include "gstqt/bus_watch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace media::gstqt {

BusWatch::BusWatch(GstBus* bus, std::function<void()> ready) {
  if (!bus || !QCoreApplication::instance()) return;
  GPollFD fd{};
  gst_bus_get_pollfd(bus, &fd);
  notifier_ = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, std::move(ready));
}

BusWatch::~BusWatch() = default;

}  // namespace media::gstqt
