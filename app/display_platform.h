// Which of Qt's display platforms the program asks for, chosen before the application object
// exists. A native Wayland client cannot place its own windows, so the snapshot window could
// not dock to the main window there; XWayland can.
#pragma once

#include <functional>
#include <string>

namespace display_platform {

// What QT_QPA_PLATFORM should be set to, "" to leave Qt's own choice: "xcb" in a Wayland
// session that also offers an X display, "wayland" where Wayland is all there is. The user's
// own QT_QPA_PLATFORM always stands. `env` reads a variable (nullptr when unset).
std::string Choose(const std::function<const char*(const char*)>& env);

// Applies Choose to this process's environment until Release: programs started from ours
// (the help browser) make their own choice.
void Apply();
void Release();

}  // namespace display_platform
