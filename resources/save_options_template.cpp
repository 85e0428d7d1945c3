// The save dialog's options area in both languages. Keep the two tables in the same order.
#include "resources/save_options_template.h"

#include <map>

#include "resources/resource_ids.h"

namespace res {
namespace {

using K = OptionsControl::Kind;

OptionsTemplate English() {
  return {kSaveOptionsEnglish, 291, 159,
          {{K::PushButton, kIdcAdvanced, "&Advanced>>", 173, 7, 54, 13},
           {K::GroupBox, kIdcOptionsGroup, "Options", 7, 24, 229, 119},
           {K::RadioButton, kIdc8Bits, "&8 Bits(256 Colors)", 26, 43, 52, 12},
           {K::RadioButton, kIdc24Bits, "&24 Bits(True Color)", 86, 43, 63, 12},
           {K::CheckBox, kIdcGray, "Gray(&G)", 171, 43, 31, 12},
           {K::CheckBox, kIdcInterlace, "Interlace(&I)", 171, 62, 29, 16},
           {K::CheckBox, kIdcTransparent, "Transparent(&T)", 171, 85, 32, 18},
           {K::CheckBox, kIdcCompress, "Compress（&C）", 26, 62, 46, 16},
           {K::CheckBox, kIdcLeftTop, "Left_Top(&L)", 86, 62, 59, 16},
           {K::Label, -1, "Palette Quality", 26, 85, 44, 18},
           {K::DropDownCombo, kIdcPaletteQuality, "", 86, 85, 54, 15},
           {K::Label, -1, "JPEG Quality(1-100)", 26, 110, 59, 18},
           {K::Edit, kIdcJpegQuality, "", 90, 108, 54, 13},
           {K::PushButton, kIdcBackground, "BackGround(&B)...", 159, 108, 74, 12}}};
}

OptionsTemplate Chinese() {
  return {kSaveOptionsChinese, 291, 159,
          {{K::PushButton, kIdcAdvanced, "高级>>", 173, 7, 54, 13},
           {K::GroupBox, kIdcOptionsGroup, "选项", 7, 24, 223, 119},
           {K::RadioButton, kIdc8Bits, "8位(256色)", 26, 43, 52, 12},
           {K::RadioButton, kIdc24Bits, "24位真彩色", 86, 43, 63, 12},
           {K::CheckBox, kIdcGray, "灰度", 171, 43, 31, 12},
           {K::CheckBox, kIdcInterlace, "交错", 171, 62, 29, 16},
           {K::CheckBox, kIdcTransparent, "透明", 171, 85, 32, 18},
           {K::CheckBox, kIdcCompress, "压縮", 26, 62, 46, 16},
           {K::CheckBox, kIdcLeftTop, "自左上角开始", 86, 62, 59, 16},
           {K::Label, -1, "调色板质量", 26, 85, 44, 18},
           {K::DropDownCombo, kIdcPaletteQuality, "", 86, 85, 54, 15},
           {K::Label, -1, "JPEG质量(1-100)", 26, 110, 59, 18},
           {K::Edit, kIdcJpegQuality, "", 90, 108, 76, 13},
           {K::PushButton, kIdcBackground, "背景", 177, 108, 29, 12}}};
}

}  // namespace

const OptionsTemplate* FindOptionsTemplate(int id) {
  static const std::map<int, OptionsTemplate> templates{{kSaveOptionsEnglish, English()},
                                                        {kSaveOptionsChinese, Chinese()}};
  auto it = templates.find(id);
  return it == templates.end() ? nullptr : &it->second;
}

std::string_view AdvancedCaption(bool expanded, int language) {
  if (language == kLangChinese) return expanded ? "&正常<<" : "&高级>>";
  return expanded ? "Normal" : "Advanced>>";
}

}  // namespace res
