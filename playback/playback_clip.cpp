// Opening, starting and closing a clip, and the window sizes that follow the clip.
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "gstqt/video_widget.h"
#include "playback/playback_box.h"
#include "playback/playback_window.h"
#include "playback/running_objects.h"
#include "playback/window_placement.h"
#include "resources/resource_ids.h"

using playback::CPlaybackGraph;
using playback::Failed;
using playback::ShowPlaybackError;
using playback::Status;

namespace {

bool g_firstOpen = true;  // the open dialog starts at the root the first time only

// The dialog's filter pairs: the text the user reads and the patterns it stands for.
struct FilterPair {
  const char* text;
  const char* patterns;
};
constexpr FilterPair kFilters[] = {
    {"Video Files (*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v)",
     "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v"},
    {"Audio files (*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd)",
     "*.wav; *.mpa; *.mp2; *.mp3; *.au; *.aif; *.aiff; *.snd"},
    {"MIDI Files (*.mid, *.midi, *.rmi)", "*.mid; *.midi; *.rmi"},
    {"Image Files (*.jpg, *.bmp, *.gif, *.tga)", "*.jpg; *.bmp; *.gif; *.tga"},
    {"All Files (*.*)", "*.*;"},
};

// Qt reads a filter's patterns from its last parentheses, split at spaces. The patterns go
// there in both cases (file names on Linux are case-sensitive, media names often upper-case),
// "*.*" meaning every file; the dialog hides that part and shows the text as it stands.
QStringList MediaFileFilters() {
  QStringList filters;
  for (const FilterPair& f : kFilters) {
    QStringList patterns;
    for (QString p : QString::fromLatin1(f.patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      p = p.trimmed();
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
      patterns << p;
      if (p.toUpper() != p) patterns << p.toUpper();
    }
    filters << QStringLiteral("%1 (%2)").arg(QLatin1String(f.text), patterns.join(QLatin1Char(' ')));
  }
  return filters;
}

// Each facility the window needs, with the message its absence shows.
struct FacilityCheck {
  CPlaybackGraph::Facility facility;
  const char* message;
};
constexpr FacilityCheck kFacilityChecks[] = {
    {CPlaybackGraph::Facility::Control,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n"},
    {CPlaybackGraph::Facility::Events,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n"},
    {CPlaybackGraph::Facility::Seeking,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)\n"},
    {CPlaybackGraph::Facility::Position,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaPosition, (void **)&pMP)\n"},
    {CPlaybackGraph::Facility::VideoWindow,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n"},
    {CPlaybackGraph::Facility::BasicVideo,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n"},
    {CPlaybackGraph::Facility::BasicAudio,
     "FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicAudio, (void **)&pBA)\n"},
};

}  // namespace

bool CPlaybackWnd::GetClipFileName(std::string& name) {
  QFileDialog dialog(this, QStringLiteral("Open Media File..."),
                     g_firstOpen ? QStringLiteral("/") : QString());
  g_firstOpen = false;
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly |
                    QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);  // the path and the file must exist
  const QStringList filters = MediaFileFilters();
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.front());
  if (playback::RunModal(dialog) != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return false;
  const std::string path = QFile::encodeName(chosen.front()).toStdString();
  if (chosen.front().toLower().contains(QLatin1String(".asx"))) {
    ShowPlaybackError(this, "%s",
                      "ASX Playlists are not supported by this application.\n\n"
                      "Please select a valid media file.");
    return false;
  }
  name = path;
  return true;
}

void CPlaybackWnd::OpenClip() {
  if (clipName_.empty()) {
    UpdateMainTitle();
    InitPlayerWindow();
    showNormal();
    Foreground();
    if (!GetClipFileName(clipName_)) return;
  }
  state_ = playback::kStopped;
  volume_ = playback::kVolumeFull;
  if (Failed(StartClip())) CloseClip();
}

Status CPlaybackWnd::StartClip() {
  update();
  Status hr = CPlaybackGraph::Create(graph_);
  if (Failed(hr)) {
    ShowPlaybackError(this,
                      "FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, "
                      "CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&pGB)\n",
                      hr);
    return hr;
  }
  if (Failed(hr = graph_->RenderFile(clipName_))) {
    ShowPlaybackError(this, "FAILED(hr=0x%x) in pGB->RenderFile(wFile, NULL)\n", hr);
    return hr;
  }
  for (const FacilityCheck& check : kFacilityChecks) {
    if (Failed(hr = graph_->Query(check.facility))) {
      ShowPlaybackError(this, check.message, hr);
      return hr;
    }
  }

  // A clip whose video window has nothing to show is played as sound only.
  hr = graph_->GetVisible();
  if (hr == playback::kNoInterface) {
    audioOnly_ = true;
  } else {
    audioOnly_ = false;
    if (Failed(hr))
      ShowPlaybackError(this, "Failed(%08lx) in pVW->get_Visible()!\r\n",
                        static_cast<unsigned long>(hr));
  }

  if (Failed(hr = graph_->SetNotify([this] { OnGraphNotify(); }))) {
    ShowPlaybackError(this,
                      "FAILED(hr=0x%x) in pME->SetNotifyWindow((OAHWND)ghApp, WM_GRAPHNOTIFY, 0)\n",
                      hr);
    return hr;
  }

  if (audioOnly_) {
    InitPlayerWindow();
  } else {
    AttachVideo();
    if (Failed(hr = InitVideoWindow(1, 1))) {
      ShowPlaybackError(this, "FAILED(hr=0x%x) in InitVideoWindow(1, 1)\n", hr);
      return hr;
    }
    AcquireFrameStepper();
  }

  CheckSizeItem(cmd::kPlayNormalSize);
  showNormal();
  update();
  Foreground();
  fullScreen_ = false;
  rate_ = 1.0;
  UpdateMainTitle();

  // Playback goes on when the graph cannot be registered.
  if (Failed(hr = playback::RegisterGraph(graph_->Pipeline(), rotCookie_))) {
    ShowPlaybackError(this, "Failed to register filter graph with ROT!  hr=0x%x", hr);
    rotCookie_ = 0;
  }

  if (Failed(hr = graph_->Run())) {
    ShowPlaybackError(this, "FAILED(hr=0x%x) in pMC->Run()\n", hr);
    return hr;
  }
  state_ = playback::kRunning;
  setFocus();
  return playback::kOk;
}

void CPlaybackWnd::AttachVideo() {
  // The video window: a child of the client area that fills it.
  auto* video = new media::gstpreview::PreviewWidget(graph_->Frames());
  video->setAccessibleName(QStringLiteral("Video"));
  video->installEventFilter(this);
  clientLayout_->addWidget(video);
  video_ = video;
  video->show();
}

void CPlaybackWnd::AcquireFrameStepper() {
  canStep_ = graph_ && graph_->CanStep(1) == playback::kOk;
}

Status CPlaybackWnd::InitVideoWindow(int multiplier, int divisor) {
  if (!graph_) return playback::kOk;  // no clip: nothing to size to
  int width = 0, height = 0;
  const Status hr = graph_->GetVideoSize(width, height);
  if (hr == playback::kNoInterface) return playback::kOk;
  if (Failed(hr)) return hr;
  EnablePlaybackItems(true);
  // The window frame comes on top of this size; the menu bar takes its height from the video.
  playerSized_ = false;
  ResizeOnScreen(QSize(multiplier * width / divisor, multiplier * height / divisor));
  return playback::kOk;
}

QSize CPlaybackWnd::FrameSize() const { return frameGeometry().size() - geometry().size(); }

void CPlaybackWnd::FollowFrame() {
  const QSize frame = FrameSize();
  if (frame == frameSeen_) return;
  frameSeen_ = frame;
  setMinimumSize(QSize(kMinWidth, kMinHeight) - frame);
  if (playerSized_ && !fullScreen_)
    ResizeOnScreen(QSize(kPlayerWidth, kPlayerHeight) - frame);
  else
    KeepOnScreen(size(), *this);  // the frame came or changed around the same client area
}

void CPlaybackWnd::ResizeOnScreen(const QSize& size) {
  resize(size);
  KeepOnScreen(size, *this);
}

void CPlaybackWnd::KeepOnScreen(const QSize& size, const QWidget& by) {
  if (!isVisible()) return;  // placed when shown
  QScreen* screen = QGuiApplication::screenAt(by.frameGeometry().center());
  if (!screen) screen = by.screen();
  if (!screen) return;
  // The size asked for (within the window's limits, as resize takes it): the window system
  // may report the new size later than the call.
  const QSize client = size.expandedTo(minimumSize()).boundedTo(maximumSize());
  const QRect frame(frameGeometry().topLeft(), client + FrameSize());
  const QPoint place = playback::PlaceInside(frame, screen->availableGeometry());
  if (place != frame.topLeft()) move(place);
}

Status CPlaybackWnd::InitPlayerWindow() {
  playerSized_ = true;
  ResizeOnScreen(QSize(kPlayerWidth, kPlayerHeight) - FrameSize());
  CheckSizeItem(cmd::kPlayNormalSize);
  EnablePlaybackItems(false);
  return playback::kOk;
}

void CPlaybackWnd::CloseClip() {
  if (graph_) graph_->Stop();
  state_ = playback::kStopped;
  audioOnly_ = true;
  fullScreen_ = false;
  ReleaseGraph();
  clipName_.clear();
  state_ = playback::kNoClip;
  update();
  UpdateMainTitle();
  InitPlayerWindow();
}

void CPlaybackWnd::ReleaseGraph() {
  if (video_) {
    video_->hide();
    delete video_.data();
  }
  drain_ = nullptr;
  savedDrain_ = nullptr;
  if (graph_) graph_->SetNotify({});
  if (rotCookie_) {
    playback::RevokeGraph(rotCookie_);
    rotCookie_ = 0;
  }
  canStep_ = false;
  graph_.reset();
}
