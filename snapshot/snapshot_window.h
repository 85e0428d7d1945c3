// CSnapshotWnd: the window that shows the last snapshot and saves it.
//
// A top-level window owned by the main window, with its own menu (130 Chinese, 134 English:
// File > Save, command 32783). It stands one pixel right of the main window, top-aligned,
// sized so that its client area (below the menu) is exactly the picture. It paints the
// shared CDib, which the main frame owns; closing the window frees the picture's data (the
// CDib itself lives on) and destroys the window.
#pragma once

#include <QMainWindow>
#include <QPointer>

class CDib;
class CSnapshotView;

class CSnapshotWnd : public QMainWindow {
  Q_OBJECT
public:
  static constexpr const char* kTitle = "Snapshot Window";
  static constexpr const char* kClassName = "KestrelSnapshowWindow";
  // The refresh message a new snapshot sends to an open window (first user message + 2).
  static constexpr int kRefreshMessage = 1026;

  CSnapshotWnd(CDib& image, QWidget* mainWindow, int menuResource);
  ~CSnapshotWnd() override;

  // The open snapshot window, if any.
  static CSnapshotWnd* Find();

  // A new picture replaced the old one: place again and repaint. Returns 1.
  int OnSnapshotRefresh();
  // Moves and sizes the window beside the main window around the picture.
  void Place();
  // The Save command (32783).
  void OnFileSave();

  CDib& Image() { return image_; }
  QWidget* View() const;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  CDib& image_;
  QPointer<QWidget> main_;
  CSnapshotView* view_ = nullptr;
};
