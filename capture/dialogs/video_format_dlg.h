// "Video Media Properties": the capture pin's colour space and output size, from the
// capabilities the device reports. The colour-space list names each run of capabilities that
// share a subtype ("RGB24", "YUY2"); the size list offers the sizes of the chosen colour
// space. OK makes the capability of the chosen pair the pin's format.
#pragma once

#include <QDialog>
#include <cstdint>

#include "capture/platform/media_platform.h"

class QComboBox;

class CVideoFormatDlg : public QDialog {
  Q_OBJECT
 public:
  // The size list's message: fill it (0) or apply the chosen format (1).
  static constexpr int kFillOrApplyMessage = media::kFirstUserMessage + 3;

  CVideoFormatDlg(media::IAMStreamConfig* config, QWidget* parent = nullptr);
  // What message 1027 does; a negative or failure status when it could not.
  long FillOrApply(int apply);

 public slots:
  void accept() override;

 private:
  void OnInitDialog();

  media::IAMStreamConfig* m_config;
  QComboBox* m_colorSpaces = nullptr;
  QComboBox* m_sizes = nullptr;
  int m_preselected = -1;
};
