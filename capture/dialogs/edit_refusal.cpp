#include "capture/dialogs/edit_refusal.h"

#include <QLineEdit>
#include <QMessageBox>

#include "capture/dialogs/dialog_runner.h"
#include "resources/resources.h"

namespace capture_dialogs {

void RefuseEdit(QLineEdit& edit, int stringId, long long lowest, long long highest) {
  QString text = QString::fromUtf8(res::LoadString(stringId, res::LanguageFlag()));
  if (stringId == res::kStrParseIntRange) text = text.arg(lowest).arg(highest);
  QMessageBox box(QMessageBox::Warning,
                  QString::fromUtf8(res::LoadString(res::kStrAppTitle, res::LanguageFlag())), text,
                  QMessageBox::Ok, edit.window());
  RunModal(box);
  edit.setFocus();
  edit.selectAll();
}

}  // namespace capture_dialogs
