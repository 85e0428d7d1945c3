// Resource tables of both languages. Keep each Chinese/English pair side by side and in the
// same item order: code addresses popups by position and items by identifier.
#include "resources/resources.h"

#include "resources/dialog_tables.h"

#include <array>
#include <map>

namespace res {
namespace {

int g_languageFlag = kLangEnglish;

using Kind = MenuNode::Kind;

MenuNode Item(int id, std::string_view text) { return {Kind::Item, id, text, {}}; }
MenuNode Separator() { return {Kind::Separator, 0, {}, {}}; }
MenuNode Popup(std::string_view text, std::vector<MenuNode> children) {
  return {Kind::Popup, 0, text, std::move(children)};
}

// The main menu. Position 1 (Devices) and position 2 (Options) hold placeholders that the
// device list and the selected device's dialogs replace when they are built.
MenuResource MainMenuEnglish() {
  return {kMainMenuEnglish,
          {Popup("&File", {Item(cmd::kSetCaptureFile, "Set Capture File..."),
                           Item(cmd::kAllocateFileSpace, "Allocate File Space..."),
                           Item(cmd::kSaveCapturedVideoAs, "Save Captured Video As..."),
                           Separator(), Item(cmd::kAppExit, "E&xit")}),
           Popup("&Devices", {Item(cmd::kDeviceFirst, ""), Separator(),
                              Item(cmd::kEditCut, "Cu&t\tCtrl+X"),
                              Item(cmd::kEditCopy, "&Copy\tCtrl+C"),
                              Item(cmd::kEditPaste, "&Paste\tCtrl+V")}),
           Popup("&Options", {Item(cmd::kPreview, "Preview"), Separator(),
                              Item(cmd::kDeviceDialogFirst, "")}),
           Popup("&Capture", {Item(cmd::kStartCapture, "Start Capture"),
                              Item(cmd::kStopCapture, "Stop Capture"), Separator(),
                              Item(cmd::kSetFrameRate, "Set Frame Rate..."),
                              Item(cmd::kSetTimeLimit, "Set Time Limit..."),
                              Item(cmd::kCompression, "&Compression"),
                              Item(cmd::kEnhancedControl, "Enhanced control.."), Separator(),
                              Item(cmd::kSnapshot, "&Snapshot"),
                              Item(cmd::kVideoPlayback, "Video Playback")}),
           Popup("&Language", {Item(cmd::kLanguageChinese, "Chinese"),
                               Item(cmd::kLanguageEnglish, "English")}),
           Popup("&Style", {Item(cmd::kStyleGreen, "Green"), Item(cmd::kStyleGray, "Grey"),
                            Item(cmd::kStylePaper, "Paper"), Item(cmd::kStyleMedia, "Media"),
                            Item(cmd::kStyleChizh, "Chizh"),
                            Item(cmd::kStyleTopSecret, "TopSecret.skn")}),
           Popup("&Help", {Item(cmd::kHelp, "Content"), Separator(),
                           Item(cmd::kAppAbout, "About lumora2003(&A)...")})}};
}

MenuResource MainMenuChinese() {
  return {kMainMenuChinese,
          {Popup("文件(&F)", {Item(cmd::kSetCaptureFile, "设置捕获文件"),
                              Item(cmd::kAllocateFileSpace, "指定文件大小"),
                              Item(cmd::kSaveCapturedVideoAs, "保存捕获视频为"),
                              Separator(), Item(cmd::kAppExit, "退出(&X)")}),
           Popup("设备(&D)", {Item(cmd::kDeviceFirst, ""), Separator(),
                              Item(cmd::kEditCut, "剪切(&T)\tCtrl+X"),
                              Item(cmd::kEditCopy, "复制(&C)\tCtrl+C"),
                              Item(cmd::kEditPaste, "粘贴(&P)\tCtrl+V")}),
           Popup("选项(&O)", {Item(cmd::kPreview, "预览"), Separator(),
                              Item(cmd::kDeviceDialogFirst, "")}),
           Popup("捕获(&C)", {Item(cmd::kStartCapture, "视频捕获"),
                              Item(cmd::kStopCapture, "停止捕获"), Separator(),
                              Item(cmd::kSetFrameRate, "设置捕获帧速"),
                              Item(cmd::kSetTimeLimit, "设置捕获时间"),
                              Item(cmd::kCompression, "视频压缩"),
                              Item(cmd::kEnhancedControl, "增强格式"), Separator(),
                              Item(cmd::kSnapshot, "拍照"),
                              Item(cmd::kVideoPlayback, "视频回放")}),
           Popup("语言(&L)", {Item(cmd::kLanguageChinese, "汉语"),
                              Item(cmd::kLanguageEnglish, "English")}),
           Popup("风格(&S)", {Item(cmd::kStyleGreen, "Green"), Item(cmd::kStyleGray, "Gray"),
                              Item(cmd::kStylePaper, "Paper"), Item(cmd::kStyleMedia, "Media"),
                              Item(cmd::kStyleChizh, "Chizh"),
                              Item(cmd::kStyleTopSecret, "TopSecret.skn")}),
           Popup("帮助(&H)", {Item(cmd::kHelp, "帮助"), Separator(),
                              Item(cmd::kAppAbout, "关于 lumora2003(&A)...")})}};
}

MenuResource SnapshotMenu(int id, std::string_view file, std::string_view save) {
  return {id, {Popup(file, {Item(cmd::kSave, save)})}};
}

struct PlaybackTexts {
  std::string_view file, control, rate;
  std::array<std::string_view, 13> items;  // in the order of the items below
};

MenuResource PlaybackMenu(int id, const PlaybackTexts& t) {
  const auto& i = t.items;
  return {id,
          {Popup(t.file, {Item(cmd::kPlayOpenClip, i[0]), Item(cmd::kFileClose, i[1]),
                          Separator(), Item(cmd::kPlayExit, i[2])}),
           Popup(t.control, {Item(cmd::kPlayPausePlay, i[3]), Item(cmd::kPlayStop, i[4]),
                             Separator(), Item(cmd::kPlayNormalSize, i[5]),
                             Item(cmd::kPlayDoubleSize, i[6]), Separator(),
                             Item(cmd::kPlayFullScreen, i[7])}),
           Popup(t.rate, {Item(cmd::kPlayRateIncrease, i[8]), Item(cmd::kPlayRateDecrease, i[9]),
                          Item(cmd::kPlayRateNormal, i[10]), Separator(),
                          Item(cmd::kPlayRateHalf, i[11]), Item(cmd::kPlayRateDouble, i[12])})}};
}

const PlaybackTexts kPlaybackEnglish{
    "&File", "&Control", "&Rate",
    {"&Open clip...", "&Close clip", "E&xit", "&Pause/Play\tP", "&Stop\tS",
     "&Normal size (100%)\tN", "&Double size (200%)\tD", "&Full Screen\t<Enter> or F",
     "&Increase Playback Rate\t<Right arrow>", "&Decrease Playback Rate\t<Left arrow>",
     "&Normal Playback Rate\t<Down arrow>", "&Half Playback Rate", "Dou&ble Playback Rate"}};
const PlaybackTexts kPlaybackChinese{
    "文件", "控制", "播放速率",
    {"打开视频", "关闭视频", "关闭", "播放/暂停", "停止", "正常", "两倍", "全屏", "速率增加",
     "速率减少", "正常速率", "半速率", "两倍速率"}};

const std::map<int, MenuResource>& Menus() {
  static const std::map<int, MenuResource> menus = [] {
    std::map<int, MenuResource> m;
    for (MenuResource r : {MainMenuEnglish(), MainMenuChinese(),
                           SnapshotMenu(kSnapshotMenuEnglish, "File", "&Save"),
                           SnapshotMenu(kSnapshotMenuChinese, "文件", "保存"),
                           PlaybackMenu(kPlaybackMenuEnglish, kPlaybackEnglish),
                           PlaybackMenu(kPlaybackMenuChinese, kPlaybackChinese)})
      m.emplace(r.id, std::move(r));
    return m;
  }();
  return menus;
}

// Only the framework's standard keys: no capture command has a key of its own, so a stray
// key press cannot start or stop a capture.
constexpr std::array<Accelerator, 14> kStandardKeys{{
    {"Ctrl+N", cmd::kFileNew},
    {"Ctrl+O", cmd::kFileOpen},
    {"Ctrl+S", cmd::kFileSave},
    {"Ctrl+P", cmd::kFilePrint},
    {"Ctrl+Z", cmd::kEditUndo},
    {"Alt+Backspace", cmd::kEditUndo},
    {"Ctrl+X", cmd::kEditCut},
    {"Shift+Del", cmd::kEditCut},
    {"Ctrl+C", cmd::kEditCopy},
    {"Ctrl+Ins", cmd::kEditCopy},
    {"Ctrl+V", cmd::kEditPaste},
    {"Shift+Ins", cmd::kEditPaste},
    {"F6", cmd::kNextPane},
    {"Shift+F6", cmd::kPrevPane},
}};

constexpr std::array<int, 10> kMainToolBar{cmd::kFileNew, cmd::kFileOpen, cmd::kFileSave, 0,
                                           cmd::kEditCut, cmd::kEditCopy, cmd::kEditPaste, 0,
                                           cmd::kFilePrint, cmd::kAppAbout};

struct StringPair {
  std::string_view chinese, english;
};

const std::map<int, StringPair>& Strings() {
  static const std::map<int, StringPair> strings{
      {kStrAppTitle, {"lumora2003", "lumora2003"}},
      {kStrIdleMessage, {"就绪", "Ready"}},
      {kStrUntitled, {"无标题", "Untitled"}},
      {kStrDeviceAccessDenied,
       {"无法打开捕获设备“%1”：没有访问权限。\r\n"
        "请把当前用户加入 video 组（sudo usermod -aG video $USER），然后注销并重新登录。",
        "Could not open the capture device \"%1\": permission denied.\r\n"
        "Add your user to the \"video\" group (sudo usermod -aG video $USER), then log out "
        "and log in again."}},
      {kStrHelpUnavailable,
       {"无法打开帮助页：没有可用的浏览器或文件打开程序。\r\n请手动打开此文件：\r\n%1",
        "Could not open the help page: no web browser or file opener is set up.\r\n"
        "Open this file yourself:\r\n%1"}},
      {kStrParseInt, {"请输入一个整数。", "Please enter an integer."}},
      {kStrParseReal, {"请输入一个数字。", "Please enter a number."}},
      {kStrParseIntRange, {"请输入一个介于 %1 和 %2 之间的整数。", "Please enter an integer between %1 and %2."}},
      {kStrParseUInt, {"请输入一个正整数。", "Please enter a positive integer."}},
  };
  return strings;
}

}  // namespace

int LanguageFlag() { return g_languageFlag; }
void SetLanguageFlag(int flag) { g_languageFlag = flag; }

const MenuResource* FindMenu(int id) {
  auto it = Menus().find(id);
  return it == Menus().end() ? nullptr : &it->second;
}

std::span<const Accelerator> FindAccelerators(int id) {
  if (id != kMainMenuChinese && id != kMainMenuEnglish) return {};
  return kStandardKeys;
}

const DialogTemplate* FindDialog(int id) {
  const auto& dialogs = detail::DialogTables();
  auto it = dialogs.find(id);
  return it == dialogs.end() ? nullptr : &it->second;
}

std::span<const int> FindToolBar(int id) {
  if (id != kToolBar) return {};
  return kMainToolBar;
}

std::string_view LoadString(int id, int language) {
  auto it = Strings().find(id);
  if (it == Strings().end()) return {};
  return language == kLangChinese ? it->second.chinese : it->second.english;
}

}  // namespace res
