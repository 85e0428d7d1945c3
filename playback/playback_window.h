// CPlaybackWnd: the playback window. It plays one clip through a CPlaybackGraph, with the
// playback menu (131 Chinese, 135 English), the playback keys, window sizes taken from the
// video, full screen, rate, frame stepping and mute. One window exists at a time
// (OpenPlaybackWindow replaces an earlier one). Failures show in a "Reelview Sample" box.
//
// The jobs are split over files: playback_window.cpp (window, menu, commands, keys, title),
// playback_clip.cpp (open, start and close a clip, window sizes), playback_control.cpp (pause,
// stop, rate, frame step, mute, graph events), playback_full_screen.cpp (full screen).
// Everything runs on the UI thread.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "playback/playback_graph.h"
#include "playback/playback_title.h"

class QVBoxLayout;

class CPlaybackWnd : public QMainWindow {
 public:
  static constexpr const char* kClassName = "PlayBackWnd";
  static constexpr const char* kTitle = "PlayBack Window";
  // Outer sizes, frame included: the smallest the user may make the window, and the window of
  // an audio clip or of no clip.
  static constexpr int kMinWidth = 200;
  static constexpr int kMinHeight = 120;
  static constexpr int kPlayerWidth = 240;
  static constexpr int kPlayerHeight = 120;

  // `menuResource`: 131 (Chinese) or 135 (English).
  CPlaybackWnd(QWidget* owner, int menuResource);
  ~CPlaybackWnd() override;
  // The playback window of the run, or nullptr.
  static CPlaybackWnd* Find();

  void SetClipName(const std::string& name) { clipName_ = name; }
  void OnCommand(int id);
  // A key of the playback key table (Qt key code); other keys do nothing.
  void OnKey(int key);
  QAction* Action(int id) const;

  // --- Clip (playback_clip.cpp) ---
  void OpenClip();
  void CloseClip();
  // Sizes the window to the video scaled by multiplier / divisor and enables the playback
  // items; success without a change for a clip without video.
  playback::Status InitVideoWindow(int multiplier, int divisor);
  // The 240 x 120 window (frame included) of an audio clip or of no clip, playback items
  // greyed.
  playback::Status InitPlayerWindow();

  // --- Control (playback_control.cpp) ---
  void PauseClip();  // pause/play toggle
  void StopClip();   // rewinds and shows the first frame
  void ModifyRate(double delta);
  void SetRate(double rate);
  playback::Status StepFrames(int frames);
  void ToggleMute();
  void OnGraphNotify();

  // --- Full screen (playback_full_screen.cpp) ---
  void ToggleFullScreen();

  void UpdateMainTitle();

  // State, read by tests and tools.
  int PlayState() const { return state_; }
  bool AudioOnly() const { return audioOnly_; }
  bool FullScreen() const { return fullScreen_; }
  double Rate() const { return rate_; }
  long Volume() const { return volume_; }
  const std::string& ClipName() const { return clipName_; }
  playback::CPlaybackGraph* Graph() const { return graph_.get(); }
  QWidget* VideoWidget() const;
  uint32_t RegistrationCookie() const { return rotCookie_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void BuildMenuBar(int menuResource);
  void EnablePlaybackItems(bool enable);
  // Checks the size item `id` and unchecks the other (0 unchecks both).
  void CheckSizeItem(int id);
  bool GetClipFileName(std::string& name);
  playback::Status StartClip();
  void ReleaseGraph();
  void AttachVideo();
  void AcquireFrameStepper();
  void Foreground();
  // The frame the window system puts around the client area (none until it is framed).
  QSize FrameSize() const;
  // The outer sizes need the frame, which the window system gives (or changes) only once the
  // window is shown: the minimum, and the player size while the window has it, follow it.
  void FollowFrame();
  // Resizes the window (frame excluded) and keeps it on its screen.
  void ResizeOnScreen(const QSize& size);
  // Moves the window of client size `size`, frame included, into the available area of the
  // screen that holds the centre of `by`, when part of it lies outside. The window opens on
  // the main window's screen and later stays on the one the user left it on.
  void KeepOnScreen(const QSize& size, const QWidget& by);

  QWidget* client_ = nullptr;
  QVBoxLayout* clientLayout_ = nullptr;
  std::map<int, QAction*> actions_;

  std::string clipName_;
  std::unique_ptr<playback::CPlaybackGraph> graph_;
  QPointer<QWidget> video_;     // the video window while a video clip is open
  QPointer<QWidget> drain_;     // where the video window's keys go (full screen)
  QPointer<QWidget> savedDrain_;
  bool canStep_ = false;        // the frame stepper was acquired
  QSize frameSeen_{-1, -1};     // the frame the sizes were last taken with
  bool playerSized_ = false;    // the window has the player size
  bool placed_ = false;         // first shown, on the main window's screen
  int state_ = playback::kNoClip;
  bool audioOnly_ = true;
  bool fullScreen_ = false;
  long volume_ = playback::kVolumeFull;
  double rate_ = 1.0;
  uint32_t rotCookie_ = 0;
};
