// The main frame's graph state operations: build, run, halt and dismantle the preview,
// end a capture run, release the capture filters. They keep the state rules: at most one
// graph exists at a time, capturing and previewing are never both set.
#include <cmath>

#include "capture/main_frame.h"
#include "capture/platform/qt_owner.h"
#include "resources/resources.h"

using media::Failed;
using media::Succeeded;

namespace {

constexpr char kDeviceBusy[] =
    "Could not connect capture pin #0 to grabber.\r\nIs the capture device being used by another "
    "application?";

// The format of the stream configuration when it is a video-info one.
bool CurrentVideoInfo(media::IAMStreamConfig* config, media::VideoInfoHeader& vih) {
  if (!config) return false;
  media::MediaType mt;
  if (Failed(config->GetFormat(mt)) || !mt.IsVideoInfo()) return false;
  vih = *mt.videoInfo;
  return true;
}

}  // namespace

int CMainFrame::CreateCaptureFilters() {
  media::Status hr = media::status::kOk;
  if (!m_builder) {
    hr = m_platform.CreateCaptureGraphBuilder2(m_builder);
    if (!m_builder) {
      ShowError("Cannot instantiate graph builder");
      return 0;
    }
  }
  m_captureFilter.reset();
  hr = media::status::kOk;
  if (m_selectedDevice) {
    m_deviceFriendlyName.clear();
    std::shared_ptr<media::IPropertyBag> bag;
    if (Succeeded(m_selectedDevice->BindToPropertyBag(bag)) && bag) {
      std::string name;
      if (Succeeded(bag->Read("FriendlyName", name)))
        m_deviceFriendlyName = media::CutToChars(name, kFriendlyNameChars - 1);
    }
    hr = m_selectedDevice->BindToFilter(m_captureFilter);
  }
  if (!m_captureFilter) {
    ShowError("Error %x: Cannot create video capture filter", static_cast<unsigned>(hr));
    ReleaseCaptureFilters();
    return 0;
  }
  if (!m_graph) {
    m_platform.CreateFilterGraph(m_graph);
    if (!m_graph) {
      ShowError("Cannot instantiate filtergraph");
      ReleaseCaptureFilters();
      return 0;
    }
  }
  if (Failed(m_builder->SetFiltergraph(m_graph))) {
    ShowError("Cannot give graph to builder");
    ReleaseCaptureFilters();
    return 0;
  }
  hr = m_graph->AddFilter(m_captureFilter, "");
  if (Failed(hr)) {
    ShowError("Error %x: Cannot add vidcap to filtergraph", static_cast<unsigned>(hr));
    ReleaseCaptureFilters();
    return 0;
  }
  const media::Guid* capture = &media::guid::kPinCategoryCapture;
  const media::Guid* iavs = &media::guid::kMediaTypeInterleaved;
  const media::Guid* vids = &media::guid::kMediaTypeVideo;
  if (Failed(m_builder->FindInterface(capture, iavs, m_captureFilter, m_videoCompression)))
    m_builder->FindInterface(capture, vids, m_captureFilter, m_videoCompression);
  hr = m_builder->FindInterface(capture, iavs, m_captureFilter, m_streamConfig);
  if (Failed(hr)) hr = m_builder->FindInterface(capture, vids, m_captureFilter, m_streamConfig);
  if (Failed(hr) || !m_streamConfig)
    ShowError("Error %x: Cannot find VCapture:IAMStreamConfig", static_cast<unsigned>(hr));
  media::VideoInfoHeader vih;
  if (CurrentVideoInfo(m_streamConfig.get(), vih)) {
    m_videoWidth = vih.bmiHeader.biWidth;
    m_videoHeight = std::abs(vih.bmiHeader.biHeight);
  }
  m_builder->FindInterface(capture, vids, m_captureFilter, m_driverDialogs);
  return 1;
}

