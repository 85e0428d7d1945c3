#include "capture/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "capture/platform/qt_owner.h"
#include "playback/open_playback_window.h"
#include "resources/resources.h"
#include "ui/status_pane.h"

namespace {

CMainFrame* g_mainFrame = nullptr;
CMainFrame::MessageBoxRunner g_messageBoxRunner;

constexpr int kDevicesPopup = 1;
constexpr int kOptionsPopup = 2;

bool InRange(int id, int first, int last) { return id >= first && id <= last; }

// Icons for the tool bar's buttons. The tool bar stays hidden; the icons only make it a
// faithful bar should anyone show it.
QIcon ToolBarIcon(QStyle* style, int id) {
  switch (id) {
    case cmd::kFileNew: return style->standardIcon(QStyle::SP_FileIcon);
    case cmd::kFileOpen: return style->standardIcon(QStyle::SP_DialogOpenButton);
    case cmd::kFileSave: return style->standardIcon(QStyle::SP_DialogSaveButton);
    case cmd::kAppAbout: return style->standardIcon(QStyle::SP_MessageBoxQuestion);
    default: return style->standardIcon(QStyle::SP_FileDialogDetailedView);
  }
}

}  // namespace

CMainFrame::CMainFrame(int menuResource, media::IMediaPlatform& platform, QWidget* parent)
    : QMainWindow(parent), m_platform(platform), m_menuResource(menuResource) {
  setObjectName(QStringLiteral("CMainFrame"));
  // Caption, system menu, sizing border and minimise box; no maximise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  m_startupTimer.setSingleShot(false);
  m_startupTimer.setInterval(kStartupTimerMs);
  connect(&m_startupTimer, &QTimer::timeout, this, &CMainFrame::OnStartupTimer);
  m_captureTimer.setInterval(kCaptureTimerMs);
  connect(&m_captureTimer, &QTimer::timeout, this, &CMainFrame::OnCaptureTimer);
}

CMainFrame::~CMainFrame() {
  // A way out that skipped closeEvent (QApplication::quit) still ends the capture, so the
  // file gets its index.
  if (m_capturing) EndCapture();
  m_platform.SetDeviceChangeCallback({});
  if (m_mediaEvent) m_mediaEvent->SetNotifyWindow({}, 0, 0);
  if (g_mainFrame == this) g_mainFrame = nullptr;
}

CMainFrame* CMainFrame::TheMainFrame() { return g_mainFrame; }

bool CMainFrame::OnCreate() {
  CreateActions();
  BuildMenuBar();
  CreateAccelerators();
  if (!CreateToolBar() || !CreateStatusBar()) return false;
  // The tool bar is docked at the top and then hidden. Its height still counts in the
  // video layout (FitWindowToVideo), so the video sits below the strip it would occupy.
  m_toolBar->hide();
  // An overlapped window starts at the desktop's default size (three quarters of the
  // screen); fitting the window to the video resizes it once a device is previewed.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    resize(screen->availableGeometry().size() * 3 / 4);
  m_startupTimer.start();
  // Menu items have no automatic greying: an item without a handler stays as it is, and the
  // others keep the state UpdateMenuRules gives them.
  m_platform.SetDeviceChangeCallback([this] { OnDeviceChange(); });
  LoadStartupSkin();
  return true;
}

// --- Actions, menus, accelerators, bars ---

QAction* CMainFrame::EnsureAction(int id) {
  auto it = m_actions.find(id);
  if (it != m_actions.end()) return it->second;
  auto* a = new QAction(this);
  a->setData(id);
  a->setObjectName(QString::number(id));
  connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  m_actions.emplace(id, a);
  return a;
}

