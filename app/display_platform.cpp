#include "app/display_platform.h"

#include <cstdlib>
#include <cstring>

namespace display_platform {

std::string Choose(const std::function<const char*(const char*)>& env) {
  auto set = [&](const char* name) {
    const char* v = env(name);
    return v && *v;
  };
  if (set("QT_QPA_PLATFORM")) return "";
  const char* session = env("XDG_SESSION_TYPE");
  const bool wayland = set("WAYLAND_DISPLAY") || (session && std::strcmp(session, "wayland") == 0);
  if (!wayland) return "";
  return set("DISPLAY") ? "xcb" : "wayland";
}

namespace {
bool g_applied = false;
}  // namespace

void Apply() {
  const std::string choice = Choose([](const char* name) { return std::getenv(name); });
  g_applied = !choice.empty();
  if (g_applied) ::setenv("QT_QPA_PLATFORM", choice.c_str(), 1);
}

void Release() {
  if (g_applied) ::unsetenv("QT_QPA_PLATFORM");
  g_applied = false;
}

}  // namespace display_platform
