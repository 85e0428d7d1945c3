// Builds a dialog's controls from its template (resources/): caption, fixed size and one
// widget per control, laid out in dialog units of the dialog's font. Each widget's object
// name is its control identifier, so code finds it with
// findChild<QLineEdit*>(QString::number(id)). OK (1) accepts and Cancel (2) rejects.
//
// A label directly before an edit box or list becomes its buddy and gives it its accessible
// name; a label directly before a static the code fills in becomes its caption (buddy) and
// leaves the static named by its text. Controls of kind Control are left to the dialog.
#pragma once

#include "resources/resources.h"

class QDialog;
class QWidget;

void BuildDialogFromTemplate(QDialog& dialog, const res::DialogTemplate& t);

// The control of a built dialog by identifier (nullptr when absent).
QWidget* DialogItem(const QDialog& dialog, int id);