QAction* CMainFrame::Action(int id) const {
  auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateActions() {
  // One action per command, made once; menus of either language add the same actions.
  for (int id : {cmd::kPreview, cmd::kCompression}) EnsureAction(id)->setCheckable(true);
  for (int id = cmd::kStyleGreen; id <= cmd::kStyleTopSecret; ++id)
    EnsureAction(id)->setCheckable(true);
  for (int id : {cmd::kLanguageChinese, cmd::kLanguageEnglish})
    EnsureAction(id)->setCheckable(true);
}

void CMainFrame::BuildMenuBar() {
  const res::MenuResource* menu = res::FindMenu(m_menuResource);
  menuBar()->clear();
  if (!menu) return;
  std::function<void(QMenu*, const std::vector<res::MenuNode>&)> fill =
      [&](QMenu* into, const std::vector<res::MenuNode>& nodes) {
        for (const res::MenuNode& n : nodes) {
          switch (n.kind) {
            case res::MenuNode::Kind::Separator: into->addSeparator(); break;
            case res::MenuNode::Kind::Popup:
              fill(into->addMenu(QString::fromUtf8(n.text)), n.children);
              break;
            case res::MenuNode::Kind::Item: {
              QAction* a = EnsureAction(n.id);
              a->setText(QString::fromUtf8(n.text));
              // Device and dialog entries are checkable once filled in.
              if (InRange(n.id, cmd::kDeviceFirst, cmd::kDeviceLast)) a->setCheckable(true);
              into->addAction(a);
              break;
            }
          }
        }
      };
  for (size_t i = 0; i < menu->bar.size(); ++i) {
    QMenu* popup = menuBar()->addMenu(QString::fromUtf8(menu->bar[i].text));
    fill(popup, menu->bar[i].children);
    // Opening any popup is the menu bar's activation: the rules apply first.
    connect(popup, &QMenu::aboutToShow, this, &CMainFrame::UpdateMenuRules);
    if (i == kDevicesPopup)
      connect(popup, &QMenu::aboutToShow, this, &CMainFrame::OnInitDevicesPopup);
    if (i == kOptionsPopup)
      connect(popup, &QMenu::aboutToShow, this, &CMainFrame::OnInitOptionsPopup);
  }
}

QMenu* CMainFrame::MenuAt(int position) const {
  const QList<QAction*> bar = menuBar()->actions();
  if (position < 0 || position >= bar.size()) return nullptr;
  return bar[position]->menu();
}

void CMainFrame::CreateAccelerators() {
  for (const res::Accelerator& acc : res::FindAccelerators(m_menuResource)) {
    auto* sc = new QShortcut(QKeySequence(QString::fromUtf8(acc.keys)), this);
    sc->setContext(Qt::WindowShortcut);
    const int id = acc.command;
    connect(sc, &QShortcut::activated, this, [this, id] { OnCommand(id); });
  }
}

bool CMainFrame::CreateToolBar() {
  m_toolBar = new QToolBar(this);
  m_toolBar->setObjectName(QString::number(kToolBarId));
  m_toolBar->setMovable(true);  // gripper
  m_toolBar->setFloatable(true);
  for (int id : res::FindToolBar(res::kToolBar)) {
    if (id == 0) {
      m_toolBar->addSeparator();
      continue;
    }
    QAction* a = EnsureAction(id);
    if (a->icon().isNull()) a->setIcon(ToolBarIcon(style(), id));
    a->setIconVisibleInMenu(false);  // the menus show text only
    m_toolBar->addAction(a);
  }
  setDockOptions(dockOptions() | QMainWindow::AllowNestedDocks);
  m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
  addToolBar(Qt::TopToolBarArea, m_toolBar);
  return !res::FindToolBar(res::kToolBar).empty();
}

bool CMainFrame::CreateStatusBar() {
  m_statusBar = new QStatusBar(this);
  m_statusBar->setObjectName(QString::number(kStatusBarId));
  m_statusBar->setSizeGripEnabled(true);
  // One pane: the stretching text pane.
  m_pane0 = new ui::StatusPane(m_statusBar);
  m_pane0->SetText(QString::fromUtf8(res::LoadString(
      res::kStrIdleMessage, m_menuResource == res::kMainMenuChinese ? res::kLangChinese
                                                                    : res::kLangEnglish)));
  m_statusBar->addWidget(m_pane0, 1);
  setStatusBar(m_statusBar);
  return true;
}

void CMainFrame::SetPaneText(const QString& text) {
  if (m_pane0) m_pane0->SetText(text);
}

QString CMainFrame::PaneText() const { return m_pane0 ? m_pane0->Text() : QString(); }

// --- Menu rules ---

void CMainFrame::UpdateMenuRules() {
  const bool capturing = m_capturing != 0;
  // Every item of the bar by its command identifier, including device and dialog entries
  // that the device lists appended after the menu was built.
  std::function<void(QMenu*)> walk = [&](QMenu* menu) {
    for (QAction* action : menu->actions()) {
      if (action->menu()) {
        walk(action->menu());
        continue;
      }
      if (action->isSeparator()) continue;
      const int id = action->data().toInt();
      if (InRange(id, cmd::kDeviceFirst, cmd::kDeviceLast) ||
          InRange(id, cmd::kDeviceDialogFirst, cmd::kDeviceDialogLast) ||
          id == cmd::kStartCapture || id == cmd::kSetTimeLimit)
        action->setEnabled(!capturing);
    }
  };
  for (QAction* popup : menuBar()->actions())
    if (popup->menu()) walk(popup->menu());
  if (QAction* a = Action(cmd::kStopCapture)) a->setEnabled(capturing);
  if (QAction* a = Action(cmd::kPreview)) {
    a->setChecked(m_wantPreview != 0);
    a->setEnabled(!capturing);
  }
  if (QAction* a = Action(cmd::kCompression)) a->setChecked(m_useCompressor != 0);
  // The Language menu shows the language in force.
  if (QAction* a = Action(cmd::kLanguageChinese))
    a->setChecked(res::LanguageFlag() == res::kLangChinese);
  if (QAction* a = Action(cmd::kLanguageEnglish))
    a->setChecked(res::LanguageFlag() == res::kLangEnglish);
  UpdateStyleRules();
}

void CMainFrame::OnInitDevicesPopup() { FillDeviceMenu(); }

void CMainFrame::OnInitOptionsPopup() { FillOptionsMenu(); }

// --- Commands ---

void CMainFrame::OnCommand(int id) {
  if (InRange(id, cmd::kDeviceFirst, cmd::kDeviceLast))
    SelectDevice(m_devices[id - cmd::kDeviceFirst]);
  if (InRange(id, cmd::kDeviceDialogFirst, cmd::kDeviceDialogLast))
    OnDeviceDialog(id - cmd::kDeviceDialogFirst);
  switch (id) {
    case cmd::kAppExit: close(); return;
    case cmd::kSetCaptureFile: PickCaptureFile(); break;
    case cmd::kAllocateFileSpace: PreallocateCaptureFile(); break;
    case cmd::kSaveCapturedVideoAs: SaveCaptureCopy(); break;
    case cmd::kPreview: OnPreview(); break;
    case cmd::kStartCapture: OnStartCapture(); break;
    case cmd::kStopCapture: OnStopCapture(); break;
    case cmd::kSetFrameRate: OnSetFrameRate(); break;
    case cmd::kSetTimeLimit: OnSetTimeLimit(); break;
    case cmd::kCompression: ToggleCompression(); break;
    case cmd::kEnhancedControl: EditVideoFormat(); break;
    case cmd::kLanguageChinese:
    case cmd::kLanguageEnglish: OnChooseLanguage(id); break;
    case cmd::kStyleGreen:
    case cmd::kStyleGray:
    case cmd::kStylePaper:
    case cmd::kStyleMedia:
    case cmd::kStyleChizh:
    case cmd::kStyleTopSecret: OnChooseSkin(id); break;
    case cmd::kHelp: OnHelp(); break;
    case cmd::kSnapshot: GrabSnapshot(); break;
    case cmd::kVideoPlayback: OpenPlaybackWindow(this, m_captureFileName); break;
    default:
      // Capture start, settings dialogs, snapshots and playback are handled here as their
      // owners arrive; until then the command reaches the application's routing like any other.
      break;
  }
  // The application's routing follows, also after the commands handled above.
  emit RouteCommand(id);
  // Assistive tools read the menus closed: their items carry the states of the rules at once.
  UpdateMenuRules();
}

void CMainFrame::OnPreview() {
  m_wantPreview = m_wantPreview ? 0 : 1;
  if (m_wantPreview) {
    MakePreviewGraph();
    RunPreview();
  } else {
    HaltPreview();
  }
}

void CMainFrame::OnStopCapture() {
  EndCapture();
  PreviewAgainIfWanted();
}

void CMainFrame::PreviewAgainIfWanted() {
  if (m_wantPreview) {
    MakePreviewGraph();
    RunPreview();
  }
}

// --- Window messages ---

void CMainFrame::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !event->isAutoRepeat() && m_capturing) {
    EndCapture();
    PreviewAgainIfWanted();
  }
  QMainWindow::keyPressEvent(event);
}

