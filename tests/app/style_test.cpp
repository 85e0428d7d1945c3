// Skins, language and help through the running application: the profile's "style" section at
// start-up and on a choice, the Style and Language menus, the help page, and a missing skin
// control. Every case starts the application on the scripted platform with a profile folder
// of its own.
#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdlib>

#include "app/about_box.h"
#include "app/lumora2003_app.h"
#include "ui/skin_engine.h"
#include "app/skin_host_dlg.h"
#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"

namespace {

constexpr int kStyleCommands[] = {cmd::kStyleGreen, cmd::kStylePaper, cmd::kStyleGray,
                                  cmd::kStyleMedia, cmd::kStyleChizh, cmd::kStyleTopSecret};

// Records the URLs the application asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

class StyleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    res::SetLanguageFlag(res::kLangEnglish);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profileDir_.path());
    argv_[0] = name_;
    app_ = std::make_unique<CLumora2003App>(
        argc_, argv_, [this]() -> media::IMediaPlatform& { return *platform_; });
  }
  void TearDown() override {
    CSkinHostDlg::SetEngineFactoryForTesting({});
    CLumora2003App::SetMessageBoxRunnerForTesting({});
  }

  // The profile the application writes: $XDG_CONFIG_HOME/lumora2003/lumora2003.ini.
  QString ProfilePath() const { return profileDir_.filePath(QStringLiteral("lumora2003/lumora2003.ini")); }
  void WriteProfile(const QString& path, const QString& defaultSkin) {
    QDir().mkpath(QFileInfo(ProfilePath()).path());
    QSettings s(ProfilePath(), QSettings::IniFormat);
    if (!path.isNull()) s.setValue(QStringLiteral("style/path"), path);
    if (!defaultSkin.isNull()) s.setValue(QStringLiteral("style/default"), defaultSkin);
  }
  QVariant Stored(const char* key) const {
    return QSettings(ProfilePath(), QSettings::IniFormat).value(QLatin1String(key));
  }
  // The Style items checked once the menu opens.
  std::vector<int> CheckedStyles() {
    QMetaObject::invokeMethod(frame()->MenuAt(5), "aboutToShow");
    std::vector<int> checked;
    for (int id : kStyleCommands)
      if (frame()->Action(id)->isChecked()) checked.push_back(id);
    return checked;
  }
  CMainFrame* frame() const { return app_->MainFrame(); }
  QString LoadedSkin() const { return skin::Current() ? skin::Current()->SkinName() : QString(); }

  QTemporaryDir profileDir_;
  media::ScopedScriptedPlatform platform_{media::TwoCameraSettings()};
  char name_[16] = "lumora2003";
  char* argv_[2] = {nullptr, nullptr};
  int argc_ = 1;
  std::unique_ptr<CLumora2003App> app_;
};

TEST_F(StyleTest, FirstRunStoresTheSkinFolderAndLoadsPaperFromIt) {
  ASSERT_TRUE(app_->InitInstance());
  const QString folder = CMainFrame::DefaultSkinFolder();
  EXPECT_TRUE(folder.endsWith(QStringLiteral("/share/lumora2003/skins/")));
  EXPECT_EQ(Stored("style/path").toString(), folder);
  EXPECT_FALSE(Stored("style/default").isValid());
  EXPECT_EQ(frame()->SkinFolder(), folder);
  EXPECT_EQ(skin::Current()->SkinPath(), folder + QStringLiteral("Paper.skn"));
  EXPECT_EQ(frame()->property(skin::kSkinNameProperty).toString(), QStringLiteral("Paper"));
  EXPECT_EQ(CheckedStyles(), std::vector<int>{cmd::kStylePaper});
  // The About box skins itself when it is made.
  CAboutBox about(frame());
  EXPECT_EQ(about.property(skin::kSkinNameProperty).toString(), QStringLiteral("Paper"));
}

TEST_F(StyleTest, ChoosingASkinLoadsItStoresItAndChecksOnlyIt) {
  ASSERT_TRUE(app_->InitInstance());
  const QString folder = frame()->SkinFolder();
  frame()->OnCommand(cmd::kStyleMedia);
  EXPECT_EQ(Stored("style/default").toString(), folder + QStringLiteral("Media.skn"));
  EXPECT_EQ(LoadedSkin(), QStringLiteral("Media"));
  EXPECT_EQ(frame()->property(skin::kSkinNameProperty).toString(), QStringLiteral("Media"));
  EXPECT_EQ(CheckedStyles(), std::vector<int>{cmd::kStyleMedia});
  // "Grey" is the galaxy skin, numbered 3.
  frame()->OnCommand(cmd::kStyleGray);
  EXPECT_EQ(Stored("style/default").toString(), folder + QStringLiteral("galaxy.skn"));
  EXPECT_EQ(LoadedSkin(), QStringLiteral("Galaxy"));
  EXPECT_EQ(frame()->CurrentSkin(), 3);
  EXPECT_EQ(CheckedStyles(), std::vector<int>{cmd::kStyleGray});
}

