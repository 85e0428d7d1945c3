// Dialog templates. Each Chinese/English pair lists the same controls in the same order with
// the same identifiers; only texts (and a width where a text needs it) differ. Layouts are in
// dialog units.
#include "resources/dialog_tables.h"

namespace res::detail {
namespace {

using Ctl = DialogControl::Kind;
constexpr unsigned kListStyle = DialogControl::kSorted | DialogControl::kNotify |
                                DialogControl::kVScroll | DialogControl::kBorder;

struct OkCancel {
  std::string_view ok, cancel;
};
constexpr OkCancel kOkCancelEnglish{"OK", "Cancel"};
constexpr OkCancel kOkCancelChinese{"确定", "取消"};

// OK and Cancel side by side, centred near the bottom of a dialog `cx` wide.
void AddOkCancel(std::vector<DialogControl>& c, int cx, int y, OkCancel t) {
  const int left = (cx - 50 - 12 - 50) / 2;
  c.push_back({Ctl::DefPushButton, kIdOk, t.ok, left, y, 50, 14});
  c.push_back({Ctl::PushButton, kIdCancel, t.cancel, left + 62, y, 50, 14});
}

DialogTemplate AboutBox(int id, std::string_view caption, std::string_view version,
                        std::string_view copyright, std::string_view ok) {
  return {id, caption, 235, 55,
          {{Ctl::Icon, -1, "", 11, 17, 20, 20},
           {Ctl::Static, -1, version, 40, 10, 119, 8},
           {Ctl::Static, -1, copyright, 40, 25, 119, 8},
           {Ctl::DefPushButton, kIdOk, ok, 178, 7, 50, 14}}};
}

// Ready to Capture: the file the capture goes to, confirmed with OK.
DialogTemplate ReadyDlg(int id, std::string_view caption, std::string_view label, OkCancel b) {
  DialogTemplate t{id, caption, 236, 62,
                   {{Ctl::Static, -1, label, 7, 7, 222, 8},
                    {Ctl::Static, kIdcCaptureFileName, "", 7, 19, 222, 16}}};
  AddOkCancel(t.controls, t.cx, 41, b);
  return t;
}

struct FileSizeTexts {
  std::string_view caption, explanation, freeSpace, fileSize;
  OkCancel buttons;
};

DialogTemplate SetFileSizeDlg(int id, const FileSizeTexts& x) {
  DialogTemplate t{id, x.caption, 200, 100,
                   {{Ctl::Static, -1, x.explanation, 7, 7, 186, 20},
                    {Ctl::Static, -1, x.freeSpace, 7, 34, 72, 8},
                    {Ctl::Static, kIdcFreeDiskSpace, "", 84, 34, 58, 8},
                    {Ctl::Static, -1, "MBytes", 146, 34, 40, 8},
                    {Ctl::Static, -1, x.fileSize, 7, 52, 72, 8},
                    {Ctl::Edit, kIdcCaptureFileSize, "", 84, 50, 58, 12, DialogControl::kBorder},
                    {Ctl::Static, -1, "MBytes", 146, 52, 40, 8}}};
  AddOkCancel(t.controls, t.cx, 77, x.buttons);
  return t;
}

struct CheckedValueTexts {
  std::string_view caption, check, label, unit;
};

// A check box that switches a value on, and the value with its label and unit: the time
// limit and frame rate dialogs.
DialogTemplate CheckedValueDlg(int id, int checkId, int editId, const CheckedValueTexts& x,
                               OkCancel b) {
  DialogTemplate t{id, x.caption, 186, 70,
                   {{Ctl::CheckBox, checkId, x.check, 7, 7, 120, 10},
                    {Ctl::Static, -1, x.label, 7, 26, 56, 8},
                    {Ctl::Edit, editId, "", 66, 24, 60, 12, DialogControl::kBorder},
                    {Ctl::Static, -1, x.unit, 130, 26, 40, 8}}};
  AddOkCancel(t.controls, t.cx, 48, b);
  return t;
}

DialogTemplate CompressorDlg(int id, std::string_view caption, OkCancel b) {
  DialogTemplate t{id, caption, 186, 110,
                   {{Ctl::ListBox, kIdcCompressorList, "", 7, 7, 172, 76, kListStyle}}};
  AddOkCancel(t.controls, t.cx, 89, b);
  return t;
}

DialogTemplate VideoFormatDlg(int id, std::string_view caption, std::string_view colourSpace,
                              std::string_view outputSize, OkCancel b) {
  DialogTemplate t{
      id, caption, 236, 80,
      {{Ctl::Static, -1, colourSpace, 7, 9, 112, 8},
       {Ctl::DropList, kIdcColorSpace, "", 124, 7, 105, 80, DialogControl::kVScroll},
       {Ctl::Static, -1, outputSize, 7, 29, 112, 8},
       {Ctl::DropList, kIdcOutputSize, "", 124, 27, 105, 80, DialogControl::kVScroll}}};
  AddOkCancel(t.controls, t.cx, 58, b);
  return t;
}

// The hidden dialog that hosts the skin control; it has one language only.
DialogTemplate SkinHostDlg() {
  return {kSkinHostDlg, "Dialog", 320, 201,
          {{Ctl::DefPushButton, kIdOk, "OK", 263, 7, 50, 14},
           {Ctl::PushButton, kIdCancel, "Cancel", 263, 24, 50, 14},
           {Ctl::Control, kIdcSkinControl, "", 7, 7, 240, 180}}};
}

}  // namespace

const std::map<int, DialogTemplate>& DialogTables() {
  static const std::map<int, DialogTemplate> dialogs = [] {
    std::map<int, DialogTemplate> m;
    auto add = [&m](DialogTemplate t) { m.emplace(t.id, std::move(t)); };
    add(AboutBox(kAboutBoxEnglish, "About lumora2003", "lumora2003 1.01 version",
                 "Copyright (C) 2003", "OK"));
    add(AboutBox(kAboutBoxChinese, "关于 lumora2003", "lumora2003 1.0 1版",
                 "版权所有 (C) 2003", "确定"));
    add(ReadyDlg(kReadyDlgEnglish, "Ready to Capture",
                 "Select OK to start capture of video sequence to:", kOkCancelEnglish));
    add(ReadyDlg(kReadyDlgChinese, "确认对话框", "选择确认来捕获视频流到:", kOkCancelChinese));
    // The English explanation is cut short like this in the dialog itself.
    add(SetFileSizeDlg(kSetFileSizeDlgEnglish,
                       {"Set File Size",
                        "Enter the amount of disk space to setaside for the capture file.  "
                        "Existing video ",
                        "Free disk space:", "Capture file size:", {"ok", "cancel"}}));
    add(SetFileSizeDlg(kSetFileSizeDlgChinese, {"分配捕获文件空间", "设定捕获文件大小:",
                                                "剩余磁盘空间", "捕获文件大小",
                                                kOkCancelChinese}));
    add(CheckedValueDlg(kTimeLimitDlgEnglish, kIdcUseTimeLimit, kIdcTimeLimit,
                        {"Capture Time Limit", "Use Time Limit", "&Time Limit:", "sec"},
                        kOkCancelEnglish));
    add(CheckedValueDlg(kTimeLimitDlgChinese, kIdcUseTimeLimit, kIdcTimeLimit,
                        {"限时捕获", "限时捕获", "限制时间:", "秒"}, kOkCancelChinese));
    add(CheckedValueDlg(kFrameRateDlgEnglish, kIdcUseFrameRate, kIdcFrameRate,
                        {"Choose Frame Rate", "Use Frame Rate", "&Frame Rate:", "f/sec"},
                        kOkCancelEnglish));
    add(CheckedValueDlg(kFrameRateDlgChinese, kIdcUseFrameRate, kIdcFrameRate,
                        {"设置帧速", "使用自定义帧速", "帧速", "帧/秒"}, kOkCancelChinese));
    add(CompressorDlg(kCompressorDlgEnglish, "Video Compressor Selection", kOkCancelEnglish));
    add(CompressorDlg(kCompressorDlgChinese, "视频压缩", kOkCancelChinese));
    add(VideoFormatDlg(kVideoFormatDlgEnglish, "Video Media Properties",
                       "Color Space / Compression:", "Output Size:", kOkCancelEnglish));
    add(VideoFormatDlg(kVideoFormatDlgChinese, "增强视频格式", "压缩模式", "输出大小",
                       kOkCancelChinese));
    add(SkinHostDlg());
    return m;
  }();
  return dialogs;
}

}  // namespace res::detail