void CMainFrame::OnDeviceChange() { m_deviceMenuBuilt = 0; }

void CMainFrame::OnGraphNotify() {
  if (!m_mediaEvent) return;
  // Keep the queue alive while draining it: EndCapture may not drop it, but a handler
  // further down the line could.
  std::shared_ptr<media::IMediaEventEx> events = m_mediaEvent;
  bool aborted = false;
  bool captureAborted = false;
  intptr_t abortCode = 0;
  // A camera that is busy or refused streams no more after its first error, which may be
  // followed by the stream's own; it is the one the user needs to hear about.
  media::Status deviceError = media::status::kOk;
  media::GraphEvent ev;
  while (media::Succeeded(events->GetEvent(ev, 0))) {
    const long code = ev.code;
    const intptr_t param1 = ev.param1;
    const intptr_t param2 = ev.param2;
    std::shared_ptr<media::IBaseFilter> filter = ev.filter;
    events->FreeEventParams(ev);
    if (code == media::event::kErrorAbort) {
      captureAborted |= m_capturing != 0;
      EndCapture();
      aborted = true;
      // The code shown is the abort's own status, not that of whatever event came after.
      abortCode = param1;
      const auto why = static_cast<media::Status>(param1);
      if (deviceError == media::status::kOk &&
          (why == media::status::kDeviceInUse || why == media::status::kDeviceAccessDenied))
        deviceError = why;
    } else if (code == media::event::kDeviceLost && param2 == 0) {
      if (filter && m_captureFilter && filter == m_captureFilter) {
        // A preview of the lost device stops too; its graph stays until another device
        // is selected.
        HaltPreview();
        EndCapture();
        ShowError("Stopping Capture (Device Lost). Select New Capture Device");
        return;
      }
    }
  }
  if (deviceError != media::status::kOk) {
    // Starting the preview again would only meet the same refusal.
    HaltPreview();
    ShowDeviceStartError(deviceError);
    return;
  }
  if (aborted) {
    if (captureAborted) {
      PreviewAgainIfWanted();
    } else if (m_previewing) {
      // The preview itself failed (a format the camera refused, a stream that broke):
      // starting it again at once would only fail again. It stays wanted, as for a busy
      // camera: choosing the camera or Preview again tries anew.
      HaltPreview();
    }
    ShowError("ERROR during capture, error code=%08x", static_cast<unsigned>(abortCode));
  }
}