int CMainFrame::MakePreviewGraph() {
  if (m_previewGraphBuilt) return 1;
  if (m_capturing || m_previewing || !m_captureFilter || !m_graph) return 0;
  if (m_captureGraphBuilt) DismantleGraph();

  std::shared_ptr<media::ISampleGrabber> grabber;
  media::Status hr = m_platform.CreateSampleGrabber(grabber);
  m_sampleGrabber = grabber;
  if (!grabber) {
    ShowError("Could not create SampleGrabber (is qedit.dll registered?)");
    return hr ? hr : 0;
  }
  std::shared_ptr<media::IBaseFilter> grabberFilter = grabber->Filter();
  hr = m_graph->AddFilter(grabberFilter, "Grabber");
  if (Failed(hr)) {
    ShowError("Could not put sample grabber in graph");
    return hr;
  }
  hr = m_graph->Connect(media::FirstPin(*m_captureFilter, media::PinDirection::Output),
                        media::FirstPin(*grabberFilter, media::PinDirection::Input));
  if (Failed(hr)) {
    ShowError(kDeviceBusy);
    return hr;
  }
  hr = m_graph->Render(media::FirstPin(*grabberFilter, media::PinDirection::Output));
  if (Failed(hr)) {
    ShowError("Could not render sample grabber output pin");
    return hr;
  }
  if (hr == media::status::kPreviewFromCapture) {
    m_previewFaked = 1;
  } else if (hr != media::status::kOk && m_builder) {
    const media::Status r = m_builder->RenderStream(&media::guid::kPinCategoryPreview,
                                                    &media::guid::kMediaTypeVideo,
                                                    grabberFilter, nullptr, nullptr);
    if (r == media::status::kPreviewFromCapture)
      m_previewFaked = 1;
    else if (r != media::status::kOk)
      ShowError("This graph cannot preview!");
  }
  grabber->SetBufferSamples(true);

  std::shared_ptr<media::IVideoWindow> window;
  m_graph->QueryVideoWindow(window);
  m_videoWindow = window;
  if (!window) {
    ShowError("This graph cannot preview properly");
  } else {
    media::VideoInfoHeader vih;
    if (CurrentVideoInfo(m_streamConfig.get(), vih)) {
      m_videoWidth = vih.bmiHeader.biWidth;
      m_videoHeight = std::abs(vih.bmiHeader.biHeight);
    }
    window->put_Owner(VideoOwner());
    window->put_WindowStyle(media::style::kChild | media::style::kClipChildren |
                            media::style::kClipSiblings);
    FitWindowToVideo(m_videoWidth, m_videoHeight);
    window->SetWindowPosition(0, ToolBarHeight(), m_videoWidth, m_videoHeight);
    window->put_Visible(true);
  }

  if (m_streamConfig && m_useFrameRate) {
    media::MediaType mt;
    hr = m_streamConfig->GetFormat(mt);
    int64_t duration = 0;
    if (Succeeded(hr) && mt.IsVideoInfo() && FrameDuration(m_frameRate, duration)) {
      mt.videoInfo->AvgTimePerFrame = duration;
      hr = m_streamConfig->SetFormat(mt);
      if (Failed(hr)) ShowError("%x: Cannot set frame rate for preview", static_cast<unsigned>(hr));
    }
  }

  ListenToGraphEvents();
  m_previewGraphBuilt = 1;
  return 1;
}

int CMainFrame::RunPreview() {
  if (m_previewing) return 1;
  if (!m_previewGraphBuilt || !m_graph) return 0;
  ApplyRememberedControls();
  std::shared_ptr<media::IMediaControl> control;
  media::Status hr = m_graph->QueryMediaControl(control);
  if (Succeeded(hr) && control) {
    hr = control->Run();
    if (Failed(hr)) control->Stop();
  } else if (Succeeded(hr)) {
    hr = media::status::kNoInterface;
  }
  if (Failed(hr)) {
    if (!ShowDeviceStartError(hr)) ShowError("Error %x: Cannot run preview graph", static_cast<unsigned>(hr));
    return 0;
  }
  m_previewing = 1;
  return 1;
}

bool CMainFrame::ShowDeviceStartError(media::Status hr) {
  if (hr == media::status::kDeviceInUse) {
    ShowError(kDeviceBusy);
    return true;
  }
  if (hr == media::status::kDeviceAccessDenied) {
    const QString text = QString::fromUtf8(res::LoadString(res::kStrDeviceAccessDenied, res::LanguageFlag()))
                             .arg(QString::fromStdString(m_deviceFriendlyName));
    ShowError("%s", text.toUtf8().constData());
    return true;
  }
  return false;
}

