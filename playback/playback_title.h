// The playback window's title: "<file> [Video] (Muted)(Paused)(Rate:1.50)" while a clip is
// chosen, "Reelview Media Player" otherwise.
#pragma once

#include <string>

namespace playback {

enum PlayState { kStopped = 0, kPaused = 1, kRunning = 2, kNoClip = 3 };

inline constexpr long kVolumeFull = 0;
inline constexpr long kVolumeSilence = -10000;

struct TitleState {
  std::string clipName;  // full path; empty when no clip is chosen
  bool audioOnly = true;
  long volume = kVolumeFull;
  int playState = kNoClip;
  double rate = 1.0;
};

// The text after the last '\' or '/' (the whole name when neither occurs).
std::string ClipFileName(const std::string& path);
std::string PlaybackTitle(const TitleState& state);

}  // namespace playback
