// Start-up of the application object on the scripted media platform: the language from the
// system locale, the document template, the command line, the window shown.
//
// Each case builds its own application object after setting the locale environment, so it
// must run in a process of its own (CTest runs every case alone).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>

#include "app/about_box.h"
#include "app/lumora2003_app.h"
#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"

namespace {

struct Startup {
  explicit Startup(const char* locale, std::vector<std::string> args = {}) {
    setenv("LC_ALL", locale, 1);
    setenv("LANG", locale, 1);
    res::SetLanguageFlag(res::kLangEnglish);  // as in a fresh process
    // The profile (skin choice) goes to a folder of the case's own.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profileDir.path());
    argv_.push_back(const_cast<char*>("lumora2003"));
    args_ = std::move(args);
    for (auto& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    argc_ = int(argv_.size()) - 1;
    app = std::make_unique<CLumora2003App>(
        argc_, argv_.data(), [this]() -> media::IMediaPlatform& { return *platform; });
  }
  // Qt reads the system locale once per process.
  static bool LocaleTaken(const char* name) {
    return QLocale::system().name() == QString::fromLatin1(name);
  }
  QTemporaryDir profileDir;
  media::ScopedScriptedPlatform platform{media::TwoCameraSettings()};
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  int argc_ = 0;
  std::unique_ptr<CLumora2003App> app;
};

QString PopupText(CMainFrame* f, int position) {
  return f->menuBar()->actions().at(position)->text();
}

TEST(StartupTest, MainlandChineseSystemOpensTheChineseMenu) {
  Startup s("zh_CN.UTF-8");
  if (!Startup::LocaleTaken("zh_CN")) GTEST_SKIP() << "locale fixed by an earlier case";
  ASSERT_TRUE(s.app->InitInstance());
  EXPECT_EQ(res::LanguageFlag(), res::kLangChinese);
  CMainFrame* f = s.app->MainFrame();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->MenuResource(), res::kMainMenuChinese);
  EXPECT_EQ(s.app->DocTemplate()->ResourceId(), res::kMainMenuChinese);
  EXPECT_EQ(f->Action(cmd::kStartCapture)->text(), QStringLiteral("视频捕获"));
  EXPECT_EQ(f->windowTitle(), QStringLiteral("无标题 - lumora2003"));
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->centralWidget()->objectName(), QStringLiteral("CLumora2003View"));
  CAboutBox about(f);
  EXPECT_EQ(about.TemplateId(), res::kAboutBoxChinese);
  EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 lumora2003"));
}

TEST(StartupTest, HongKongChineseSystemOpensTheChineseMenu) {
  Startup s("zh_HK.UTF-8");
  if (!Startup::LocaleTaken("zh_HK")) GTEST_SKIP() << "locale fixed by an earlier case";
  ASSERT_TRUE(s.app->InitInstance());
  EXPECT_EQ(s.app->MainFrame()->MenuResource(), res::kMainMenuChinese);
}

TEST(StartupTest, OtherSystemsOpenTheEnglishMenu) {
  Startup s("zh_TW.UTF-8");
  if (!Startup::LocaleTaken("zh_TW")) GTEST_SKIP() << "locale fixed by an earlier case";
  ASSERT_TRUE(s.app->InitInstance());
  CMainFrame* f = s.app->MainFrame();
  EXPECT_EQ(res::LanguageFlag(), res::kLangEnglish);
  EXPECT_EQ(f->MenuResource(), res::kMainMenuEnglish);
  EXPECT_EQ(PopupText(f, 0), QStringLiteral("&File"));
  EXPECT_EQ(f->Action(cmd::kAppAbout)->text(), QStringLiteral("About lumora2003(&A)..."));
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Untitled - lumora2003"));
  CAboutBox about(f);
  EXPECT_EQ(about.TemplateId(), res::kAboutBoxEnglish);
  // A later language switch decides the next About box.
  res::SetLanguageFlag(res::kLangChinese);
  CAboutBox next(f);
  EXPECT_EQ(next.TemplateId(), res::kAboutBoxChinese);
}

TEST(StartupTest, NewDocumentLeavesTheCaptureStateAlone) {
  Startup s("C");
  ASSERT_TRUE(s.app->InitInstance());
  CMainFrame* f = s.app->MainFrame();
  f->OnCommand(cmd::kPreview);  // want preview on (no device: nothing is built)
  ASSERT_TRUE(f->WantPreview());
  f->OnCommand(cmd::kFileNew);
  EXPECT_EQ(s.app->MainFrame(), f);
  EXPECT_TRUE(f->WantPreview());
}

TEST(StartupTest, UnreadableDocumentOnTheCommandLineEndsStartUp) {
  Startup s("C", {"/nonexistent/lumora/file.doc"});
  EXPECT_FALSE(s.app->InitInstance());
  // The frame made for the document is deleted, not merely hidden or forgotten.
  EXPECT_EQ(s.app->MainFrame(), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<CMainFrame*>(w), nullptr) << "main frame left behind";
  }
}

TEST(StartupTest, ExitClosesTheWindowAndEndsTheLoop) {
  Startup s("C");
  ASSERT_TRUE(s.app->InitInstance());
  QTimer::singleShot(0, [&] { s.app->MainFrame()->OnCommand(cmd::kAppExit); });
  EXPECT_EQ(s.app->ExitInstance(s.app->exec()), 0);
  EXPECT_FALSE(s.app->MainFrame()->isVisible());
}

TEST(AboutBoxTest, OkClosesTheBoxAccepted) {
  Startup s("C");
  CAboutBox box;
  auto* ok = box.findChild<QPushButton*>(QString::number(res::kIdOk));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  QTimer::singleShot(0, ok, &QPushButton::click);
  EXPECT_EQ(box.exec(), QDialog::Accepted);
}

// The lines name the project's version; at 1.01 they are the templates' own texts.
TEST(AboutBoxTest, VersionLineShowsTheProjectVersionInBothLanguages) {
  Startup s("C");
  ASSERT_STREQ(LUMORA_VERSION, "1.01");
  const std::pair<int, const char*> cases[] = {
      {res::kLangEnglish, "lumora2003 1.01 version"},
      {res::kLangChinese, "lumora2003 1.0 1版"}};
  for (const auto& [language, line] : cases) {
    res::SetLanguageFlag(language);
    CAboutBox box;
    QStringList texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QString::fromUtf8(line))) << texts.join('|').toStdString();
  }
}

}  // namespace
