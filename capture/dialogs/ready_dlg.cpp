#include "capture/dialogs/ready_dlg.h"

#include <QLabel>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

CReadyDlg::CReadyDlg(const std::string& captureFileName, QWidget* parent) : QDialog(parent) {
  const res::DialogTemplate* t =
      res::FindDialog(res::PickResource(res::kReadyDlgChinese, res::kReadyDlgEnglish));
  if (!t) return;
  BuildDialogFromTemplate(*this, *t);
  if (auto* name = qobject_cast<QLabel*>(DialogItem(*this, res::kIdcCaptureFileName)))
    name->setText(QString::fromLocal8Bit(captureFileName.c_str()));
  skin::ApplySkin(this);
}
