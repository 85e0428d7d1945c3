// What a screen-reader user meets in the running program: the main window with every menu,
// and every dialog and page the menus open, walked through QAccessible (no bus needed) in
// English, then in Chinese, and again after switching back and forth; a Chinese dialog shows
// no English caption or button, Qt's own included. The program runs on the GStreamer platform
// with a synthetic capture card, so the device's own pages take part.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "app/lumora2003_app.h"
#include "capture/platform/gst/test_cameras.h"
#include "capture/platform/gst/gst_platform.h"
#include "resources/resources.h"
#include "tests/app/accessibility_walk.h"
#include "tests/capture/platform/live_test_support.h"

namespace {

constexpr int kOptionsMenu = 2;

// The menu commands that open a dialog (the device's pages are added from the Options menu).
constexpr int kDialogCommands[] = {
    cmd::kSetCaptureFile, cmd::kAllocateFileSpace, cmd::kSaveCapturedVideoAs,
    cmd::kStartCapture,   cmd::kSetFrameRate,      cmd::kSetTimeLimit,
    cmd::kCompression,    cmd::kEnhancedControl,   cmd::kAppAbout};

// Checks each dialog the program runs modally, whenever it opens, and the window it belongs
// to when that is another than the main window, then closes the dialog with Cancel.
class DialogCatcher {
 public:
  explicit DialogCatcher(QWidget* main) {
    QObject::connect(&poll_, &QTimer::timeout, [this, main] {
      auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!d || d->property("walked").toBool()) return;
      d->setProperty("walked", true);
      titles << d->windowTitle();
      QStringList found = a11ywalk::Check(d);
      if (QWidget* owner = d->parentWidget() ? d->parentWidget()->window() : nullptr;
          owner && owner != main) {
        windows << QString::fromLatin1(owner->metaObject()->className());
        found << a11ywalk::Check(owner);
      }
      found << (res::LanguageFlag() == res::kLangChinese ? a11ywalk::EnglishShown(d)
                                                         : a11ywalk::ChineseShown(d));
      for (const QString& p : found) problems << d->windowTitle() + ": " + p;
      d->reject();
    });
    poll_.start(20);
  }
  // Triggers `action`; the dialogs it opened, the windows they belong to and their problems
  // are in `titles`, `windows` and `problems`.
  void Open(QAction* action) {
    titles.clear();
    windows.clear();
    problems.clear();
    action->trigger();
  }

  QStringList titles, windows, problems;

 private:
  QTimer poll_;
};

TEST(AccessibilityGstTest, EveryMenuAndDialogIsNamedInItsLanguageAcrossSwitches) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  setenv("LC_ALL", "C", 1);
  setenv("LUMORA_TEST_CAMERAS", "1", 1);
  QDir().mkpath(config.filePath("lumora2003"));
  QFile ini(config.filePath("lumora2003/capture.ini"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write(("[camprof]\nCaptureFile=" + config.filePath("clip.avi") +
             "\nVideoDevice2=@device:gst:test:0\nWantPreview=1\n").toUtf8());
  ini.close();

  static int argc = 1;
  static char name[] = "accessibility_gst_tests";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<media::IMediaPlatform> platform;
  CLumora2003App app(argc, argv, [&]() -> media::IMediaPlatform& {
    platform = media::CreateGstPlatform();
    return *platform;
  });
  res::SetLanguageFlag(res::kLangEnglish);
  CMainFrame::SetMessageBoxRunnerForTesting([](QMessageBox&) {});
  ASSERT_TRUE(app.InitInstance());
  CMainFrame* frame = app.MainFrame();
  ASSERT_TRUE(livetest::WaitFor([&] { return !frame->TimerRunning(CMainFrame::kStartupTimer); }));
  // A capture card: inputs for the crossbar page, norms for the tuner page.
  auto node = media::gst::TestCameraNode(0);
  ASSERT_TRUE(node);
  node->SetInputs({{"Composite", false}, {"S-Video", false}, {"Tuner", true}});
  node->SetStandards({{V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}});

  DialogCatcher dialogs(frame);
  const int rounds[] = {res::kLangEnglish, res::kLangChinese, res::kLangEnglish, res::kLangChinese};
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(res::LanguageFlag(), rounds[round]);
    // A screen reader reads the menus without opening them: the items carry their states
    // already (the walk checks that the tree shows the items' states).
    const QStringList main = a11ywalk::Check(frame);
    EXPECT_TRUE(main.isEmpty()) << main.join(u'\n').toStdString();
    EXPECT_FALSE(frame->Action(cmd::kStopCapture)->isEnabled());
    EXPECT_TRUE(frame->Action(rounds[round] == res::kLangChinese ? cmd::kLanguageChinese
                                                                 : cmd::kLanguageEnglish)
                    ->isChecked());
    EXPECT_TRUE(frame->Action(cmd::kStylePaper)->isChecked());

    QMetaObject::invokeMethod(frame->MenuAt(kOptionsMenu), "aboutToShow");
    QList<QAction*> opening;
    for (int id : kDialogCommands) opening << frame->Action(id);
    for (QAction* a : frame->MenuAt(kOptionsMenu)->actions())
      if (a->data().toInt() >= cmd::kDeviceDialogFirst && a->data().toInt() <= cmd::kDeviceDialogLast)
        opening << a;
    ASSERT_GE(opening.size(), int(std::size(kDialogCommands)) + 4);
    for (QAction* a : opening) {
      dialogs.Open(a);
      EXPECT_FALSE(dialogs.titles.isEmpty()) << a->text().toStdString() << " opened no dialog";
      EXPECT_TRUE(dialogs.problems.isEmpty()) << dialogs.problems.join(u'\n').toStdString();
    }

    // The windows the Capture menu opens beside the main window, with their own menus: the
    // snapshot window, and the playback window (walked with the box it shows for a capture
    // file that is not there yet).
    dialogs.Open(frame->Action(cmd::kSnapshot));
    QMainWindow* snapshot = nullptr;
    livetest::WaitFor([&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->inherits("CSnapshotWnd")) snapshot = qobject_cast<QMainWindow*>(w);
      return snapshot != nullptr;
    }, 5000);
    ASSERT_TRUE(snapshot);
    const QStringList snapshotProblems = a11ywalk::Check(snapshot);
    EXPECT_TRUE(snapshotProblems.isEmpty()) << snapshotProblems.join(u'\n').toStdString();
    snapshot->close();
    QFile::remove(config.filePath("clip.avi"));  // what Start Capture left would be played
    dialogs.Open(frame->Action(cmd::kVideoPlayback));
    EXPECT_TRUE(livetest::WaitFor([&] { return !dialogs.windows.isEmpty(); }, 5000));
    EXPECT_TRUE(dialogs.problems.isEmpty()) << dialogs.problems.join(u'\n').toStdString();

    const int next = rounds[(round + 1) % 4] == res::kLangChinese ? cmd::kLanguageChinese
                                                                   : cmd::kLanguageEnglish;
    frame->Action(next)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
  CMainFrame::SetMessageBoxRunnerForTesting({});
  frame->close();
  livetest::ConsumeQuit();
  delete frame;
  platform.reset();
  app.ExitInstance(0);
}

}  // namespace
