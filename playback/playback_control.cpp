// Pause and play, stop, rate, frame stepping, mute and the graph's events.
#include "playback/playback_box.h"
#include "playback/playback_window.h"

using playback::Failed;
using playback::ShowPlaybackError;
using playback::Status;

void CPlaybackWnd::PauseClip() {
  if (!graph_) return;
  if (state_ == playback::kPaused || state_ == playback::kStopped) {
    if (!Failed(graph_->Run())) state_ = playback::kRunning;
  } else {
    if (!Failed(graph_->Pause())) state_ = playback::kPaused;
  }
  UpdateMainTitle();
}

void CPlaybackWnd::StopClip() {
  if (!graph_) return;
  if (state_ == playback::kPaused || state_ == playback::kRunning) {
    graph_->Stop();
    state_ = playback::kStopped;
    graph_->SeekToStart();
    graph_->Pause();  // prerolls, so the first frame shows
  }
  UpdateMainTitle();
}

void CPlaybackWnd::ModifyRate(double delta) {
  if (!graph_ || delta == 0.0) return;
  double rate = 1.0;
  if (Failed(graph_->GetRate(rate))) return;
  SetRate(rate + delta);
}

void CPlaybackWnd::SetRate(double rate) {
  // No limit of our own: a rate the graph refuses leaves everything as it was.
  if (!graph_ || Failed(graph_->PutRate(rate))) return;
  rate_ = rate;
  UpdateMainTitle();
}

Status CPlaybackWnd::StepFrames(int frames) {
  if (!canStep_ || !graph_) return playback::kOk;
  if (frames > 1) {
    const Status hr = graph_->CanStep(frames);
    if (hr != playback::kOk) return hr;
  }
  // Pauses a running clip, starts a stopped one; the step then leaves the picture paused.
  if (state_ != playback::kPaused) PauseClip();
  return graph_->Step(frames);
}

void CPlaybackWnd::ToggleMute() {
  if (!graph_) return;
  long volume = 0;
  Status hr = graph_->GetVolume(volume);
  if (hr == playback::kNotImplemented) return;  // a clip without sound
  if (Failed(hr)) {
    ShowPlaybackError(this, "Failed to read audio volume!  hr=0x%x\r\n", hr);
    return;
  }
  const long wanted = volume == playback::kVolumeFull ? playback::kVolumeSilence
                                                       : playback::kVolumeFull;
  if (Failed(hr = graph_->PutVolume(wanted))) {
    ShowPlaybackError(this, "FAILED(hr=0x%x) in pBA->put_Volume(g_lVolume)\n", hr);
    return;
  }
  volume_ = wanted;
  UpdateMainTitle();
}

void CPlaybackWnd::OnGraphNotify() {
  playback::CPlaybackGraph::Event event;
  while (graph_ && graph_->GetEvent(event)) {
    if (event != playback::CPlaybackGraph::Event::Complete) continue;
    // A finished clip starts again from the beginning and keeps playing.
    if (!Failed(graph_->SeekToStart())) continue;
    Status hr = graph_->Stop();
    if (Failed(hr))
      ShowPlaybackError(this, "Failed(0x%08lx) to stop media clip!\r\n",
                        static_cast<unsigned long>(hr));
    if (Failed(hr = graph_->Run()))
      ShowPlaybackError(this, "Failed(0x%08lx) to reset media clip!\r\n",
                        static_cast<unsigned long>(hr));
  }
}
