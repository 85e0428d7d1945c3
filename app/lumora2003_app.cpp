#include "app/lumora2003_app.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QSettings>

#include "app/about_box.h"
#include "ui/accessibility.h"
#include "ui/language.h"
#include "ui/translations.h"
#include "app/lumora2003_view.h"
#include "ui/skin_engine.h"
#include "app/skin_host_dlg.h"
#include "capture/main_frame.h"
#include "resources/resources.h"

// --- Document template ---

bool CSingleDocTemplate::OpenDocumentFile(const QString& path) {
  if (!m_doc) m_doc = std::make_unique<CLumora2003Doc>();
  const bool firstFrame = !m_frame;
  if (firstFrame) {
    auto* frame = new CMainFrame(m_resourceId, m_platform);
    if (!frame->OnCreate()) {
      delete frame;
      return false;
    }
    frame->setCentralWidget(new CLumora2003View(frame));
    m_frame = frame;
  }
  const bool ok = path.isEmpty() ? m_doc->OnNewDocument() : m_doc->OnOpenDocument(path);
  if (!ok && firstFrame) {
    // A frame made for a document that failed to open is not left behind.
    delete m_frame.data();
    return false;
  }
  UpdateFrameTitle();
  return ok;
}

void CSingleDocTemplate::UpdateFrameTitle() {
  if (!m_frame || !m_doc) return;
  // Document title first, then the application title.
  const QString app = QString::fromUtf8(res::LoadString(res::kStrAppTitle, res::LanguageFlag()));
  m_frame->setWindowTitle(m_doc->Title() + QStringLiteral(" - ") + app);
}

// --- Application ---

namespace {

CLumora2003App::MessageBoxRunner g_messageBoxRunner;

}  // namespace

void CLumora2003App::SetMessageBoxRunnerForTesting(MessageBoxRunner runner) {
  g_messageBoxRunner = std::move(runner);
}

CLumora2003App::CLumora2003App(int& argc, char** argv, PlatformSource platformSource)
    : QApplication(argc, argv), m_platformSource(std::move(platformSource)) {}

CLumora2003App::~CLumora2003App() {
  // The frame goes before the application object: its closing has already released the
  // capture graph and the devices.
  if (m_template && m_template->Frame()) delete m_template->Frame();
  // A skin interface still held (start-up ended early) goes with the host.
  ReleaseSkin();
  m_skinHost.reset();
}

CMainFrame* CLumora2003App::MainFrame() const {
  return m_template ? m_template->Frame() : nullptr;
}

bool CLumora2003App::InitInstance() {
  // 1. Embedded controls need no hosting set-up under Qt. The skin host follows at once;
  // without its skin control the program does not start.
  if (!CreateSkinHost()) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"),
                    QString::fromLatin1(kSkinFailureText), QMessageBox::Ok);
    if (g_messageBoxRunner)
      g_messageBoxRunner(box);
    else
      box.exec();
    return false;
  }

  // 2. The media platform for this thread (the component system of the capture code).
  m_platform = &m_platformSource();
  // 3. Dialog controls need no set-up.

  // 4. The profile key: profile values live in $XDG_CONFIG_HOME/lumora2003/.
  setOrganizationName(QString::fromLatin1(kRegistryKey));
  setApplicationName(QString::fromLatin1(kRegistryKey));
  QSettings::setDefaultFormat(QSettings::IniFormat);

  // 5. Interface language from the system's default language; Qt's own dialogs speak it too.
  res::SetLanguageFlag(lang::LanguageFlagFor(lang::LanguageIdFromLocale(QLocale::system()),
                                             res::LanguageFlag()));
  lang::InstallTranslations(res::LanguageFlag());

  // 6. The document template by language.
  const int resourceId = res::LanguageFlag() == res::kLangEnglish ? res::kMainMenuEnglish
                                                                  : res::kMainMenuChinese;
  m_template = std::make_unique<CSingleDocTemplate>(resourceId, *m_platform);

  // 7. Command line (a new document by default, which creates the main frame).
  if (!ProcessShellCommand()) return false;
  CMainFrame* frame = MainFrame();
  if (!frame) return false;
  connect(frame, &CMainFrame::RouteCommand, this, &CLumora2003App::OnCommand);
  connect(frame, &CMainFrame::LanguageChanged, this, [this] {
    lang::InstallTranslations(res::LanguageFlag());
    m_template->UpdateFrameTitle();
  });

  // 8. Show the main window normally.
  frame->show();
  frame->update();
  return true;
}

bool CLumora2003App::ProcessShellCommand() {
  // Qt has already taken its own options; what is left is an optional document path.
  const QStringList args = arguments().mid(1);
  return m_template->OpenDocumentFile(args.isEmpty() ? QString() : args.first());
}

bool CLumora2003App::CreateSkinHost() {
  m_skinHost = std::make_unique<CSkinHostDlg>();
  skin::SetCurrent(nullptr);
  if (!m_skinHost->Create() || !m_skinHost->SkinInterface()) return false;
  skin::SetCurrent(m_skinHost->SkinInterface());
  return true;
}

void CLumora2003App::ReleaseSkin() {
  if (m_skinHost && skin::Current() == m_skinHost->SkinInterface()) skin::SetCurrent(nullptr);
}

int CLumora2003App::ExitInstance(int code) {
  // The skin interface is released and the host destroyed before the exit proper; the main
  // window, the interface's last user, has closed by now.
  ReleaseSkin();
  m_skinHost.reset();
  return code;
}

void CLumora2003App::OnCommand(int id) {
  switch (id) {
    case cmd::kAppAbout: OnAppAbout(); break;
    case cmd::kFileNew: OnFileNew(); break;
    case cmd::kFileOpen: OnFileOpen(); break;
    default: break;  // no handler anywhere: nothing happens
  }
}

void CLumora2003App::OnAppAbout() {
  CAboutBox box(MainFrame());
  box.exec();
}

void CLumora2003App::OnFileNew() { m_template->OpenDocumentFile(QString()); }

void CLumora2003App::OnFileOpen() {
  QFileDialog dialog(MainFrame());
  dialog.setFileMode(QFileDialog::ExistingFile);
  a11y::RelateFileDialogCaptions(dialog);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    m_template->OpenDocumentFile(dialog.selectedFiles().constFirst());
}
