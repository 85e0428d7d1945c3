// "Video Source...": the camera's picture controls as a dialog. Each control gets the widget
// its kind asks for (a slider for integers, a check box for switches, a list for menus, a
// push button for actions); changes reach the camera at once, so the preview shows them
// live. Controls an automatic mode decides are shown greyed and follow the mode as it
// changes. "Default" puts every control the user may change back to the camera's default;
// Cancel puts back the values found when the dialog opened.
#pragma once

#include <QDialog>
#include <cstdint>
#include <map>
#include <vector>

#include "capture/platform/v4l2/v4l2_controls.h"

class QLabel;
class QPushButton;

class CVideoSourceDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CVideoSourceDlg(v4l2::CV4L2Controls& controls, QWidget* parent = nullptr);

  // The widget of a control (nullptr when the dialog shows no such control).
  QWidget* ControlWidget(uint32_t id) const;
  // The last complaint shown under the controls (empty when none).
  QString Note() const;
  QPushButton* DefaultButton() const { return m_defaultButton; }

 public slots:
  void RestoreDefaults();
  void reject() override;

 private:
  struct Row {
    v4l2::Control control;
    QWidget* widget = nullptr;
    QLabel* label = nullptr;
    QLabel* valueText = nullptr;  // integers: the number beside the slider
  };
  QWidget* MakeWidget(Row& row);
  void Change(size_t row, int32_t value);
  // Reads every control's state and value again and shows them, without echoing changes.
  void Refresh();

  v4l2::CV4L2Controls& m_controls;
  std::vector<Row> m_rows;
  std::vector<std::pair<uint32_t, int32_t>> m_atOpen;
  QLabel* m_note = nullptr;
  QPushButton* m_defaultButton = nullptr;
};
