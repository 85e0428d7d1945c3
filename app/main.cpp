// lumora2003: the desktop video-capture and snapshot program.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include "app/display_platform.h"
#include "app/lumora2003_app.h"
#include "app/quit_signals.h"
#include "capture/main_frame.h"
#include "capture/platform/media_platform.h"

namespace {

// LUMORA_STARTUP_PROBE=1 prints the monotonic clock (ns) and the display platform once the main
// window is shown, then ends the run; the start-up benchmark measures process start to that
// moment.
bool StartupProbeWanted() {
  const char* v = std::getenv("LUMORA_STARTUP_PROBE");
  return v && *v == '1';
}

class ExposeProbe : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWindow*>(watched);
    if (!m_done && event->type() == QEvent::Expose && window && window->isExposed()) {
      m_done = true;
      timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      std::printf("shown %lld %s\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec,
                  qPrintable(QGuiApplication::platformName()));
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, [] {
        if (auto* app = static_cast<CLumora2003App*>(qApp); app->MainFrame())
          app->MainFrame()->close();
        qApp->quit();
      });
    }
    return false;
  }

 private:
  bool m_done = false;
};

}  // namespace

int main(int argc, char** argv) {
  display_platform::Apply();
  CLumora2003App app(argc, argv, []() -> media::IMediaPlatform& { return media::MediaPlatform(); });
  display_platform::Release();
  if (!app.InitInstance()) {
    app.ExitInstance(1);
    return 1;
  }
  CloseOnQuitSignals(app.MainFrame());
  if (StartupProbeWanted()) {
    // Shown = the main window's first expose: mapped, laid out and about to be painted.
    auto* probe = new ExposeProbe(&app);
    if (CMainFrame* frame = app.MainFrame()) frame->windowHandle()->installEventFilter(probe);
  }
  const int code = app.exec();
  return app.ExitInstance(code);
}
