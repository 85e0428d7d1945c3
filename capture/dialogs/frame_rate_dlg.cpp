#include "capture/dialogs/frame_rate_dlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <cmath>

#include "capture/dialogs/edit_refusal.h"
#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

CFrameRateDlg::CFrameRateDlg(bool useFrameRate, double frameRate, QWidget* parent)
    : QDialog(parent), m_use(useFrameRate), m_rate(frameRate) {
  const res::DialogTemplate* t =
      res::FindDialog(res::PickResource(res::kFrameRateDlgChinese, res::kFrameRateDlgEnglish));
  if (t) BuildDialogFromTemplate(*this, *t);
  m_check = qobject_cast<QCheckBox*>(DialogItem(*this, res::kIdcUseFrameRate));
  m_edit = qobject_cast<QLineEdit*>(DialogItem(*this, res::kIdcFrameRate));
  if (m_check) m_check->setChecked(m_use);
  if (m_edit) m_edit->setText(QString::number(m_rate, 'g', 15));
  skin::ApplySkin(this);
}

void CFrameRateDlg::accept() {
  if (m_edit) {
    bool ok = false;
    const double rate = m_edit->text().trimmed().toDouble(&ok);
    // Infinity and NaN are not numbers a frame duration can be made of.
    if (!ok || !std::isfinite(rate)) {
      capture_dialogs::RefuseEdit(*m_edit, res::kStrParseReal);
      return;
    }
    m_rate = rate;
  }
  if (m_check) m_use = m_check->isChecked();
  QDialog::accept();
}
