#include "playback/window_placement.h"

#include <algorithm>

namespace playback {

QPoint PlaceInside(const QRect& frame, const QRect& available) {
  // Pull back over the right and bottom edges first, then over the left and top ones, which
  // win when the window does not fit.
  const int x = std::max(std::min(frame.left(), available.right() - frame.width() + 1),
                         available.left());
  const int y = std::max(std::min(frame.top(), available.bottom() - frame.height() + 1),
                         available.top());
  return {x, y};
}

}  // namespace playback
