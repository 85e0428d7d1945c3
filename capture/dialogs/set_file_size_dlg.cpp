#include "capture/dialogs/set_file_size_dlg.h"

#include <QLabel>
#include <QLineEdit>

#include "capture/dialogs/edit_refusal.h"
#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

CSetFileSizeDlg::CSetFileSizeDlg(QWidget* parent)
    : QDialog(parent),
      m_templateId(res::PickResource(res::kSetFileSizeDlgChinese, res::kSetFileSizeDlgEnglish)) {
  if (const res::DialogTemplate* t = res::FindDialog(m_templateId))
    BuildDialogFromTemplate(*this, *t);
  m_freeSpace = qobject_cast<QLabel*>(DialogItem(*this, res::kIdcFreeDiskSpace));
  m_size = qobject_cast<QLineEdit*>(DialogItem(*this, res::kIdcCaptureFileSize));
  skin::ApplySkin(this);
}

void CSetFileSizeDlg::SetFreeSpaceText(const QString& text) {
  if (m_freeSpace) m_freeSpace->setText(text);
}

QString CSetFileSizeDlg::FreeSpaceText() const { return m_freeSpace ? m_freeSpace->text() : QString(); }

void CSetFileSizeDlg::SetFileSizeMb(int megabytes) {
  m_fileSizeMb = megabytes;
  if (m_size) m_size->setText(QString::number(megabytes));
}

bool CSetFileSizeDlg::ParseMegabytes(const QString& text, int& megabytes) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  for (QChar c : t)
    if (c < u'0' || c > u'9') return false;
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok);
  // The setting is 16 bits: a larger number would silently become a different size.
  if (!ok || v > kMaxMegabytes) return false;
  megabytes = int(v);
  return true;
}

void CSetFileSizeDlg::accept() {
  int mb = 0;
  if (m_size && !ParseMegabytes(m_size->text(), mb)) {
    // A number past the 16-bit setting is named as such; anything else is not a number.
    bool number = false;
    const qlonglong v = m_size->text().trimmed().toLongLong(&number);
    if (number && (v < 0 || v > kMaxMegabytes))
      capture_dialogs::RefuseEdit(*m_size, res::kStrParseIntRange, 0, kMaxMegabytes);
    else
      capture_dialogs::RefuseEdit(*m_size, res::kStrParseInt);
    return;
  }
  m_fileSizeMb = mb;
  QDialog::accept();
}
