#include "snapshot/snapshot_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPainter>
#include <QShowEvent>

#include "resources/resources.h"
#include "snapshot/dib.h"
#include "snapshot/gdi.h"
#include "snapshot/snapshot_glue.h"

namespace {
QPointer<CSnapshotWnd> g_window;
}

// The client area: paints the picture at its top-left corner, unscaled.
class CSnapshotView : public QWidget {
public:
  CSnapshotView(CDib& image, QWidget* parent) : QWidget(parent), image_(image) {
    setAccessibleName(QStringLiteral("Snapshot"));
    setAutoFillBackground(true);  // the window colour around and before a picture
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    CDC dc(&painter);
    image_.Draw(&dc, 0, 0, rop::kSrcCopy);
  }

private:
  CDib& image_;
};

CSnapshotWnd::CSnapshotWnd(CDib& image, QWidget* mainWindow, int menuResource)
    : QMainWindow(mainWindow, Qt::Window), image_(image), main_(mainWindow) {
  setObjectName(QLatin1String(kClassName));
  setWindowTitle(QLatin1String(kTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  view_ = new CSnapshotView(image, this);
  setCentralWidget(view_);
  if (const res::MenuResource* menu = res::FindMenu(menuResource)) {
    for (const res::MenuNode& popup : menu->bar) {
      QMenu* m = menuBar()->addMenu(QString::fromUtf8(popup.text));
      for (const res::MenuNode& item : popup.children) {
        if (item.kind != res::MenuNode::Kind::Item) continue;
        QAction* a = m->addAction(QString::fromUtf8(item.text));
        a->setObjectName(QString::number(item.id));
        if (item.id == cmd::kSave) connect(a, &QAction::triggered, this, &CSnapshotWnd::OnFileSave);
      }
    }
  }
  CSnapshotGlue::Attach(mainWindow, this);
  g_window = this;
}

CSnapshotWnd::~CSnapshotWnd() = default;

CSnapshotWnd* CSnapshotWnd::Find() { return g_window.data(); }

QWidget* CSnapshotWnd::View() const { return view_; }

void CSnapshotWnd::Place() {
  if (!main_) return;
  // The menu bar sits above the client area; it keeps its height at the new width.
  const int menuHeight = menuWidget() ? menuWidget()->heightForWidth(image_.GetWidth()) : 0;
  const int extra = menuHeight > 0 ? menuHeight
                                   : (menuWidget() ? menuWidget()->sizeHint().height() : 0);
  CSnapshotGlue::PlaceFrame(*this, CSnapshotGlue::DockedPosition(*main_),
                            QSize(image_.GetWidth(), image_.GetHeight() + extra), *main_);
}

int CSnapshotWnd::OnSnapshotRefresh() {
  Place();
  view_->update();
  return 1;
}

void CSnapshotWnd::showEvent(QShowEvent* event) {
  // Shown by the program (not restored by the window system): place it.
  if (!event->spontaneous()) Place();
  QMainWindow::showEvent(event);
}

void CSnapshotWnd::closeEvent(QCloseEvent* event) {
  if (image_.HasDib()) image_.FreeDib();
  QMainWindow::closeEvent(event);
}
