// The capture run: build the capture graph (device -> [compressor] -> AVI mux -> file, with a
// preview beside it), start it behind the Ready dialog, show the frame figures while it runs
// and when it ends, and stop it at the time limit.
#include <QApplication>
#include <QKeyEvent>
#include <QString>

#include "capture/capture_status.h"
#include "capture/dialogs/dialog_runner.h"
#include "capture/dialogs/ready_dlg.h"
#include "capture/main_frame.h"
#include "resources/resources.h"

using media::Failed;
using media::Succeeded;

namespace {

const media::Guid* const kCapture = &media::guid::kPinCategoryCapture;
const media::Guid* const kPreview = &media::guid::kPinCategoryPreview;
const media::Guid* const kInterleaved = &media::guid::kMediaTypeInterleaved;
const media::Guid* const kVideo = &media::guid::kMediaTypeVideo;

// Escape ends a capture whichever part of the window holds the keyboard: after a menu was
// worked from the keyboard the menu bar keeps it and takes Escape for itself, so the window's
// own key handler would never see it. Watches the application while a capture runs and
// leaves at the first key press after it ended.
class CaptureEscapeWatch : public QObject {
public:
  explicit CaptureEscapeWatch(CMainFrame* frame) : QObject(frame), m_frame(frame) {
    setObjectName(kName);
  }
  static constexpr char kName[] = "CaptureEscapeWatch";
  void Watch() { qApp->installEventFilter(this); }

protected:
  // Only a key press may look at the frame: other events also arrive while the frame is
  // being destroyed (its children leaving it).
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    if (!m_frame->Capturing()) {
      qApp->removeEventFilter(this);
      return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (key->key() != Qt::Key_Escape || key->isAutoRepeat() || !widget ||
        widget->window() != m_frame)
      return false;
    m_frame->OnCommand(cmd::kStopCapture);
    return true;
  }

private:
  CMainFrame* m_frame;
};

}  // namespace

void CMainFrame::OnStartCapture() {
  if (m_previewing) HaltPreview();
  if (m_previewGraphBuilt) DismantleGraph();
  // Backing out (no file chosen, the Ready dialog cancelled) or a failure leaves the
  // preview as it was.
  if (!MakeCaptureGraph() || !BeginCapture()) PreviewAgainIfWanted();
}

int CMainFrame::MakeCaptureGraph() {
  if (m_captureGraphBuilt) return 1;
  if (m_capturing || m_previewing || !m_captureFilter || !m_graph || !m_builder) return 0;
  if (m_captureFileName.empty() && !PickCaptureFile()) return 0;
  if (m_previewGraphBuilt) DismantleGraph();

  std::shared_ptr<media::IBaseFilter> mux;
  std::shared_ptr<media::IFileSinkFilter> sink;
  media::Status hr =
      m_builder->SetOutputFileName(media::guid::kSubtypeAvi, m_captureFileName, mux, sink);
  if (Failed(hr) || !mux) {
    ShowError("Cannot set output file");
    DismantleGraph();
    return 0;
  }
  m_fileWriter = mux;
  m_fileSink = sink;

  m_aviMuxConfig.reset();
  m_builder->FindInterface(nullptr, nullptr, m_fileWriter, m_aviMuxConfig);
  if (m_aviMuxConfig) m_aviMuxConfig->SetOutputCompatibilityIndex(true);

  bool compressorAdded = false;
  if (m_useCompressor) {
    hr = m_compressor ? m_graph->AddFilter(m_compressor, "Selected Video Compressor")
                      : media::status::kPointer;
    if (hr != media::status::kOk && hr != media::status::kDuplicateName &&
        hr != media::status::kDuplicateNameError)
      ShowError("Unable to add video compressor to filter graph!");
    else
      compressorAdded = true;
  }

  // A compressor the graph refused is left out of the stream rather than failing it.
  std::shared_ptr<media::IBaseFilter> through;
  if (compressorAdded) through = m_compressor;
  hr = m_builder->RenderStream(kCapture, kInterleaved, m_captureFilter, through, m_fileWriter);
  if (Failed(hr))
    hr = m_builder->RenderStream(kCapture, kVideo, m_captureFilter, through, m_fileWriter);
  if (Failed(hr)) {
    ShowError("Cannot render video capture stream");
    DismantleGraph();
    return 0;
  }

  if (m_wantPreview) {
    hr = m_builder->RenderStream(kPreview, kInterleaved, m_captureFilter, nullptr, nullptr);
    if (hr != media::status::kOk && hr != media::status::kPreviewFromCapture)
      hr = m_builder->RenderStream(kPreview, kVideo, m_captureFilter, nullptr, nullptr);
    if (hr == media::status::kPreviewFromCapture) {
      m_previewFaked = 1;
    } else if (hr != media::status::kOk) {
      ShowError("Cannot render video preview stream");
      DismantleGraph();
      return 0;
    }
    std::shared_ptr<media::IVideoWindow> window;
    m_graph->QueryVideoWindow(window);
    m_videoWindow = window;
    if (!window) {
      ShowError("This graph cannot preview");
    } else {
      window->put_Owner(VideoOwner());
      window->put_WindowStyle(media::style::kChild | media::style::kClipChildren |
                              media::style::kClipSiblings);
      FitWindowToVideo(m_videoWidth, m_videoHeight);
      window->SetWindowPosition(0, ToolBarHeight(), m_videoWidth, m_videoHeight);
      window->put_Visible(true);
    }
  }

  bool rateSet = !m_useFrameRate;
  if (m_streamConfig && m_useFrameRate) {
    media::MediaType mt;
    rateSet = Succeeded(m_streamConfig->GetFormat(mt));
    int64_t duration = 0;
    if (rateSet && mt.IsVideoInfo() && FrameDuration(m_frameRate, duration)) {
      mt.videoInfo->AvgTimePerFrame = duration;
      rateSet = Succeeded(m_streamConfig->SetFormat(mt));
    }
  }
  if (!rateSet) ShowError("Cannot set frame rate for capture");

  ListenToGraphEvents();
  m_captureGraphBuilt = 1;
  return 1;
}

