// The program's resources as data: menus, accelerator tables, dialog templates, the tool bar
// and strings, each keyed by its resource number (resource_ids.h) and present in Chinese and
// English. Texts are UTF-8 and use '&' before a mnemonic letter and "\t" before the shown
// key, as the menus display them. No Qt here: the windows turn these tables into widgets.
//
// Lookups return nullptr (or an empty text) for a number that names no resource; callers
// treat that like a failed resource load.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "resources/resource_ids.h"

namespace res {

// The language flag: 0 Chinese, 1 English (the value before start-up decides). One value for
// the whole program; every window and dialog picks its resource by it when it is created.
int LanguageFlag();
void SetLanguageFlag(int flag);
// The member of a Chinese/English resource pair that the current language flag selects.
inline int PickResource(int chinese, int english) {
  return LanguageFlag() == kLangChinese ? chinese : english;
}

// A menu: a bar of popups, each holding items, separators and nested popups. An item with
// an empty text is a placeholder that the program replaces at run time.
struct MenuNode {
  enum class Kind { Item, Separator, Popup };
  Kind kind = Kind::Item;
  int id = 0;                 // command identifier of an item
  std::string_view text;      // item or popup text
  std::vector<MenuNode> children;  // popup contents
};

struct MenuResource {
  int id = 0;
  std::vector<MenuNode> bar;  // the popups, left to right
};

const MenuResource* FindMenu(int id);

// An accelerator: a key sequence in the portable text form ("Ctrl+N", "Shift+F6") and the
// command it sends.
struct Accelerator {
  std::string_view keys;
  int command = 0;
};

std::span<const Accelerator> FindAccelerators(int id);

// A dialog template in dialog units (a quarter of the average character width horizontally,
// an eighth of the character height vertically).
struct DialogControl {
  enum class Kind {
    Icon, Static, DefPushButton, PushButton, CheckBox, RadioButton, GroupBox,
    Edit,      // single-line edit box
    ListBox,
    DropList,  // drop-down list: pick one, no typing
    DropDown,  // drop-down combo box: pick or type
    Control,   // a hosted control the dialog makes itself (the skin host's skin control)
  };
  // Style bits (only the ones the code relies on).
  enum Style : unsigned { kSorted = 1, kNotify = 2, kVScroll = 4, kBorder = 8 };
  Kind kind = Kind::Static;
  int id = -1;  // -1: a static control the code never addresses
  std::string_view text;
  int x = 0, y = 0, cx = 0, cy = 0;
  unsigned style = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string_view caption;
  int cx = 0, cy = 0;
  std::vector<DialogControl> controls;
};

const DialogTemplate* FindDialog(int id);

// Tool bar buttons by command identifier, 0 for a separator.
std::span<const int> FindToolBar(int id);

// A string of the string table in the given language (0 Chinese, 1 English); empty when
// absent.
std::string_view LoadString(int id, int language);

// The Chinese text of an English text of the pages the program builds with Qt (camera
// controls, the device's format, crossbar and tuner pages); empty when there is none.
std::string_view ChineseFor(std::string_view english);

}  // namespace res
