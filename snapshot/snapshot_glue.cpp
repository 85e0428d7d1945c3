#include "snapshot/snapshot_glue.h"

#include <QEvent>
#include <QMargins>
#include <QWindow>

namespace {
constexpr char kGlueName[] = "CSnapshotGlue";
}

CSnapshotGlue::CSnapshotGlue(QWidget* mainWindow) : QObject(mainWindow), main_(mainWindow) {
  setObjectName(QLatin1String(kGlueName));
  mainWindow->installEventFilter(this);
}

CSnapshotGlue* CSnapshotGlue::Attach(QWidget* mainWindow, QWidget* snapshot) {
  if (!mainWindow) return nullptr;
  auto* glue = mainWindow->findChild<CSnapshotGlue*>(QLatin1String(kGlueName),
                                                     Qt::FindDirectChildrenOnly);
  if (!glue) glue = new CSnapshotGlue(mainWindow);
  glue->snapshot_ = snapshot;
  return glue;
}

namespace {
QMargins FrameMargins(const QWidget& w) {
  return w.windowHandle() ? w.windowHandle()->frameMargins() : QMargins();
}
}  // namespace

QPoint CSnapshotGlue::DockedPosition(const QWidget& mainWindow) {
  const QRect frame = mainWindow.geometry().marginsAdded(FrameMargins(mainWindow));
  // One pixel of gap between the two windows.
  return QPoint(frame.x() + frame.width() + 1, frame.y());
}

void CSnapshotGlue::PlaceFrame(QWidget& window, QPoint framePos, QSize size,
                               const QWidget& mainWindow) {
  QMargins frame = FrameMargins(window);
  if (frame.isNull()) frame = FrameMargins(mainWindow);
  window.setGeometry(QRect(framePos + QPoint(frame.left(), frame.top()), size));
}

void CSnapshotGlue::KeepAbove() {
  // Raising does not take the focus from the main window.
  if (snapshot_->isVisible() && !snapshot_->isMinimized()) snapshot_->raise();
}

bool CSnapshotGlue::eventFilter(QObject* watched, QEvent* event) {
  if (watched != main_ || !snapshot_) return false;
  switch (event->type()) {
    case QEvent::Move:
    // The right edge also moves with the width; leaving the maximised state, the window
    // system reports the new position before the new size.
    case QEvent::Resize:
      if (!(main_->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        PlaceFrame(*snapshot_, DockedPosition(*main_), snapshot_->size(), *main_);
        snapshot_->update();
      }
      break;
    case QEvent::WindowStateChange: {
      const Qt::WindowStates state = main_->windowState();
      if (state & Qt::WindowMinimized) {
        snapshot_->showMinimized();
      } else if (!(state & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        if (snapshot_->isMinimized()) snapshot_->showNormal();
      } else {
        KeepAbove();
      }
      break;
    }
    // A window manager may stack the activated main window over every other window, its
    // owned ones included.
    case QEvent::WindowActivate: KeepAbove(); break;
    default: break;
  }
  return false;
}
