// A main frame on the scripted platform with its profile folder in a fresh temporary
// folder, and the messages it shows collected instead of shown. Shared by the capture tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "capture_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class FrameFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(configHome_.isValid());
    qputenv("XDG_CONFIG_HOME", configHome_.path().toLocal8Bit());
    res::SetLanguageFlag(res::kLangEnglish);
    CMainFrame::SetMessageBoxRunnerForTesting(
        [this](QMessageBox& box) { messages_.push_back(box.text().toStdString()); });
  }
  void TearDown() override {
    frame_.reset();
    CMainFrame::SetMessageBoxRunnerForTesting({});
    qunsetenv("XDG_CONFIG_HOME");
  }

  // A new frame (as at program start) on the platform; the settings are not read yet.
  void MakeFrame(int menu = res::kMainMenuEnglish) {
    frame_ = std::make_unique<CMainFrame>(menu, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    frame_->setCentralWidget(new QWidget(frame_.get()));
  }
  // A new frame that has run its start-up timer (settings read, device selected).
  void StartFrame(int menu = res::kMainMenuEnglish) {
    MakeFrame(menu);
    QElapsedTimer clock;
    clock.start();
    while (frame_->TimerRunning(CMainFrame::kStartupTimer) && clock.elapsed() < 5000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(frame_->TimerRunning(CMainFrame::kStartupTimer));
  }
  // Closes the frame as the user would (closing order, settings written).
  void CloseFrame() {
    frame_->close();
    frame_.reset();
    ClearQuit();
  }
  // Closing the main window ends the application's event loop; in a test no such loop
  // runs, and the pending quit would end every later modal loop at once. Running the
  // application's loop for one turn consumes it.
  static void ClearQuit() {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
  }
  static void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  QString ProfilePath() const { return capture_settings::ProfilePath(); }
  void WriteProfile(const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(ProfilePath()).absolutePath());
    QFile f(ProfilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  QByteArray ReadProfile() const {
    QFile f(ProfilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // Texts of the Devices / Options popups' entries (separators as "-").
  std::vector<std::string> MenuTexts(int position) const {
    std::vector<std::string> out;
    for (QAction* a : frame_->MenuAt(position)->actions())
      out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
  }
  bool Logged(const std::string& line) {
    const auto& log = platform_->CallLog();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  int CountLogged(const std::string& prefix) {
    const auto& log = platform_->CallLog();
    return int(std::count_if(log.begin(), log.end(),
                             [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }

  QTemporaryDir configHome_;
  media::ScopedScriptedPlatform platform_{media::TwoCameraSettings()};
  std::unique_ptr<CMainFrame> frame_;
  std::vector<std::string> messages_;
};
