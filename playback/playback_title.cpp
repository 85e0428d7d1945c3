#include "playback/playback_title.h"

#include <cstdio>

namespace playback {

std::string ClipFileName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PlaybackTitle(const TitleState& s) {
  if (s.clipName.empty()) return "Reelview Media Player";
  char rate[32] = "";
  if (s.rate != 1.0) std::snprintf(rate, sizeof rate, "(Rate:%2.2f)", s.rate);
  const std::string file = ClipFileName(s.clipName);
  // Sized from its parts, so a long path is never cut short.
  std::string title(file.size() + 64, '\0');
  const int n = std::snprintf(title.data(), title.size(), "%s [%s] %s%s%s", file.c_str(),
                              s.audioOnly ? "Audio" : "Video",
                              s.volume == kVolumeSilence ? "(Muted)" : "",
                              s.playState == kPaused ? "(Paused)" : "", rate);
  title.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return title;
}

}  // namespace playback