void CMainFrame::FindDroppedFrames() {
  if (m_droppedFrames || !m_builder) return;
  if (Failed(m_builder->FindInterface(kCapture, kInterleaved, m_captureFilter, m_droppedFrames)))
    m_builder->FindInterface(kCapture, kVideo, m_captureFilter, m_droppedFrames);
}

int CMainFrame::BeginCapture() {
  if (m_capturing) return 1;
  if (m_previewing) HaltPreview();
  if (!m_captureGraphBuilt || !m_graph) return 0;

  m_droppedBase = 0;
  m_deliveredBase = 0;
  const int64_t never = media::kMaxTime;
  const bool streamControl = Succeeded(
      m_builder->ControlStream(kCapture, nullptr, nullptr, &never, nullptr, 0, 0));

  std::shared_ptr<media::IMediaControl> control;
  media::Status hr = m_graph->QueryMediaControl(control);
  if (Failed(hr) || !control) {
    ShowError("Error %x: Cannot get IMediaControl",
              static_cast<unsigned>(Failed(hr) ? hr : media::status::kNoInterface));
    return 0;
  }
  ApplyRememberedControls();
  // With stream control the graph runs while the dialog is open (the preview shows) and the
  // file sees nothing until the capture stream is switched on.
  hr = streamControl ? control->Run() : control->Pause();
  if (Failed(hr)) {
    control->Stop();
    if (!ShowDeviceStartError(hr)) ShowError("Error %x: Cannot start graph", static_cast<unsigned>(hr));
    return 0;
  }

  CReadyDlg ready(m_captureFileName, this);
  if (capture_dialogs::RunModal(ready) != QDialog::Accepted) {
    control->Stop();
    control.reset();
    PreviewAgainIfWanted();
    return 0;
  }

  if (streamControl) {
    FindDroppedFrames();
    m_builder->ControlStream(kCapture, nullptr, nullptr, nullptr, &never, 0, 0);
    if (m_droppedFrames) {
      long dropped = 0, delivered = 0;
      m_droppedFrames->GetNumDropped(dropped);
      m_droppedFrames->GetNumNotDropped(delivered);
      m_droppedBase = static_cast<uint32_t>(dropped);
      m_deliveredBase = static_cast<uint32_t>(delivered);
    }
  } else {
    hr = control->Run();
    if (Failed(hr)) {
      control->Stop();
      if (!ShowDeviceStartError(hr)) ShowError("Error %x: Cannot run graph", static_cast<unsigned>(hr));
      return 0;
    }
  }
  control.reset();
  m_captureStartMs = m_platform.TickCountMs();
  m_captureTimer.start(kCaptureTimerMs);
  m_capturing = 1;
  auto* escape = static_cast<CaptureEscapeWatch*>(
      findChild<QObject*>(CaptureEscapeWatch::kName, Qt::FindDirectChildrenOnly));
  (escape ? escape : new CaptureEscapeWatch(this))->Watch();
  return 1;
}

void CMainFrame::ShowCaptureStatus(int full) {
  FindDroppedFrames();
  if (!m_droppedFrames) {
    SetPaneText(QStringLiteral("Filter cannot report capture information"));
    return;
  }
  long dropped = 0, delivered = 0;
  if (Failed(m_droppedFrames->GetNumDropped(dropped)) ||
      Failed(m_droppedFrames->GetNumNotDropped(delivered)))
    return;
  const auto d = static_cast<int32_t>(static_cast<uint32_t>(dropped) - m_droppedBase);
  const auto n = static_cast<int32_t>(static_cast<uint32_t>(delivered) - m_deliveredBase);
  if (!full) {
    const auto t = static_cast<int32_t>(m_platform.TickCountMs() - m_captureStartMs);
    SetPaneText(QString::fromStdString(capture_status::RunningText(n, d, t)));
    return;
  }
  long average = 0;
  if (Failed(m_droppedFrames->GetAverageFrameSize(average))) return;
  const auto t = static_cast<int32_t>(m_captureStopMs - m_captureStartMs);
  SetPaneText(QString::fromStdString(
      capture_status::ClosingText(n, d, t, static_cast<int32_t>(average))));
}

void CMainFrame::OnCaptureTimer() {
  if (m_capturing) ShowCaptureStatus(0);
  if (m_useTimeLimit && (m_platform.TickCountMs() - m_captureStartMs) / 1000u >= m_timeLimitSec) {
    EndCapture();
    PreviewAgainIfWanted();
  }
}
