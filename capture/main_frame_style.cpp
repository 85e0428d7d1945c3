// The main frame's skins, interface language and help page.
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QUrl>
#include <array>

#include "ui/accessibility.h"
#include "ui/skin_engine.h"
#include "capture/main_frame.h"
#include "capture/profile_file.h"
#include "resources/resources.h"

namespace {

// Section "style" of the application's own profile: the file QSettings names for the
// application, written like every other profile (capture/profile_file.h).
constexpr const char* kStyleSection = "style";
constexpr const char* kPathKey = "path";
constexpr const char* kDefaultKey = "default";

CProfileFile StyleProfile() {
  CProfileFile profile(QSettings().fileName());
  profile.Load();
  return profile;
}

QString StyleValue(const CProfileFile& profile, const char* key) {
  return QString::fromStdString(profile.Get(kStyleSection, key).value_or(std::string()));
}

void StoreStyleValue(CProfileFile profile, const char* key, const QString& value) {
  profile.Set(kStyleSection, key, value.toStdString());
  profile.Save();  // not reported: the choice holds for this run all the same
}

struct SkinChoice {
  int command;
  const char* file;
  int number;  // the Style menu item checked for it
};

constexpr std::array<SkinChoice, 6> kSkins{{
    {cmd::kStyleGreen, "green.skn", 1},
    {cmd::kStyleGray, "galaxy.skn", 3},
    {cmd::kStylePaper, "Paper.skn", CMainFrame::kPaperSkin},
    {cmd::kStyleMedia, "Media.skn", 4},
    {cmd::kStyleChizh, "Chizh.skn", 2},
    {cmd::kStyleTopSecret, "TopSecret.skn", 5},
}};

QString WithSlash(QString folder) {
  if (!folder.isEmpty() && !folder.endsWith(u'/')) folder += u'/';
  return folder;
}

void LoadAndApply(const QString& file, QWidget* window) {
  // The skin engine's results are not examined: a skin that does not load leaves the look.
  if (CSkinEngine* engine = skin::Current()) {
    engine->LoadSkin(file);
    engine->ApplySkin(window);
  }
}

}  // namespace

QString CMainFrame::DefaultSkinFolder() {
  // The program lives in <prefix>/bin, its data in <prefix>/share/lumora2003, both in the
  // build tree and installed.
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/lumora2003/skins")) +
         u'/';
}

QString CMainFrame::HelpPathFor(const QString& skinFolder) {
  static const QString kSkins = QStringLiteral("skins/");
  // "hlp" sits beside "skins". A folder stored by hand that is not called "skins" gives the
  // program's own help page rather than a path cut at a random place.
  const QString base = skinFolder.endsWith(u'/' + kSkins) ? skinFolder.chopped(kSkins.size())
                                                   : DefaultSkinFolder().chopped(kSkins.size());
  return base + QStringLiteral("hlp/hlp.htm");
}

void CMainFrame::LoadStartupSkin() {
  // Without the skin control (a frame made outside the application) there is nothing to do.
  if (!skin::Current()) return;
  const CProfileFile profile = StyleProfile();
  QString file = StyleValue(profile, kDefaultKey);
  m_skinFolder = WithSlash(StyleValue(profile, kPathKey));
  if (m_skinFolder.isEmpty()) {
    m_skinFolder = DefaultSkinFolder();
    StoreStyleValue(profile, kPathKey, m_skinFolder);
  }
  if (file.isEmpty()) file = m_skinFolder + QStringLiteral("Paper.skn");
  // Whatever was loaded, the Style menu shows Paper until the user picks a skin.
  LoadAndApply(file, this);
}

void CMainFrame::OnChooseSkin(int id) {
  for (const SkinChoice& s : kSkins) {
    if (s.command != id) continue;
    m_currentSkin = s.number;
    const QString file = m_skinFolder + QLatin1String(s.file);
    LoadAndApply(file, this);
    StoreStyleValue(StyleProfile(), kDefaultKey, file);
  }
}

void CMainFrame::UpdateStyleRules() {
  for (const SkinChoice& s : kSkins)
    if (QAction* a = Action(s.command)) a->setChecked(s.number == m_currentSkin);
}

void CMainFrame::OnChooseLanguage(int id) {
  const bool chinese = id == cmd::kLanguageChinese;
  const int before = res::LanguageFlag();
  res::SetLanguageFlag(chinese ? res::kLangChinese : res::kLangEnglish);
  // The installed menu goes and a fresh copy of the language's menu takes its place. The old
  // popups are deleted once control is back in the event loop: this command may have come
  // from one of them.
  QList<QMenu*> old;
  for (QAction* popup : menuBar()->actions())
    if (popup->menu()) old.append(popup->menu());
  m_menuResource = chinese ? res::kMainMenuChinese : res::kMainMenuEnglish;
  BuildMenuBar();
  // The fresh popups hold the same actions: their accessible items must not stay with the
  // old popups, now or when those are deleted.
  a11y::ForgetStaleMenuItems(menuBar());
  for (QMenu* menu : old) {
    connect(menu, &QObject::destroyed, this, [this] { a11y::ForgetStaleMenuItems(menuBar()); });
    menu->deleteLater();
  }
  // The fresh menu holds placeholders only: list the devices and their dialogs again.
  m_deviceMenuBuilt = 0;
  OnInitDevicesPopup();
  OnInitOptionsPopup();
  // Items keep the states the rules give them, also for a tool that reads a closed menu.
  UpdateMenuRules();
  // The idle message speaks the new language; other status texts are the device's or the
  // capture's own and stay.
  const auto idle = [](int language) {
    return QString::fromUtf8(res::LoadString(res::kStrIdleMessage, language));
  };
  if (PaneText() == idle(before)) SetPaneText(idle(res::LanguageFlag()));
  emit LanguageChanged();
}

void CMainFrame::OnHelp() {
  // Whatever the desktop makes of a missing page is what the user sees. A desktop with no
  // browser or opener at all does nothing visible, so the user is given the page's path.
  const QString page = HelpPathFor(m_skinFolder);
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(page))) return;
  const QString text =
      QString::fromUtf8(res::LoadString(res::kStrHelpUnavailable, res::LanguageFlag())).arg(page);
  ShowError("%s", text.toUtf8().constData());
}
