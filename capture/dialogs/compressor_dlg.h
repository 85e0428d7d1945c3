// "Video Compressor Selection": the platform's video compressors, sorted by name. OK needs a
// highlighted entry and gives back its position in the platform's enumeration.
#pragma once

#include <QDialog>

#include "capture/platform/media_platform.h"

class QListWidget;

class CCompressorDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CCompressorDlg(media::IMediaPlatform& platform, QWidget* parent = nullptr);
  int Count() const { return m_count; }
  // Enumeration position of the chosen compressor (-1 until OK).
  int ChosenPosition() const { return m_chosen; }
  QListWidget* List() const { return m_list; }

 public slots:
  void accept() override;

 private:
  QListWidget* m_list = nullptr;
  int m_count = 0;
  int m_chosen = -1;
};
