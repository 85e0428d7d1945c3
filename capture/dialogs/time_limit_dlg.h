// "Capture Time Limit": whether a capture stops by itself, and after how many seconds.
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QLineEdit;

class CTimeLimitDlg : public QDialog {
  Q_OBJECT
 public:
  CTimeLimitDlg(bool useTimeLimit, uint32_t seconds, QWidget* parent = nullptr);
  bool UseTimeLimit() const { return m_use; }
  uint32_t TimeLimit() const { return m_seconds; }

 public slots:
  // Takes the values only when the edit box holds an unsigned 32-bit number; otherwise the
  // user is told so and the dialog stays open with the text selected.
  void accept() override;

 private:
  QCheckBox* m_check = nullptr;
  QLineEdit* m_edit = nullptr;
  bool m_use;
  uint32_t m_seconds;
};
