// Device enumeration and selection: the Devices menu, the selected device, the Options
// menu's device dialog entries and the commands that open them.
#include <QMenu>
#include <cmath>

#include "capture/device_memory.h"
#include "capture/dialogs/video_source_dlg.h"
#include "capture/main_frame.h"
#include "capture/platform/qt_owner.h"
#include "capture/platform/v4l2/v4l2_registry.h"
#include "resources/resources.h"

using media::Failed;
using media::Succeeded;

namespace {

constexpr int kDevicesPopup = 1;
constexpr int kOptionsPopup = 2;
// The Options popup keeps "Preview" and its separator; device entries follow them.
constexpr int kFirstDialogEntry = 2;
// Property frames open at this offset in the main window.
constexpr int kPropertyFrameX = 30;
constexpr int kPropertyFrameY = 30;
// Buffer sizes the compression information is asked with.
constexpr int kVersionChars = 40;
constexpr int kDescriptionChars = 80;

// Menu text shows '&' as a mnemonic marker; a device's name is shown as it is.
QString MenuText(const std::string& name) {
  return QString::fromStdString(name).replace('&', QStringLiteral("&&"));
}

template <typename T>
std::shared_ptr<T> FindOnPin(media::ICaptureGraphBuilder2& builder, const media::Guid& category,
                             const std::shared_ptr<media::IBaseFilter>& filter) {
  std::shared_ptr<T> out;
  if (Failed(builder.FindInterface(&category, &media::guid::kMediaTypeInterleaved, filter, out)))
    builder.FindInterface(&category, &media::guid::kMediaTypeVideo, filter, out);
  return out;
}

bool HasPages(media::IPropertyPageHost* object) {
  media::PropertyPageList pages;
  return object && Succeeded(object->GetPages(pages)) && pages.Count() > 0;
}

}  // namespace

// --- Devices menu ---

void CMainFrame::FillDeviceMenu() {
  if (m_deviceMenuBuilt) return;
  m_deviceMenuBuilt = 1;
  m_deviceCount = 0;
  QMenu* popup = MenuAt(kDevicesPopup);
  if (!popup) {
    ShowError("Error Cleaning Devices Menu");
    return;
  }
  popup->clear();
  for (auto& d : m_devices) d.reset();
  if (Failed(m_platform.CreateSystemDeviceEnum())) {
    ShowError("Error Creating Device Enumerator");
    return;
  }
  std::vector<std::shared_ptr<media::IMoniker>> monikers;
  if (m_platform.CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, monikers) !=
      media::status::kOk) {
    ShowError("Sorry, you have no video capture hardware");
    return;
  }
  int p = 0;
  for (const std::shared_ptr<media::IMoniker>& found : monikers) {
    if (p >= cmd::kDeviceSlots) break;
    if (!found) continue;
    // The selected device keeps its moniker across a rebuild, so choosing it again is
    // recognised as the same device.
    const bool selected =
        m_selectedDevice && m_selectedDevice->IsEqual(*found) == media::status::kOk;
    std::shared_ptr<media::IMoniker> moniker = selected ? m_selectedDevice : found;
    std::shared_ptr<media::IPropertyBag> bag;
    std::string name;
    if (Succeeded(moniker->BindToPropertyBag(bag)) && bag &&
        Succeeded(bag->Read("FriendlyName", name))) {
      QAction* a = EnsureAction(cmd::kDeviceFirst + p);
      a->setText(MenuText(name));
      a->setCheckable(true);
      a->setChecked(selected);
      a->setEnabled(!m_capturing);
      popup->addAction(a);
    }
    m_devices[p++] = moniker;
  }
  m_deviceCount = p;
}

void CMainFrame::SelectDeviceByDisplayName(const std::string& displayName) {
  std::shared_ptr<media::IMoniker> parsed;
  m_platform.ParseDisplayName(displayName, parsed);
  if (parsed) {
    for (const auto& device : m_devices) {
      if (device && parsed->IsEqual(*device) == media::status::kOk) {
        SelectDevice(parsed);
        return;
      }
    }
  }
  if (m_deviceCount > 0 && m_devices[0]) SelectDevice(m_devices[0]);
}

void CMainFrame::SelectDevice(const std::shared_ptr<media::IMoniker>& moniker) {
  if (!moniker) return;
  if (moniker != m_selectedDevice) {
    m_selectedDevice = moniker;
    if (m_previewing) HaltPreview();
    if (m_captureGraphBuilt || m_previewGraphBuilt) DismantleGraph();
    ReleaseCaptureFilters();
    if (CreateCaptureFilters()) ApplyRememberedDeviceSettings();
    if (m_wantPreview) {
      MakePreviewGraph();
      RunPreview();
    }
    FillOptionsMenu();
  }
  for (int p = 0; p < cmd::kDeviceSlots && m_devices[p]; ++p)
    if (QAction* a = Action(cmd::kDeviceFirst + p))
      a->setChecked(m_devices[p]->IsEqual(*m_selectedDevice) == media::status::kOk);
  std::string version, description;
  if (m_videoCompression &&
      Succeeded(m_videoCompression->GetInfo(version, kVersionChars, description,
                                            kDescriptionChars)) &&
      !version.empty() && !description.empty())
    SetPaneText(QString::fromStdString(description + " - " + version));
  else
    SetPaneText(QString::fromStdString(m_deviceFriendlyName));
}

