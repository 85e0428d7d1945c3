// CSetFileSizeDlg: how much disk space to reserve for the capture file.
//
// Shows the free space of the capture file's volume (a text given by the caller, empty when
// unknown) and takes the size in megabytes. The size must be a decimal integer that fits the
// 16-bit setting it goes into; other input is refused with the data exchange's message and
// keeps the dialog open with the field selected.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

class CSetFileSizeDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMaxMegabytes = 65535;

  explicit CSetFileSizeDlg(QWidget* parent = nullptr);

  void SetFreeSpaceText(const QString& text);
  QString FreeSpaceText() const;
  void SetFileSizeMb(int megabytes);
  // The value accepted with OK (the initial one until then).
  int FileSizeMb() const { return m_fileSizeMb; }
  int TemplateId() const { return m_templateId; }

  // Parses the size field's text: a decimal integer 0..kMaxMegabytes, blanks around it allowed.
  static bool ParseMegabytes(const QString& text, int& megabytes);

 public slots:
  void accept() override;

 private:
  int m_templateId;
  int m_fileSizeMb = 0;
  QLabel* m_freeSpace = nullptr;
  QLineEdit* m_size = nullptr;
};