int CMainFrame::HaltPreview() {
  if (!m_previewing) return 0;
  std::shared_ptr<media::IMediaControl> control;
  media::Status hr = m_graph ? m_graph->QueryMediaControl(control) : media::status::kNoInterface;
  if (Succeeded(hr) && control) hr = control->Stop();
  else if (Succeeded(hr)) hr = media::status::kNoInterface;
  if (Failed(hr)) {
    ShowError("Error %x: Cannot stop preview graph", static_cast<unsigned>(hr));
    return 0;
  }
  m_previewing = 0;
  update();
  return 1;
}

int CMainFrame::EndCapture() {
  if (!m_capturing) return 0;
  std::shared_ptr<media::IMediaControl> control;
  media::Status hr = m_graph ? m_graph->QueryMediaControl(control) : media::status::kNoInterface;
  if (Succeeded(hr) && control) hr = control->Stop();
  else if (Succeeded(hr)) hr = media::status::kNoInterface;
  if (Failed(hr)) {
    ShowError("Error %x: Cannot stop graph", static_cast<unsigned>(hr));
    return 0;
  }
  m_captureStopMs = m_platform.TickCountMs();
  m_captureTimer.stop();
  ShowCaptureStatus(1);
  m_capturing = 0;
  UpdateMenuRules();  // however the capture ended: Escape, the time limit, an error
  update();
  return 1;
}

void CMainFrame::DismantleGraph() {
  m_fileSink.reset();
  m_aviMuxConfig.reset();
  m_fileWriter.reset();
  if (m_videoWindow) {
    m_videoWindow->put_Owner(media::OwnerWindow{});
    m_videoWindow->put_Visible(false);
    m_videoWindow.reset();
  }
  // No notification may reach a frame that no longer holds the queue.
  if (m_mediaEvent) m_mediaEvent->SetNotifyWindow({}, 0, 0);
  m_mediaEvent.reset();
  m_droppedFrames.reset();
  if (m_captureFilter) DetachDownstream(m_captureFilter);
  m_captureGraphBuilt = 0;
  m_previewGraphBuilt = 0;
  m_previewFaked = 0;
}

void CMainFrame::DetachDownstream(const std::shared_ptr<media::IBaseFilter>& filter) {
  if (!filter || !m_graph) return;
  for (const std::shared_ptr<media::IPin>& pin : filter->EnumPins()) {
    std::shared_ptr<media::IPin> to;
    if (Failed(pin->ConnectedTo(to)) || !to) continue;
    media::PinInfo info;
    if (Failed(to->QueryPinInfo(info))) break;
    if (info.direction == media::PinDirection::Input) {
      DetachDownstream(info.filter);
      m_graph->Disconnect(to);
      m_graph->Disconnect(pin);
      m_graph->RemoveFilter(info.filter);
    }
  }
}

void CMainFrame::ReleaseCaptureFilters() {
  m_graph.reset();
  m_builder.reset();
  m_captureFilter.reset();
  m_streamConfig.reset();
  m_videoCompression.reset();
  m_driverDialogs.reset();
  m_compressor.reset();
  m_sampleGrabber.reset();
}

void CMainFrame::ListenToGraphEvents() {
  std::shared_ptr<media::IMediaEventEx> events;
  m_graph->QueryMediaEvent(events);
  m_mediaEvent = events;
  if (events)
    events->SetNotifyWindow([this](uint32_t, intptr_t) { OnGraphNotify(); },
                            kGraphEventMessage, 0);
}

bool CMainFrame::FrameDuration(double framesPerSecond, int64_t& duration) {
  // A rate of 0 or less, or one too small for a 64-bit duration, names no frame duration:
  // the device keeps its own rate.
  const double units = framesPerSecond > 0.0 ? 10000000.0 / framesPerSecond : 0.0;
  if (!(units > 0.0 && units < 9.2e18)) return false;
  duration = static_cast<int64_t>(units);
  return true;
}
