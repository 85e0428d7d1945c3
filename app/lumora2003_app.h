// CLumora2003App: the application object. Start-up (InitInstance) decides the interface
// language, registers the single-document template that makes the main frame with its
// document and view, processes the command line and shows the main window; ExitInstance
// ends the run. The frame's closing (capture stopped, settings written, devices released)
// happens before ExitInstance.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QMessageBox>
#include <QStringList>
#include <functional>
#include <memory>

#include "app/lumora2003_doc.h"
#include "capture/main_frame.h"

class CLumora2003View;
class CSkinHostDlg;
namespace media {
class IMediaPlatform;
}

// The single-document template: one resource number (main menu, accelerators, document
// strings), one document, the main frame and its view.
class CSingleDocTemplate {
 public:
  CSingleDocTemplate(int resourceId, media::IMediaPlatform& platform)
      : m_resourceId(resourceId), m_platform(platform) {}
  int ResourceId() const { return m_resourceId; }
  // New document: the first one creates the frame (false when its creation fails); later
  // ones only reset the document, leaving the frame and its capture state as they are.
  bool OpenDocumentFile(const QString& path);
  CLumora2003Doc* Document() const { return m_doc.get(); }
  CMainFrame* Frame() const { return m_frame; }
  // The frame's title: the document's title, then the application's, in the interface
  // language.
  void UpdateFrameTitle();

 private:
  int m_resourceId;
  media::IMediaPlatform& m_platform;
  std::unique_ptr<CLumora2003Doc> m_doc;
  QPointer<CMainFrame> m_frame;
};

class CLumora2003App : public QApplication {
  Q_OBJECT
 public:
  // The registry key under which the program's profile values live.
  static constexpr const char* kRegistryKey = "lumora2003";
  static constexpr int kRecentFileCount = 4;
  static constexpr int kShowNormal = 5;
  static constexpr const char* kSkinFailureText =
      "Could not initialize ActiveSkin control.\nPlease make sure it is installed properly.";

  // The media platform is made during start-up (after the application object exists, so its
  // notices can reach the UI thread) by `platformSource`.
  using PlatformSource = std::function<media::IMediaPlatform&()>;
  CLumora2003App(int& argc, char** argv, PlatformSource platformSource);
  ~CLumora2003App() override;

  // Start-up in its fixed order; false ends the process without a window.
  bool InitInstance();
  // The exit processing; returns the process's exit code.
  int ExitInstance(int code);

  CSingleDocTemplate* DocTemplate() const { return m_template.get(); }
  CMainFrame* MainFrame() const;

  // Commands the main frame routes to the application.
  void OnCommand(int id);
  void OnAppAbout();
  void OnFileNew();
  void OnFileOpen();

  // Tests inspect the start-up message boxes instead of running them modally.
  using MessageBoxRunner = std::function<void(QMessageBox&)>;
  static void SetMessageBoxRunnerForTesting(MessageBoxRunner runner);

 private:
  bool ProcessShellCommand();
  // The skin host and its skin interface (skin::Current); false when the control is missing.
  bool CreateSkinHost();
  void ReleaseSkin();

  PlatformSource m_platformSource;
  media::IMediaPlatform* m_platform = nullptr;
  std::unique_ptr<CSingleDocTemplate> m_template;
  std::unique_ptr<CSkinHostDlg> m_skinHost;
};
