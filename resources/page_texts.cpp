// Chinese texts of the pages the program builds itself with Qt (the camera controls and the
// device's format, crossbar and tuner pages). Those pages are written in English and
// translated when they are made; the dialogs of the templates carry both languages instead.
#include <map>

#include "resources/resources.h"

namespace res {

std::string_view ChineseFor(std::string_view english) {
  static const std::map<std::string_view, std::string_view> texts{
      // Page captions the platform gives.
      {"Video Source", "视频源"},
      {"Video Format", "视频格式"},
      {"Video Crossbar", "视频交叉开关"},
      {"TV Tuner", "电视调谐器"},
      // Camera controls.
      {"&Default", "默认(&D)"},
      {"Default", "默认"},
      {"%1: the camera did not take %2 (%3).", "%1：摄像头未接受 %2（%3）。"},
      // Format page.
      {"Color space:", "颜色空间:"},
      {"Output size:", "输出大小:"},
      {"Frame rate:", "帧速:"},
      {"The device does not accept this format.", "设备不接受此格式。"},
      // Crossbar and tuner pages.
      {"Video input:", "视频输入:"},
      {"TV norm:", "电视制式:"},
      {"The device did not switch to %1: %2.", "设备未能切换到 %1：%2。"},
      {"The device did not take the %1 norm: %2.", "设备未接受 %1 制式：%2。"},
  };
  const auto it = texts.find(english);
  return it == texts.end() ? std::string_view() : it->second;
}

}  // namespace res
