// Accessibility mended where Qt leaves a gap: a menu bar's items when its menus are rebuilt,
// and the captions of Qt's file chooser.
//
// Qt makes one accessible interface per menu action, for the first menu that shows it, and
// answers with that interface in every menu that later holds the same action. A menu bar
// rebuilt with the same actions (the interface language switch does that) would hand out
// items whose menu is the old, deleted popup: assistive tools then find the new menus empty.
#pragma once

class QFileDialog;
class QMenuBar;

namespace a11y {

// Drops the accessible interfaces of the bar's actions that belong to another menu than the
// one holding the action now; Qt makes fresh ones when they are next asked for.
void ForgetStaleMenuItems(QMenuBar* bar);

// Qt's file chooser captions its folder and file-type lists without relating the captions
// to them, so a screen reader reads the lists without them. Relates each caption to its list.
void RelateFileDialogCaptions(QFileDialog& dialog);

}  // namespace a11y
