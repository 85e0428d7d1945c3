// The save dialog's options area: the child template added below the file dialog, in its
// Chinese (107) and English (138) forms. Both share one layout and one set of control
// identifiers; positions are in dialog units (a quarter of the average character width
// horizontally, an eighth of the character height vertically).
#pragma once

#include <string_view>
#include <vector>

namespace res {

inline constexpr int kSaveOptionsChinese = 107;
inline constexpr int kSaveOptionsEnglish = 138;

// Controls of the options area.
inline constexpr int kIdcAdvanced = 1008;
inline constexpr int kIdcOptionsGroup = 1009;
inline constexpr int kIdc8Bits = 1010;
inline constexpr int kIdc24Bits = 1011;
inline constexpr int kIdcGray = 1012;
inline constexpr int kIdcInterlace = 1013;
inline constexpr int kIdcTransparent = 1014;
inline constexpr int kIdcCompress = 1015;
inline constexpr int kIdcLeftTop = 1016;
inline constexpr int kIdcPaletteQuality = 1017;
inline constexpr int kIdcJpegQuality = 1018;
inline constexpr int kIdcBackground = 1019;
// Controls of the file dialog the area is attached to.
inline constexpr int kIdcFileTypeList = 1136;
inline constexpr int kIdcFileNameBox = 1152;

struct OptionsControl {
  enum class Kind { PushButton, GroupBox, RadioButton, CheckBox, Label, DropDownCombo, Edit };
  Kind kind = Kind::Label;
  int id = -1;  // -1: a label the code never addresses
  std::string_view text;
  int x = 0, y = 0, cx = 0, cy = 0;
};

struct OptionsTemplate {
  int id = 0;
  int cx = 0, cy = 0;
  std::vector<OptionsControl> controls;
};

// nullptr for a number that names no options template.
const OptionsTemplate* FindOptionsTemplate(int id);

// Palette quality list: the same English items in both languages; item data 1 to 4.
inline constexpr std::string_view kPaletteQualityItems[] = {"Normal", "Good", "Better", "Best"};

// Captions of the advanced button by state and language (0 Chinese, 1 English).
std::string_view AdvancedCaption(bool expanded, int language);

}  // namespace res
