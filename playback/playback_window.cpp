#include "playback/playback_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenuBar>
#include <QVBoxLayout>

#include "playback/open_playback_window.h"
#include "resources/resources.h"

namespace {
QPointer<CPlaybackWnd> g_window;

// The items that need a video clip: greyed and enabled together.
constexpr int kPlaybackItems[] = {cmd::kPlayPausePlay,    cmd::kPlayStop,
                                  cmd::kPlayDoubleSize,   cmd::kPlayNormalSize,
                                  cmd::kPlayFullScreen,   cmd::kPlayRateIncrease,
                                  cmd::kPlayRateDecrease, cmd::kPlayRateNormal,
                                  cmd::kPlayRateHalf,     cmd::kPlayRateDouble};
}  // namespace

CPlaybackWnd::CPlaybackWnd(QWidget* owner, int menuResource) : QMainWindow(owner, Qt::Window) {
  setObjectName(QLatin1String(kClassName));
  setWindowTitle(QLatin1String(kTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  setFocusPolicy(Qt::StrongFocus);  // the keys of the key table arrive here
  client_ = new QWidget(this);
  client_->setAccessibleName(QStringLiteral("Playback"));
  client_->setBackgroundRole(QPalette::Base);  // the window colour behind an audio clip
  client_->setAutoFillBackground(true);
  clientLayout_ = new QVBoxLayout(client_);
  clientLayout_->setContentsMargins(0, 0, 0, 0);  // the video fills the client area
  setCentralWidget(client_);
  BuildMenuBar(menuResource);
  FollowFrame();
  resize(100, 100);
  g_window = this;
}

CPlaybackWnd::~CPlaybackWnd() { ReleaseGraph(); }

CPlaybackWnd* CPlaybackWnd::Find() { return g_window.data(); }

QWidget* CPlaybackWnd::VideoWidget() const { return video_.data(); }

void CPlaybackWnd::BuildMenuBar(int menuResource) {
  const res::MenuResource* menu = res::FindMenu(menuResource);
  if (!menu) return;
  for (const res::MenuNode& popup : menu->bar) {
    QMenu* m = menuBar()->addMenu(QString::fromUtf8(popup.text));
    for (const res::MenuNode& item : popup.children) {
      if (item.kind == res::MenuNode::Kind::Separator) {
        m->addSeparator();
        continue;
      }
      if (item.kind != res::MenuNode::Kind::Item) continue;
      QAction* a = m->addAction(QString::fromUtf8(item.text));
      a->setObjectName(QString::number(item.id));
      if (item.id == cmd::kPlayNormalSize || item.id == cmd::kPlayDoubleSize)
        a->setCheckable(true);
      const int id = item.id;
      connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
      actions_.emplace(id, a);
    }
  }
}

QAction* CPlaybackWnd::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CPlaybackWnd::EnablePlaybackItems(bool enable) {
  for (int id : kPlaybackItems)
    if (QAction* a = Action(id)) a->setEnabled(enable);
}

void CPlaybackWnd::CheckSizeItem(int id) {
  for (int item : {cmd::kPlayDoubleSize, cmd::kPlayNormalSize})
    if (QAction* a = Action(item)) a->setChecked(item == id);
}

void CPlaybackWnd::OnCommand(int id) {
  switch (id) {
    case cmd::kPlayOpenClip:
      if (state_ != playback::kNoClip) CloseClip();
      OpenClip();
      break;
    case cmd::kFileClose: CloseClip(); break;
    case cmd::kPlayExit: close(); break;
    case cmd::kPlayPausePlay: PauseClip(); break;
    case cmd::kPlayStop: StopClip(); break;
    case cmd::kPlayNormalSize:
      InitVideoWindow(1, 1);
      CheckSizeItem(cmd::kPlayNormalSize);
      break;
    case cmd::kPlayDoubleSize:
      InitVideoWindow(2, 1);
      CheckSizeItem(cmd::kPlayDoubleSize);
      break;
    case cmd::kPlayFullScreen: ToggleFullScreen(); break;
    case cmd::kPlayRateIncrease: ModifyRate(0.25); break;
    case cmd::kPlayRateDecrease: ModifyRate(-0.25); break;
    case cmd::kPlayRateNormal: SetRate(1.0); break;
    case cmd::kPlayRateHalf: SetRate(0.5); break;
    case cmd::kPlayRateDouble: SetRate(2.0); break;
    default: break;
  }
}

void CPlaybackWnd::OnKey(int key) {
  if (key >= Qt::Key_2 && key <= Qt::Key_9) {
    StepFrames(key - Qt::Key_0);
    return;
  }
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F: ToggleFullScreen(); break;
    case Qt::Key_Escape:
      if (fullScreen_)
        ToggleFullScreen();
      else
        CloseClip();
      break;
    case Qt::Key_Space:
    case Qt::Key_1: StepFrames(1); break;
    case Qt::Key_Left: ModifyRate(-0.25); break;
    case Qt::Key_Right: ModifyRate(0.25); break;
    case Qt::Key_Down: SetRate(1.0); break;
    case Qt::Key_N: OnCommand(cmd::kPlayNormalSize); break;
    case Qt::Key_D: OnCommand(cmd::kPlayDoubleSize); break;
    case Qt::Key_H:
      InitVideoWindow(1, 2);
      CheckSizeItem(0);
      break;
    case Qt::Key_T:
      InitVideoWindow(3, 4);
      CheckSizeItem(0);
      break;
    case Qt::Key_M: ToggleMute(); break;
    case Qt::Key_P: PauseClip(); break;
    case Qt::Key_S: StopClip(); break;
    case Qt::Key_Q:
    case Qt::Key_X:
    case Qt::Key_F12: CloseClip(); break;
    default: break;
  }
}

void CPlaybackWnd::keyPressEvent(QKeyEvent* event) {
  // Letters arrive as their upper-case key codes whatever the shift state.
  OnKey(event->key());
  QMainWindow::keyPressEvent(event);
}

bool CPlaybackWnd::eventFilter(QObject* watched, QEvent* event) {
  // The full-screen video passes its keys to the message drain, so they still control play.
  if (watched == video_ && drain_ == this && event->type() == QEvent::KeyPress) {
    OnKey(static_cast<QKeyEvent*>(event)->key());
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void CPlaybackWnd::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FollowFrame();
  // The window system opens it over the main window, which may put part of it off screen.
  if (!placed_) {
    placed_ = true;
    KeepOnScreen(size(), parentWidget() ? *parentWidget() : *this);
  }
}

// A window manager frames a window after mapping it and then moves its client area.
void CPlaybackWnd::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  FollowFrame();
}

void CPlaybackWnd::closeEvent(QCloseEvent* event) {
  CloseClip();
  event->accept();
}

void CPlaybackWnd::UpdateMainTitle() {
  const playback::TitleState s{clipName_, audioOnly_, volume_, state_, rate_};
  setWindowTitle(QFile::decodeName(playback::PlaybackTitle(s).c_str()));
}

void CPlaybackWnd::Foreground() {
  raise();
  activateWindow();
  setFocus();
}

void OpenPlaybackWindow(QWidget* mainWindow, const std::string& captureFileName) {
  // One playback window at a time: a second request closes the first and its clip, so no
  // graph is left behind without a window.
  if (CPlaybackWnd* old = CPlaybackWnd::Find()) old->close();
  auto* window = new CPlaybackWnd(
      mainWindow, res::PickResource(res::kPlaybackMenuChinese, res::kPlaybackMenuEnglish));
  window->SetClipName(captureFileName);
  QMetaObject::invokeMethod(
      window, [window] { window->OnCommand(cmd::kPlayOpenClip); }, Qt::QueuedConnection);
  window->show();
}
