// The start-up baseline: a bare Qt main window with a menu bar and a status bar, reporting
// its first expose the way lumora2003 does under LUMORA_STARTUP_PROBE=1.
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <ctime>

namespace {

class ExposeProbe : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWindow*>(watched);
    if (!done_ && event->type() == QEvent::Expose && window && window->isExposed()) {
      done_ = true;
      timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      std::printf("shown %lld\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
  }

 private:
  bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  for (const char* title : {"&File", "&Devices", "&Options", "&Capture", "&Language", "&Style",
                            "&Help"})
    w.menuBar()->addMenu(QString::fromLatin1(title))->addAction(QStringLiteral("Item"));
  w.statusBar()->showMessage(QStringLiteral("Ready"));
  w.show();
  w.windowHandle()->installEventFilter(new ExposeProbe(&app));
  return app.exec();
}
