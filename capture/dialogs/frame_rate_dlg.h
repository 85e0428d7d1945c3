// "Choose Frame Rate": whether the capture pin gets a frame rate, and which (frames/second).
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

class CFrameRateDlg : public QDialog {
  Q_OBJECT
 public:
  CFrameRateDlg(bool useFrameRate, double frameRate, QWidget* parent = nullptr);
  bool UseFrameRate() const { return m_use; }
  double FrameRate() const { return m_rate; }

 public slots:
  // Takes the values only when the edit box holds a number; otherwise the user is told so and
  // the dialog stays open with the text selected. Any number is taken: a rate of 0 or less imposes none later.
  void accept() override;

 private:
  QCheckBox* m_check = nullptr;
  QLineEdit* m_edit = nullptr;
  bool m_use;
  double m_rate;
};
