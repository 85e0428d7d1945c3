// SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl+C) close the main window the normal way, so
// a capture is ended and its file finished exactly as when the user closes the window.
#pragma once

class QWidget;

// Installs the handlers; a signal then closes `window` from the event loop. Call once.
void CloseOnQuitSignals(QWidget* window);
