#include "capture/dialogs/time_limit_dlg.h"

#include <QCheckBox>
#include <QLineEdit>

#include "capture/dialogs/edit_refusal.h"
#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

CTimeLimitDlg::CTimeLimitDlg(bool useTimeLimit, uint32_t seconds, QWidget* parent)
    : QDialog(parent), m_use(useTimeLimit), m_seconds(seconds) {
  const res::DialogTemplate* t =
      res::FindDialog(res::PickResource(res::kTimeLimitDlgChinese, res::kTimeLimitDlgEnglish));
  if (t) BuildDialogFromTemplate(*this, *t);
  m_check = qobject_cast<QCheckBox*>(DialogItem(*this, res::kIdcUseTimeLimit));
  m_edit = qobject_cast<QLineEdit*>(DialogItem(*this, res::kIdcTimeLimit));
  if (m_check) m_check->setChecked(m_use);
  if (m_edit) m_edit->setText(QString::number(m_seconds));
  skin::ApplySkin(this);
}

void CTimeLimitDlg::accept() {
  if (m_edit) {
    bool ok = false;
    const uint seconds = m_edit->text().trimmed().toUInt(&ok);
    if (!ok) {
      capture_dialogs::RefuseEdit(*m_edit, res::kStrParseUInt);
      return;
    }
    m_seconds = seconds;
  }
  if (m_check) m_use = m_check->isChecked();
  QDialog::accept();
}
