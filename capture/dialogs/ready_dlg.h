// "Ready to Capture": the last word before a capture starts, naming the file it writes.
#pragma once

#include <QDialog>
#include <string>

class CReadyDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CReadyDlg(const std::string& captureFileName, QWidget* parent = nullptr);
};