// A maximised window stays so when the skin changes or the preview refits the window.
TEST_F(StyleTest, SkinsAndPreviewKeepTheWindowsState) {
  ASSERT_TRUE(app_->InitInstance());
  // A window manager answers a while later (none under the offscreen platform).
  const auto settle = [] {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  };
  for (const Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowNoState}) {
    frame()->setWindowState(state);
    settle();
    const QRect geometry = frame()->geometry();
    for (int id : kStyleCommands) {
      frame()->OnCommand(id);
      settle();
      EXPECT_EQ(frame()->windowState(), state) << id;
      EXPECT_EQ(frame()->geometry(), geometry) << id;
    }
    if (state != Qt::WindowMaximized) continue;
    for (int i = 0; i < 2; ++i) frame()->OnCommand(cmd::kPreview);
    settle();
    EXPECT_EQ(frame()->windowState(), state);
    EXPECT_EQ(frame()->geometry(), geometry);
  }
}

TEST_F(StyleTest, RestartLoadsTheStoredSkinFromTheStoredFolderButChecksPaper) {
  // A folder of the user's own, stored without its final slash.
  QTemporaryDir own;
  const QString folder = own.path() + QStringLiteral("/skins");
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(QFile::copy(QStringLiteral(LUMORA_SOURCE_DIR "/resources/skins/TopSecret.skn"),
                          folder + QStringLiteral("/TopSecret.skn")));
  WriteProfile(folder, folder + QStringLiteral("/TopSecret.skn"));
  ASSERT_TRUE(app_->InitInstance());
  EXPECT_EQ(LoadedSkin(), QStringLiteral("TopSecret"));
  EXPECT_EQ(frame()->SkinFolder(), folder + u'/');
  EXPECT_EQ(frame()->CurrentSkin(), CMainFrame::kPaperSkin);
  EXPECT_EQ(CheckedStyles(), std::vector<int>{cmd::kStylePaper});
  // A stored folder is left as the user wrote it.
  EXPECT_EQ(Stored("style/path").toString(), folder);
}

TEST_F(StyleTest, AStoredSkinThatIsGoneLeavesTheLookAndStartsNormally) {
  WriteProfile(QString(), QStringLiteral("/nonexistent/skins/Gone.skn"));
  ASSERT_TRUE(app_->InitInstance());
  EXPECT_TRUE(frame()->isVisible());
  EXPECT_FALSE(skin::Current()->HasSkin());
  EXPECT_FALSE(frame()->property(skin::kSkinNameProperty).isValid());
  frame()->OnCommand(cmd::kStyleChizh);
  EXPECT_EQ(LoadedSkin(), QStringLiteral("Chizh"));
}

TEST_F(StyleTest, LanguageSwitchInstallsOneFreshMenuAndRebuildsTheDeviceLists) {
  ASSERT_TRUE(app_->InitInstance());
  frame()->OnCommand(cmd::kStyleMedia);
  auto entries = [this](int position) {
    QMenu* popup = frame()->MenuAt(position);
    QMetaObject::invokeMethod(popup, "aboutToShow");
    QStringList texts;
    for (QAction* a : popup->actions()) texts << a->text();
    return texts;
  };
  const QStringList devices = entries(1);
  const QStringList options = entries(2);
  auto popups = [this] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return frame()->menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size();
  };
  // The bar's own popups, besides the seven of the menu.
  const qsizetype before = popups();
  ASSERT_GE(before, 7);
  frame()->SetPaneText(QStringLiteral("Ready"));

  frame()->OnCommand(cmd::kLanguageChinese);
  // The title and the idle message follow the language.
  EXPECT_EQ(frame()->windowTitle(), QStringLiteral("无标题 - lumora2003"));
  EXPECT_EQ(frame()->PaneText(), QStringLiteral("就绪"));
  EXPECT_EQ(res::LanguageFlag(), res::kLangChinese);
  EXPECT_EQ(frame()->MenuResource(), res::kMainMenuChinese);
  EXPECT_EQ(frame()->menuBar()->actions().size(), 7);
  EXPECT_EQ(popups(), before);
  EXPECT_EQ(frame()->MenuAt(0)->title(), QStringLiteral("文件(&F)"));
  EXPECT_EQ(frame()->Action(cmd::kHelp)->text(), QStringLiteral("帮助"));
  EXPECT_EQ(frame()->Action(cmd::kStyleGray)->text(), QStringLiteral("Gray"));
  // The device entries and the device's dialogs are listed again in the fresh menu.
  ASSERT_FALSE(devices.isEmpty());
  EXPECT_EQ(entries(1), devices);
  EXPECT_EQ(entries(2).size(), options.size());
  // The checks follow the language and the skin chosen before.
  EXPECT_TRUE(frame()->Action(cmd::kLanguageChinese)->isChecked());
  EXPECT_FALSE(frame()->Action(cmd::kLanguageEnglish)->isChecked());
  EXPECT_EQ(CheckedStyles(), std::vector<int>{cmd::kStyleMedia});
  // Dialogs made afterwards speak the new language.
  EXPECT_EQ(CAboutBox(frame()).TemplateId(), res::kAboutBoxChinese);

  frame()->OnCommand(cmd::kLanguageEnglish);
  EXPECT_EQ(res::LanguageFlag(), res::kLangEnglish);
  EXPECT_EQ(frame()->MenuResource(), res::kMainMenuEnglish);
  EXPECT_EQ(popups(), before);
  EXPECT_EQ(frame()->MenuAt(0)->title(), QStringLiteral("&File"));
  EXPECT_EQ(frame()->windowTitle(), QStringLiteral("Untitled - lumora2003"));
  EXPECT_EQ(frame()->PaneText(), QStringLiteral("Ready"));
  EXPECT_EQ(entries(1), devices);
  EXPECT_EQ(entries(2), options);
  EXPECT_TRUE(frame()->Action(cmd::kLanguageEnglish)->isChecked());
}