// --- Timers ---

void CMainFrame::OnStartupTimer() {
  m_startupTimer.stop();
  // The tool bar is hidden, so its rectangle is the one it would occupy when docked.
  m_toolBarRect = QRect(mapToGlobal(m_toolBar->pos()), m_toolBar->sizeHint());
  m_statusBarRect = QRect(m_statusBar->mapToGlobal(QPoint(0, 0)), m_statusBar->size());
  g_mainFrame = this;
  LoadCaptureSettings();
  UpdateMenuRules();
}

bool CMainFrame::TimerRunning(int timer) const {
  if (timer == kStartupTimer) return m_startupTimer.isActive();
  if (timer == kCaptureTimer) return m_captureTimer.isActive();
  return false;
}

// --- Layout ---

QSize CMainFrame::FittedWindowSize(QSize window, QSize client, int w, int h, int toolBarHeight,
                                   int statusBarHeight) {
  return QSize(window.width() - client.width() + w,
               window.height() - client.height() + h + toolBarHeight + statusBarHeight);
}

void CMainFrame::FitWindowToVideo(int w, int h) {
  // A maximised or full-screen window keeps its state: resizing it would restore it to a
  // normal window. The video keeps its place in the top left corner.
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return;
  // The client area is what lies below the menu bar: the tool bar's strip, the view and the
  // status bar, as in a frame whose bars live inside its client area.
  const QSize window = frameGeometry().size();
  const int menuHeight = menuWidget() ? menuWidget()->height() : 0;
  const QSize client(width(), height() - menuHeight);
  const QSize outer = FittedWindowSize(window, client, w, h, ToolBarHeight(), StatusBarHeight());
  // resize() takes the size inside the window frame.
  resize(outer - (window - size()));
}

media::OwnerWindow CMainFrame::VideoOwner() {
  return media::OwnerFromWidget(centralWidget() ? centralWidget() : this);
}

// --- Messages ---

void CMainFrame::SetMessageBoxRunnerForTesting(MessageBoxRunner runner) {
  g_messageBoxRunner = std::move(runner);
}

int CMainFrame::ShowError(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::LoadString(res::kStrAppTitle, 1)),
                  QString::fromUtf8(text), QMessageBox::Ok, this);
  box.setWindowModality(Qt::ApplicationModal);
  if (g_messageBoxRunner)
    g_messageBoxRunner(box);
  else
    box.exec();
  return 0;
}

// --- Closing ---

void CMainFrame::closeEvent(QCloseEvent* event) {
  HaltPreview();
  EndCapture();
  DismantleGraph();
  ReleaseCaptureFilters();
  SaveCaptureSettings();
  event->accept();
  OnDestroy();
}

void CMainFrame::OnDestroy() {
  m_selectedDevice.reset();
  for (auto& d : m_devices) d.reset();
  m_platform.SetDeviceChangeCallback({});
  QCoreApplication::exit(0);
}
