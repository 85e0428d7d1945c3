// "Video Compressor Selection": the platform's video compressors, sorted by name, with the
// current choice highlighted. The dialog is wide enough for its caption and the longest
// name. OK needs a highlighted entry and gives back its position in the platform's
// enumeration.
#pragma once

#include <QDialog>

#include "capture/platform/media_platform.h"

class QListWidget;

class CCompressorDlg : public QDialog {
  Q_OBJECT
 public:
  // `current` names the compressor to highlight (none when empty or not listed).
  CCompressorDlg(media::IMediaPlatform& platform, const QString& current,
                 QWidget* parent = nullptr);
  int Count() const { return m_count; }
  // Enumeration position of the chosen compressor (-1 until OK).
  int ChosenPosition() const { return m_chosen; }
  QListWidget* List() const { return m_list; }

 public slots:
  void accept() override;

 private:
  void FitToContents();

  QListWidget* m_list = nullptr;
  int m_count = 0;
  int m_chosen = -1;
};
