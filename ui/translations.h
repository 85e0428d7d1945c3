// The translations of the interface language for what Qt draws itself (the file chooser,
// button boxes: Qt's own catalogue, qtbase) and for the pages the program builds with Qt.
// English needs none. Windows made afterwards show them; windows already open keep theirs.
#pragma once

namespace lang {

// Puts the translations of a language flag (0 Chinese, 1 English) in force, replacing
// those of the language before. A missing Qt catalogue leaves Qt's texts in English.
void InstallTranslations(int languageFlag);

}  // namespace lang
