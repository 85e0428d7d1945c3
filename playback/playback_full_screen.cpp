// Full screen: the video window leaves the playback window and covers the screen; its keys are
// drained to the playback window so the key table keeps working, and Escape or the toggle
// bring it back.
#include <QVBoxLayout>

#include "playback/playback_window.h"

void CPlaybackWnd::ToggleFullScreen() {
  if (audioOnly_ || !video_) return;
  if (fullScreen_) {
    video_->setWindowState(video_->windowState() & ~Qt::WindowFullScreen);
    video_->setParent(client_);  // a child again, hidden until shown
    clientLayout_->addWidget(video_);
    drain_ = savedDrain_;
    video_->show();
    video_->raise();
    update();
    Foreground();
    fullScreen_ = false;
  } else {
    savedDrain_ = drain_;
    drain_ = this;
    clientLayout_->removeWidget(video_);
    video_->setParent(nullptr, Qt::Window);
    video_->setWindowTitle(windowTitle());
    video_->showFullScreen();
    video_->activateWindow();
    fullScreen_ = true;
  }
}
