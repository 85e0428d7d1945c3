#include "capture/capture_status.h"

#include <cstdint>
#include <cstdio>

namespace capture_status {

std::string RunningText(int32_t delivered, int32_t dropped, int32_t elapsedMs) {
  const int32_t t = elapsedMs;
  char text[128];
  std::snprintf(text, sizeof text, "Captured %d frames (%d dropped) %d.%dsec", delivered,
                dropped, t / 1000, t / 100 - (t / 1000) * 10);
  return text;
}

std::string ClosingText(int32_t delivered, int32_t dropped, int32_t elapsedMs,
                        int32_t averageBytes) {
  const int32_t t = elapsedMs;
  double fps = 0.0;
  int32_t rate = 0;
  if (t > 0) {
    fps = delivered * 1000.0 / t;
    // Held in 32 bits; a rate past that range (a broken counter) is pinned, not wrapped.
    const double bytesPerSec = static_cast<double>(delivered) / t * averageBytes * 1000.0;
    rate = bytesPerSec >= 2147483647.0 ? INT32_MAX
           : bytesPerSec <= -2147483648.0 ? INT32_MIN
                                          : static_cast<int32_t>(bytesPerSec);
  }
  const int32_t whole = static_cast<int32_t>(fps);
  const int32_t tenths = static_cast<int32_t>(fps * 10) - 10 * whole;
  char text[192];
  std::snprintf(text, sizeof text,
                "Captured %d frames in %d.%d sec (%d dropped): %d.%d fps %d.%03d Meg/sec",
                delivered, t / 1000, t / 100 - (t / 1000) * 10, dropped, whole, tenths,
                rate / 1000000, rate / 1000 - (rate / 1000000) * 1000);
  return text;
}

}  // namespace capture_status
