// The status bar texts of a capture run: the running figures (each timer tick) and the
// closing statistics. Pure formatting, so the arithmetic can be checked on its own.
#pragma once

#include <cstdint>
#include <string>

namespace capture_status {

// "Captured N frames (D dropped) S.Tsec" for `elapsedMs` since the start.
std::string RunningText(int32_t delivered, int32_t dropped, int32_t elapsedMs);

// "Captured N frames in S.T sec (D dropped): F.f fps M.mmm Meg/sec". The data rate is
// N / t * averageBytes * 1000 bytes a second; its thousandths always print as three digits
// (1 050 000 bytes/s reads "1.050", not "1.50").
std::string ClosingText(int32_t delivered, int32_t dropped, int32_t elapsedMs,
                        int32_t averageBytes);

}  // namespace capture_status
