// CMainFrame: the main window and the capture controller.
//
// It holds every reference into the media platform (device, graph, builder and the graph's
// control facilities), the capture settings and the five state flags (capture graph built,
// preview graph built, capturing, previewing, want preview). Menu commands arrive at
// OnCommand by identifier (resources/resource_ids.h); menu states are computed from the flags
// each time a menu opens (UpdateMenuRules). Graph events arrive from the platform's event
// queue notification on the UI thread and are drained in OnGraphNotify.
//
// Everything here runs on the UI thread. The platform's streaming threads never call in.
//
// Operations the state rules rely on return 1 for success and 0 for failure, as their
// callers expect; failures are reported to the user through ShowError where they happen.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "capture/platform/media_platform.h"
#include "snapshot/dib.h"

namespace v4l2 {
class CV4L2Controls;
}
namespace ui {
class StatusPane;
}

class QMenu;
class QMessageBox;
class QToolBar;
class QAction;
class QDialog;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Timers by the numbers the capture code knows them by.
  static constexpr int kStartupTimer = 77;
  static constexpr int kStartupTimerMs = 100;
  static constexpr int kCaptureTimer = 1;
  static constexpr int kCaptureTimerMs = 33;
  // The graph event message handed to the event queue ("first user message + 1").
  static constexpr uint32_t kGraphEventMessage = media::kFirstUserMessage + 1;
  // Framework slots of the tool bar and the status bar.
  static constexpr int kToolBarId = 59392;
  static constexpr int kStatusBarId = 59393;
  static constexpr int kDialogPositions = 12;
  static constexpr int kCaptureFileNameChars = 260;
  static constexpr int kFriendlyNameChars = 120;

  // `menuResource` names the main menu and accelerator table (128 Chinese, 133 English).
  CMainFrame(int menuResource, media::IMediaPlatform& platform, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Window creation: tool bar, status bar, timer 77. False when a bar cannot be made (the
  // application then does not start).
  bool OnCreate();

  // Commands by identifier. Commands the frame does not handle go on to the application
  // (RouteCommand); so do the device, device dialog and preview/capture commands after the
  // frame handled them, as the framework's own processing follows them.
  void OnCommand(int id);
  // Recomputes enabled and checked states from the flags; runs each time a menu opens.
  void UpdateMenuRules();
  // The action of a command identifier (nullptr when the menus carry none).
  QAction* Action(int id) const;
  QMenu* MenuAt(int position) const;
  int MenuResource() const { return m_menuResource; }

  // Skins and language (main_frame_style.cpp).
  static constexpr int kPaperSkin = 6;
  // The skin folder of a first run: "skins/" in the program's data folder.
  static QString DefaultSkinFolder();
  // The help page beside the skin folder: ".../skins/" gives ".../hlp/hlp.htm".
  static QString HelpPathFor(const QString& skinFolder);
  QString SkinFolder() const { return m_skinFolder; }
  int CurrentSkin() const { return m_currentSkin; }

  // Drains the graph's event queue: error abort and loss of the capture device.
  void OnGraphNotify();
  // The platform's device arrival/removal: the Devices menu is rebuilt when next opened.
  void OnDeviceChange();

  // Resizes the window so that its client area holds a video of w x h below the tool bar's
  // height and above the status bar; a maximised or full-screen window stays as it is.
  void FitWindowToVideo(int w, int h);
  // The outer size that fits: window - client + video, plus tool and status bar heights.
  static QSize FittedWindowSize(QSize window, QSize client, int w, int h, int toolBarHeight,
                                int statusBarHeight);

  // The capture engine's message box: printf-style text (status codes with "%x"), caption
  // "lumora2003", warning icon, application modal, owned by the frame. Returns 0.
  int ShowError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Tests install a runner that inspects the box instead of running it modally.
  using MessageBoxRunner = std::function<void(QMessageBox&)>;
  static void SetMessageBoxRunnerForTesting(MessageBoxRunner runner);

  // Status bar pane 0.
  void SetPaneText(const QString& text);
  QString PaneText() const;

  // --- Capture state operations (1 success, 0 failure) ---
  // Builder, capture filter, graph and capture-pin facilities of the selected device.
  int CreateCaptureFilters();
  int MakePreviewGraph();
  int RunPreview();
  int HaltPreview();
  // A camera that another program holds, or whose device node the user may not open, fails
  // only once its graph starts. For those two statuses the user is told the cause and the
  // remedy; returns false (showing nothing) for any other status.
  bool ShowDeviceStartError(media::Status hr);
  int EndCapture();
  // --- Capture run (capture_run.cpp) ---
  int MakeCaptureGraph();
  // Starts the capture behind the Ready dialog; 0 when cancelled or the graph would not run.
  int BeginCapture();
  // Status bar pane 0: the running figures (full 0) or the closing statistics (full 1).
  void ShowCaptureStatus(int full);
  // --- Compressor, frame rate and time limit (capture_dialogs.cpp) ---
  // Runs the compressor list; true when one was chosen (bound into `compressor` if it could be).
  bool PickCompressor(std::shared_ptr<media::IBaseFilter>& compressor);
  void ToggleCompression();
  // Colour space and size of the capture pin; the preview is rebuilt afterwards.
  void EditVideoFormat();
  bool UseTimeLimit() const { return m_useTimeLimit != 0; }
  uint32_t TimeLimit() const { return m_timeLimitSec; }
  bool UseCompressor() const { return m_useCompressor != 0; }
  std::shared_ptr<media::IBaseFilter> Compressor() const { return m_compressor; }
  void DismantleGraph();
  void DetachDownstream(const std::shared_ptr<media::IBaseFilter>& filter);
  void ReleaseCaptureFilters();

  // --- Capture settings (capture_settings.cpp) ---
  // Reads section "camprof", lists the devices and selects the remembered one. Returns 1.
  int LoadCaptureSettings();
  // Writes section "camprof"; nothing when the settings were never read.
  void SaveCaptureSettings();

  // --- Devices (devices.cpp) ---
  // Lists up to ten devices in the Devices menu (once, until a device change).
  void FillDeviceMenu();
  void SelectDeviceByDisplayName(const std::string& displayName);
  void SelectDevice(const std::shared_ptr<media::IMoniker>& moniker);
  // Rebuilds the Options menu's entries for the selected device's dialogs and pages.
  void FillOptionsMenu();
  // The device dialog at an Options position (commands 42-57).
  void OnDeviceDialog(int position);
  // Options positions of the device dialogs, in field order (-1 when absent).
  enum class DeviceDialog {
    DriverFormat, DriverSource, DriverDisplay, FilterPages, CrossbarPages, TunerPages,
    SecondCrossbar, CapturePinPages, PreviewPinPages
  };
  int DialogPosition(DeviceDialog which) const { return m_dialogPositions[int(which)]; }
  int DeviceCount() const { return m_deviceCount; }
  double FrameRate() const { return m_frameRate; }
  bool UseFrameRate() const { return m_useFrameRate != 0; }
  const std::string& CaptureFileName() const { return m_captureFileName; }
  std::shared_ptr<media::IMoniker> SelectedDevice() const { return m_selectedDevice; }
  int VideoWidth() const { return m_videoWidth; }
  int VideoHeight() const { return m_videoHeight; }

  // --- Capture files (capture_files.cpp) ---
  // The "Set Capture File" dialog, starting at the capture file: 1 and the chosen path in
  // `buffer` (NUL-terminated, refused when it does not fit), 0 when cancelled.
  int AskAviFileName(char* buffer, int bufferSize);
  // Command 32778: a new capture file name; a file that does not exist yet gets its space
  // reserved first (1 chosen, 0 cancelled or reservation failed; the name stays set).
  int PickCaptureFile();
  // Command 32779: reserves the size chosen in CSetFileSizeDlg (1 reserved).
  int PreallocateCaptureFile();
  // Command 32780: copies the captured video to a chosen file (1 saved or cancelled).
  int SaveCaptureCopy();
  // Their modal dialogs (file dialog, size dialog, progress dialog, failure box) run through
  // capture_dialogs::RunModal, which tests answer.

  // State, read by tests and by the windows that follow the frame.
  bool CaptureGraphBuilt() const { return m_captureGraphBuilt != 0; }
  bool PreviewGraphBuilt() const { return m_previewGraphBuilt != 0; }
  bool Capturing() const { return m_capturing != 0; }
  bool Previewing() const { return m_previewing != 0; }
  bool WantPreview() const { return m_wantPreview != 0; }
  bool PreviewFaked() const { return m_previewFaked != 0; }
  bool DeviceMenuBuilt() const { return m_deviceMenuBuilt != 0; }
  bool TimerRunning(int timer) const;
  int ToolBarHeight() const { return m_toolBarRect.height(); }
  int StatusBarHeight() const { return m_statusBarRect.height(); }
  QToolBar* ToolBar() const { return m_toolBar; }

  // --- Snapshots (capture/snapshot_grab.cpp) ---
  // The Snapshot command: the grabber's latest frame into the snapshot image and window.
  // Returns a status, which nobody examines.
  int GrabSnapshot();
  // Opens the snapshot window for a picture of width x height, or refreshes the open one.
  void OpenSnapshotWindow(int height, int width);
  // The one snapshot image of the run.
  CDib& SnapshotImage() { return m_dib; }

  // The main frame of the run, recorded when its start-up timer fires (nullptr before).
  static CMainFrame* TheMainFrame();

 signals:
  // A command for the application's handlers (New, Open, About, ...).
  void RouteCommand(int id);
  // The interface language changed: what the application shows on the frame (its title)
  // follows.
  void LanguageChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  friend struct CMainFrameTestPeer;

  void CreateActions();
  void BuildMenuBar();
  void CreateAccelerators();
  bool CreateToolBar();
  bool CreateStatusBar();
  QAction* EnsureAction(int id);
  void OnStartupTimer();
  void OnCaptureTimer();
  void OnInitDevicesPopup();
  void OnInitOptionsPopup();
  void OnPreview();
  void OnStartCapture();
  void OnSetFrameRate();
  void OnSetTimeLimit();
  void OnStopCapture();
  // The capture pin's dropped-frame counter, when not yet held.
  void FindDroppedFrames();
  // Routes the graph's events to OnGraphNotify on the UI thread.
  void ListenToGraphEvents();
  // The frame duration (100 ns units) of a rate; false when the rate names none.
  static bool FrameDuration(double framesPerSecond, int64_t& duration);
  void OnDestroy();
  void LoadStartupSkin();
  void OnChooseSkin(int id);
  void OnChooseLanguage(int id);
  void OnHelp();
  void UpdateStyleRules();
  // The widget the video window is a child of: the client view below the menu bar.
  media::OwnerWindow VideoOwner();
  // Restores the preview after a capture ended, when the user wants one.
  void PreviewAgainIfWanted();
  // Video width and height from the stream configuration's format, when it has one.
  bool ReadVideoSizeFromFormat();
  media::Status ShowPropertyFrameOn(media::IPropertyPageHost& object);
  // The selected device's camera controls (null when it offers none).
  std::unique_ptr<v4l2::CV4L2Controls> DeviceControls() const;
  // The selected device's remembered format and controls, given back to it.
  void ApplyRememberedDeviceSettings();
  // The remembered control values again, before a graph starts: the device may have been
  // reopened, reset or changed by another program since.
  void ApplyRememberedControls();
  void RememberDeviceControls(v4l2::CV4L2Controls& controls);
  void RememberDeviceFormat();

  media::IMediaPlatform& m_platform;
  int m_menuResource;

  // Fields of the capture controller, in the order the settings and the operations use them.
  std::string m_captureFileName;  // at most kCaptureFileNameChars - 1 characters
  uint16_t m_captureFileSizeMb = 0;
  std::shared_ptr<media::ICaptureGraphBuilder2> m_builder;
  std::shared_ptr<media::IVideoWindow> m_videoWindow;
  std::shared_ptr<media::IMediaEventEx> m_mediaEvent;
  std::shared_ptr<media::IAMDroppedFrames> m_droppedFrames;
  std::shared_ptr<media::IAMVideoCompression> m_videoCompression;
  std::shared_ptr<media::IAMVfwCaptureDialogs> m_driverDialogs;
  std::shared_ptr<media::IAMStreamConfig> m_streamConfig;
  std::shared_ptr<media::IBaseFilter> m_fileWriter;
  std::shared_ptr<media::IBaseFilter> m_captureFilter;
  std::shared_ptr<media::IFilterGraph> m_graph;
  std::shared_ptr<media::IFileSinkFilter> m_fileSink;
  std::shared_ptr<media::IConfigAviMux> m_aviMuxConfig;
  int32_t m_masterStream = 0;
  int32_t m_captureGraphBuilt = 0;
  int32_t m_previewGraphBuilt = 0;
  int32_t m_capturing = 0;
  int32_t m_previewing = 0;
  int32_t m_captureClosedCaptions = 0;
  uint8_t m_deviceMenuBuilt = 0;
  std::array<std::shared_ptr<media::IMoniker>, 10> m_devices;
  std::shared_ptr<media::IMoniker> m_selectedDevice;
  double m_frameRate = 0.0;
  int32_t m_wantPreview = 0;
  uint32_t m_captureStartMs = 0;
  uint32_t m_captureStopMs = 0;
  std::string m_deviceFriendlyName;  // at most kFriendlyNameChars - 1 characters
  int32_t m_useTimeLimit = 0;
  int32_t m_useFrameRate = 0;
  uint32_t m_timeLimitSec = 0;
  std::array<int32_t, kDialogPositions> m_dialogPositions{};
  uint32_t m_droppedBase = 0;
  uint32_t m_deliveredBase = 0;
  int32_t m_previewFaked = 0;
  int32_t m_deviceCount = 0;
  int32_t m_videoWidth = 0;
  int32_t m_videoHeight = 0;
  std::shared_ptr<media::IBaseFilter> m_compressor;
  std::string m_compressorName;  // the compressor chosen last, highlighted when choosing again
  int32_t m_useCompressor = 0;
  std::shared_ptr<media::ISampleGrabber> m_sampleGrabber;
  bool m_settingsLoaded = false;
  CDib m_dib;
  QRect m_statusBarRect;
  QRect m_toolBarRect;
  QStatusBar* m_statusBar = nullptr;
  QToolBar* m_toolBar = nullptr;

  QString m_skinFolder;  // ends in '/'
  int32_t m_currentSkin = kPaperSkin;

  ui::StatusPane* m_pane0 = nullptr;
  std::map<int, QAction*> m_actions;
  QTimer m_startupTimer;
  QTimer m_captureTimer;
};
