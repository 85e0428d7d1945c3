// Where the playback window goes on its screen: the whole window, frame included, stays in the
// screen's available area when it opens and whenever the program resizes it.
#pragma once

#include <QPoint>
#include <QRect>

namespace playback {

// The top-left corner for a window whose frame is `frame` so that all of it lies in
// `available`, moved as little as possible. A window larger than the area keeps its top-left
// corner in it (the title bar stays reachable).
QPoint PlaceInside(const QRect& frame, const QRect& available);

}  // namespace playback
