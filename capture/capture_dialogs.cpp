// The capture settings dialogs as the main frame runs them: compressor choice, frame rate and
// time limit, and the capture pin's format.
#include "capture/device_category.h"
#include "capture/dialogs/compressor_dlg.h"
#include "capture/dialogs/dialog_runner.h"
#include "capture/dialogs/frame_rate_dlg.h"
#include "capture/dialogs/time_limit_dlg.h"
#include "capture/dialogs/video_format_dlg.h"
#include "capture/main_frame.h"

bool CMainFrame::PickCompressor(std::shared_ptr<media::IBaseFilter>& compressor) {
  // The list opens on the compressor chosen last.
  CCompressorDlg dlg(m_platform, QString::fromLocal8Bit(m_compressorName.c_str()), this);
  if (capture_dialogs::RunModal(dlg) != QDialog::Accepted || dlg.ChosenPosition() < 0)
    return false;
  // A compressor that will not bind still counts as chosen: the next capture says it could
  // not be added and records uncompressed.
  std::string name;
  EnumDeviceCategory(m_platform, &media::guid::kVideoCompressorCategory, dlg.ChosenPosition(),
                     &name, 80, &compressor);
  m_compressorName = name;
  return true;
}

void CMainFrame::ToggleCompression() {
  m_compressor.reset();
  m_useCompressor = m_useCompressor ? 0 : 1;
  if (m_useCompressor && !PickCompressor(m_compressor)) m_useCompressor = 0;
  if (m_captureGraphBuilt) DismantleGraph();
}

void CMainFrame::OnSetFrameRate() {
  CFrameRateDlg dlg(m_useFrameRate != 0, m_frameRate, this);
  if (capture_dialogs::RunModal(dlg) != QDialog::Accepted) return;
  m_useFrameRate = dlg.UseFrameRate() ? 1 : 0;
  m_frameRate = dlg.FrameRate();
}

void CMainFrame::OnSetTimeLimit() {
  CTimeLimitDlg dlg(m_useTimeLimit != 0, m_timeLimitSec, this);
  if (capture_dialogs::RunModal(dlg) != QDialog::Accepted) return;
  m_useTimeLimit = dlg.UseTimeLimit() ? 1 : 0;
  m_timeLimitSec = dlg.TimeLimit();
}

void CMainFrame::EditVideoFormat() {
  if (m_wantPreview) HaltPreview();
  if (m_captureGraphBuilt || m_previewGraphBuilt) DismantleGraph();
  if (m_streamConfig) {
    CVideoFormatDlg dlg(m_streamConfig.get(), this);
    capture_dialogs::RunModal(dlg);
  }
  // The rebuilt preview fits the window to the new size.
  PreviewAgainIfWanted();
}
