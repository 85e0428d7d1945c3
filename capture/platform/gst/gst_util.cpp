#include "capture/platform/gst/gst_util.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <cstdio>

namespace media::gst {

uint32_t NowMs() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Warn(const char* where, const std::string& what) {
  std::fprintf(stderr, "lumora2003: %s: %s\n", where, what.c_str());
}

// Runs `fn` on the UI thread later (at once when there is no event loop object).
void Post(std::function<void()> fn) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  else
    fn();
}

std::string StructString(const GstStructure* s, const char* field) {
  if (!s) return {};
  if (const gchar* v = gst_structure_get_string(s, field)) return v;
  return {};
}


}  // namespace media::gst
