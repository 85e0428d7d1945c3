// The one Qt-facing seam of the media platform: which widget owns a video window.
//
// The video window becomes a child widget of the owner (GStreamer backend) and is placed
// with SetWindowPosition in the owner's coordinates. Only Qt code includes this header.
#pragma once

#include <QWidget>

#include "capture/platform/media_types.h"

namespace media {

inline OwnerWindow OwnerFromWidget(QWidget* widget) { return OwnerWindow{widget}; }
inline QWidget* WidgetFromOwner(OwnerWindow owner) { return static_cast<QWidget*>(owner.handle); }

}  // namespace media