TEST_F(StyleTest, HelpOpensThePageBesideTheSkinFolder) {
  ASSERT_TRUE(app_->InitInstance());
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "Open");
  frame()->OnCommand(cmd::kHelp);
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(recorder.opened.size(), 1);
  const QString page = recorder.opened.first().toLocalFile();
  EXPECT_EQ(page, QDir::cleanPath(frame()->SkinFolder() + QStringLiteral("../hlp/hlp.htm")));
  // The build tree carries the page where an installed program finds it.
  EXPECT_TRUE(QFileInfo(page).isFile()) << page.toStdString();
}

// With no handler and no desktop to ask (the offscreen platform opens nothing) the page does
// not open: the user is told so, with the path to open by hand, in the interface's language.
TEST_F(StyleTest, HelpThatCannotOpenShowsThePagesPath) {
  ASSERT_TRUE(app_->InitInstance());
  std::vector<QString> shown;
  CMainFrame::SetMessageBoxRunnerForTesting([&](QMessageBox& box) { shown.push_back(box.text()); });
  const QString page = CMainFrame::HelpPathFor(frame()->SkinFolder());
  for (auto [language, opening] : {std::pair{res::kLangEnglish, "Could not open the help page"},
                                   std::pair{res::kLangChinese, "无法打开帮助页"}}) {
    res::SetLanguageFlag(language);
    shown.clear();
    frame()->OnCommand(cmd::kHelp);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith(QString::fromUtf8(opening))) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].endsWith(page)) << shown[0].toStdString();
  }
  CMainFrame::SetMessageBoxRunnerForTesting({});
}

TEST_F(StyleTest, HelpPathDropsTheSkinsFolderAndAddsTheHelpPage) {
  EXPECT_EQ(CMainFrame::HelpPathFor(QStringLiteral("/opt/prog/skins/")),
            QStringLiteral("/opt/prog/hlp/hlp.htm"));
  EXPECT_EQ(CMainFrame::HelpPathFor(QStringLiteral("/home/a b/share/lumora2003/skins/")),
            QStringLiteral("/home/a b/share/lumora2003/hlp/hlp.htm"));
  // A folder that is not called "skins" gives the program's own page.
  const QString own = CMainFrame::HelpPathFor(CMainFrame::DefaultSkinFolder());
  EXPECT_EQ(CMainFrame::HelpPathFor(QStringLiteral("/x/")), own);
  EXPECT_EQ(CMainFrame::HelpPathFor(QString()), own);
  EXPECT_EQ(CMainFrame::HelpPathFor(QStringLiteral("/opt/myskins/")), own);
  EXPECT_TRUE(own.endsWith(QStringLiteral("/share/lumora2003/hlp/hlp.htm")));
}

TEST_F(StyleTest, WithoutTheSkinControlOnlyTheMessageAppears) {
  CSkinHostDlg::SetEngineFactoryForTesting([] { return std::unique_ptr<CSkinEngine>(); });
  int shown = 0;
  CLumora2003App::SetMessageBoxRunnerForTesting([&](QMessageBox& box) {
    ++shown;
    EXPECT_EQ(box.text(), QStringLiteral("Could not initialize ActiveSkin control.\n"
                                         "Please make sure it is installed properly."));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.parentWidget(), nullptr);
  });
  EXPECT_FALSE(app_->InitInstance());
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(app_->MainFrame(), nullptr);
  EXPECT_EQ(skin::Current(), nullptr);
  // Nothing was written either.
  EXPECT_FALSE(QFileInfo::exists(ProfilePath()));
}

TEST_F(StyleTest, ExitReleasesTheSkinInterface) {
  ASSERT_TRUE(app_->InitInstance());
  ASSERT_NE(skin::Current(), nullptr);
  frame()->close();
  app_->ExitInstance(0);
  EXPECT_EQ(skin::Current(), nullptr);
}

}  // namespace

#include "style_test.moc"
