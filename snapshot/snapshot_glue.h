// CSnapshotGlue: keeps the snapshot window attached to the main window's right edge.
//
// It watches the main window's events (an event filter, installed once per main window; a
// re-created snapshot window only records itself again). When the main window moves or
// changes size and is neither minimised nor maximised, the snapshot window moves to one pixel
// right of its right edge, top-aligned, keeping its size. Minimising the main window minimises the snapshot
// window; restoring it shows the snapshot window normally. Like any owned window the snapshot
// window stays above the main window: it is raised (without the focus) when the main window
// is maximised or activated, where it stays put. Events always go on to the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QPoint>
#include <QWidget>

class CSnapshotGlue : public QObject {
  Q_OBJECT
public:
  // Records `snapshot` as the window to keep attached to `mainWindow`.
  static CSnapshotGlue* Attach(QWidget* mainWindow, QWidget* snapshot);
  // Where the snapshot window's top-left corner goes beside `mainWindow`.
  static QPoint DockedPosition(const QWidget& mainWindow);
  // Gives `window` the client size `size` with its frame's top-left corner at `framePos`.
  // The frame is taken from the window system each time (a window not framed yet is assumed
  // to get a frame like `mainWindow`'s), so a move never puts the client area where the
  // frame belongs.
  static void PlaceFrame(QWidget& window, QPoint framePos, QSize size, const QWidget& mainWindow);

  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  explicit CSnapshotGlue(QWidget* mainWindow);
  void KeepAbove();

  QPointer<QWidget> main_;
  QPointer<QWidget> snapshot_;
};