// --- Options menu ---

void CMainFrame::FillOptionsMenu() {
  QMenu* popup = MenuAt(kOptionsPopup);
  if (!popup) return;
  while (popup->actions().size() > kFirstDialogEntry)
    popup->removeAction(popup->actions().at(kFirstDialogEntry));
  m_dialogPositions.fill(-1);
  const bool inChinese = m_menuResource == res::kMainMenuChinese;
  int n = 0;
  // Entries without a Chinese text show the English one in both menus.
  auto append = [&](DeviceDialog which, const char* english, const char* chinese) {
    QAction* a = EnsureAction(cmd::kDeviceDialogFirst + n);
    a->setText(QString::fromUtf8(inChinese && chinese ? chinese : english));
    a->setEnabled(!m_capturing);
    popup->addAction(a);
    m_dialogPositions[int(which)] = n++;
  };
  bool driverFormat = false;
  if (m_driverDialogs) {
    if (m_driverDialogs->HasDialog(media::dialog::kFormat) == media::status::kOk) {
      append(DeviceDialog::DriverFormat, "Video Format...", "视频格式...");
      driverFormat = true;
    }
    if (m_driverDialogs->HasDialog(media::dialog::kSource) == media::status::kOk)
      append(DeviceDialog::DriverSource, "Video Source...", "视频源...");
    if (m_driverDialogs->HasDialog(media::dialog::kDisplay) == media::status::kOk)
      append(DeviceDialog::DriverDisplay, "Video Display...", nullptr);
  }
  if (!m_captureFilter || driverFormat || !m_builder) return;
  const media::Guid& capture = media::guid::kPinCategoryCapture;
  if (HasPages(m_captureFilter.get()) || DeviceControls())
    append(DeviceDialog::FilterPages, "Video Source...", "视频源...");
  if (HasPages(FindOnPin<media::IAMStreamConfig>(*m_builder, capture, m_captureFilter).get()))
    append(DeviceDialog::CapturePinPages, "Video Format...", "视频格式...");
  if (HasPages(FindOnPin<media::IAMStreamConfig>(*m_builder, media::guid::kPinCategoryPreview,
                                                 m_captureFilter)
                   .get()))
    append(DeviceDialog::PreviewPinPages, "Video Preview Pin...", nullptr);
  if (auto crossbar = FindOnPin<media::IAMCrossbar>(*m_builder, capture, m_captureFilter)) {
    if (HasPages(crossbar.get())) append(DeviceDialog::CrossbarPages, "Video Crossbar...", nullptr);
    if (std::shared_ptr<media::IBaseFilter> asFilter = crossbar->AsFilter()) {
      std::shared_ptr<media::IAMCrossbar> second;
      m_builder->FindInterface(&media::guid::kLookUpstreamOnly, nullptr, asFilter, second);
      if (HasPages(second.get())) append(DeviceDialog::SecondCrossbar, "Second Crossbar...", nullptr);
    }
  }
  if (HasPages(FindOnPin<media::IAMTVTuner>(*m_builder, capture, m_captureFilter).get()))
    append(DeviceDialog::TunerPages, "TV Tuner...", nullptr);
}

// --- Device dialog commands ---

bool CMainFrame::ReadVideoSizeFromFormat() {
  if (!m_streamConfig) return false;
  media::MediaType mt;
  if (Failed(m_streamConfig->GetFormat(mt)) || !mt.IsVideoInfo()) return false;
  m_videoWidth = mt.videoInfo->bmiHeader.biWidth;
  m_videoHeight = std::abs(mt.videoInfo->bmiHeader.biHeight);
  return true;
}

media::Status CMainFrame::ShowPropertyFrameOn(media::IPropertyPageHost& object) {
  media::PropertyPageList pages;
  if (Failed(object.GetPages(pages))) return media::status::kNoInterface;
  return m_platform.ShowPropertyFrame(media::OwnerFromWidget(this), kPropertyFrameX,
                                      kPropertyFrameY, "", object, pages);
}

