// What the capture dialogs' data exchange says when an edit box holds text its field cannot
// take: a message box in the interface language (caption "lumora2003", exclamation icon, run
// through RunModal), then the focus back in the box with its text selected. The dialog stays
// open.
#pragma once

class QLineEdit;

namespace capture_dialogs {

// `stringId`: the text of the field's type (res::kStrParseInt, kStrParseReal, kStrParseUInt),
// or res::kStrParseIntRange with the lowest and highest value allowed.
void RefuseEdit(QLineEdit& edit, int stringId, long long lowest = 0, long long highest = 0);

}  // namespace capture_dialogs
