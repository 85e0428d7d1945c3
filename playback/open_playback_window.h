// The main window's "Video Playback" command: opens the playback window "PlayBack Window"
// with the playback menu of the current language, presets the clip to the capture file (so a
// fresh capture plays at once; an empty name asks for a file) and posts Open to it.
#pragma once

#include <string>

class QWidget;

void OpenPlaybackWindow(QWidget* mainWindow, const std::string& captureFileName);