void CMainFrame::OnDeviceDialog(int position) {
  int which = -1;
  for (int k = 0; k < kDialogPositions; ++k)
    if (m_dialogPositions[k] == position) which = k;
  if (which < 0) return;
  const media::Guid& capture = media::guid::kPinCategoryCapture;
  switch (DeviceDialog(which)) {
    case DeviceDialog::DriverFormat: {
      if (!m_driverDialogs) return;
      if (m_wantPreview) HaltPreview();
      const media::Status hr =
          m_driverDialogs->ShowDialog(media::dialog::kFormat, media::OwnerFromWidget(this));
      if (hr == media::status::kCannotConnect) DismantleGraph();
      if (ReadVideoSizeFromFormat()) {
        FitWindowToVideo(m_videoWidth, m_videoHeight);
        RememberDeviceFormat();
      }
      PreviewAgainIfWanted();
      return;
    }
    case DeviceDialog::DriverSource:
    case DeviceDialog::DriverDisplay:
      if (!m_driverDialogs) return;
      if (m_wantPreview) HaltPreview();
      m_driverDialogs->ShowDialog(which == int(DeviceDialog::DriverSource)
                                      ? media::dialog::kSource
                                      : media::dialog::kDisplay,
                                  media::OwnerFromWidget(this));
      if (m_wantPreview) RunPreview();
      return;
    case DeviceDialog::FilterPages:
      if (!m_captureFilter) return;
      if (std::unique_ptr<v4l2::CV4L2Controls> controls = DeviceControls()) {
        // The camera's own controls, changed live while the dialog is open.
        CVideoSourceDlg dialog(*controls, this);
        dialog.move(mapToGlobal(QPoint(kPropertyFrameX, kPropertyFrameY)));
        if (dialog.exec() == QDialog::Accepted) RememberDeviceControls(*controls);
        return;
      }
      ShowPropertyFrameOn(*m_captureFilter);
      return;
    case DeviceDialog::CapturePinPages: {
      if (!m_builder || !m_captureFilter) return;
      if (m_wantPreview) HaltPreview();
      if (m_captureGraphBuilt || m_previewGraphBuilt) DismantleGraph();
      if (auto config = FindOnPin<media::IAMStreamConfig>(*m_builder, capture, m_captureFilter))
        ShowPropertyFrameOn(*config);
      if (ReadVideoSizeFromFormat()) {
        FitWindowToVideo(m_videoWidth, m_videoHeight);
        RememberDeviceFormat();
      }
      PreviewAgainIfWanted();
      return;
    }
    case DeviceDialog::PreviewPinPages: {
      if (!m_builder || !m_captureFilter) return;
      if (m_wantPreview) {
        HaltPreview();
        DismantleGraph();
      }
      if (auto config = FindOnPin<media::IAMStreamConfig>(
              *m_builder, media::guid::kPinCategoryPreview, m_captureFilter))
        ShowPropertyFrameOn(*config);
      PreviewAgainIfWanted();
      return;
    }
    case DeviceDialog::CrossbarPages:
      if (m_builder && m_captureFilter)
        if (auto crossbar = FindOnPin<media::IAMCrossbar>(*m_builder, capture, m_captureFilter))
          ShowPropertyFrameOn(*crossbar);
      return;
    case DeviceDialog::TunerPages:
      if (m_builder && m_captureFilter)
        if (auto tuner = FindOnPin<media::IAMTVTuner>(*m_builder, capture, m_captureFilter))
          ShowPropertyFrameOn(*tuner);
      return;
    case DeviceDialog::SecondCrossbar:
      return;  // listed, but it opens nothing
  }
}

// --- Remembered camera settings ---

std::unique_ptr<v4l2::CV4L2Controls> CMainFrame::DeviceControls() const {
  if (!m_selectedDevice || !m_captureFilter) return nullptr;
  return v4l2::ControlsForDevice(m_selectedDevice->GetDisplayName());
}

void CMainFrame::ApplyRememberedDeviceSettings() {
  if (!m_selectedDevice) return;
  const CDeviceMemory memory = CDeviceMemory::Read(m_selectedDevice->GetDisplayName());
  if (m_streamConfig && memory.ApplyFormat(*m_streamConfig)) ReadVideoSizeFromFormat();
  if (std::unique_ptr<v4l2::CV4L2Controls> controls = DeviceControls())
    memory.ApplyControls(*controls);
}

void CMainFrame::ApplyRememberedControls() {
  if (!m_selectedDevice) return;
  // Opened only when the device has controls: most graph starts read no profile.
  if (std::unique_ptr<v4l2::CV4L2Controls> controls = DeviceControls())
    CDeviceMemory::Read(m_selectedDevice->GetDisplayName()).ApplyControls(*controls);
}

void CMainFrame::RememberDeviceControls(v4l2::CV4L2Controls& controls) {
  if (!m_selectedDevice) return;
  CDeviceMemory memory = CDeviceMemory::Read(m_selectedDevice->GetDisplayName());
  memory.TakeControls(controls);
  memory.Write();
}

void CMainFrame::RememberDeviceFormat() {
  if (!m_selectedDevice || !m_streamConfig) return;
  CDeviceMemory memory = CDeviceMemory::Read(m_selectedDevice->GetDisplayName());
  memory.TakeFormat(*m_streamConfig);
  memory.Write();
}
