#include "snapshot/snapshot_glue.h"

#include <QEvent>

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

QPoint CSnapshotGlue::DockedPosition(const QWidget& mainWindow) {
  const QRect frame = mainWindow.frameGeometry();
  // One pixel of gap between the two windows.
  return QPoint(frame.x() + frame.width() + 1, frame.y());
}

bool CSnapshotGlue::eventFilter(QObject* watched, QEvent* event) {
  if (watched != main_ || !snapshot_) return false;
  switch (event->type()) {
    case QEvent::Move:
      if (!(main_->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        snapshot_->move(DockedPosition(*main_));
        snapshot_->update();
      }
      break;
    case QEvent::WindowStateChange: {
      const Qt::WindowStates state = main_->windowState();
      if (state & Qt::WindowMinimized)
        snapshot_->showMinimized();
      else if (!(state & (Qt::WindowMaximized | Qt::WindowFullScreen)) && snapshot_->isMinimized())
        snapshot_->showNormal();
      break;
    }
    default: break;
  }
  return false;
}
