// CAboutBox: the modal About dialog on template 136 (English) or 100 (Chinese), chosen by the
// language flag when the box is constructed. Its version line shows the build's version.
#pragma once

#include <QDialog>

class CAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr);
  int TemplateId() const { return m_templateId; }

 private:
  int m_templateId;
};
