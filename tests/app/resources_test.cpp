// The resource tables: both languages carry the same items in the same places, with the
// texts the users see.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "resources/resources.h"

namespace {

using res::MenuNode;

// Identifier -> text of every item of a menu.
std::map<int, std::string> Items(const res::MenuResource& m) {
  std::map<int, std::string> out;
  std::function<void(const std::vector<MenuNode>&)> walk = [&](const std::vector<MenuNode>& n) {
    for (const MenuNode& x : n) {
      if (x.kind == MenuNode::Kind::Item) out[x.id] = std::string(x.text);
      walk(x.children);
    }
  };
  walk(m.bar);
  return out;
}

// The shape of a menu: kinds and identifiers in order, texts left out.
std::string Shape(const std::vector<MenuNode>& nodes) {
  std::string s;
  for (const MenuNode& n : nodes) {
    switch (n.kind) {
      case MenuNode::Kind::Item: s += std::to_string(n.id) + ","; break;
      case MenuNode::Kind::Separator: s += "-,"; break;
      case MenuNode::Kind::Popup: s += "[" + Shape(n.children) + "],"; break;
    }
  }
  return s;
}

TEST(MainMenuTest, BothLanguagesHaveTheSameItemsInTheSamePlaces) {
  const res::MenuResource* zh = res::FindMenu(res::kMainMenuChinese);
  const res::MenuResource* en = res::FindMenu(res::kMainMenuEnglish);
  ASSERT_TRUE(zh && en);
  EXPECT_EQ(Shape(zh->bar), Shape(en->bar));
  EXPECT_EQ(res::FindMenu(129), nullptr);
}

struct TextRow {
  int id;
  const char* english;
  const char* chinese;
};

// Failure messages and test listings name the command, not the row's bytes.
void PrintTo(const TextRow& r, std::ostream* os) { *os << "command " << r.id; }

class MainMenuTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(MainMenuTextTest, ItemCarriesItsTextInEachLanguage) {
  const TextRow r = GetParam();
  auto en = Items(*res::FindMenu(res::kMainMenuEnglish));
  auto zh = Items(*res::FindMenu(res::kMainMenuChinese));
  ASSERT_TRUE(en.count(r.id)) << r.id;
  EXPECT_EQ(en[r.id], r.english);
  EXPECT_EQ(zh[r.id], r.chinese);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, MainMenuTextTest,
    ::testing::Values(
        TextRow{32778, "Set Capture File...", "设置捕获文件"},
        TextRow{32779, "Allocate File Space...", "指定文件大小"},
        TextRow{32780, "Save Captured Video As...", "保存捕获视频为"},
        TextRow{57665, "E&xit", "退出(&X)"},
        TextRow{32773, "Preview", "预览"},
        TextRow{32782, "&Snapshot", "拍照"},
        TextRow{32774, "Start Capture", "视频捕获"},
        TextRow{32775, "Stop Capture", "停止捕获"},
        TextRow{32776, "Set Frame Rate...", "设置捕获帧速"},
        TextRow{32777, "Set Time Limit...", "设置捕获时间"},
        TextRow{32781, "&Compression", "视频压缩"},
        TextRow{32784, "Enhanced control..", "增强格式"},
        TextRow{32785, "Video Playback", "视频回放"},
        TextRow{32808, "Chinese", "汉语"},
        TextRow{32809, "English", "English"},
        TextRow{32810, "Green", "Green"},
        TextRow{32811, "Grey", "Gray"},
        TextRow{32812, "Paper", "Paper"},
        TextRow{32813, "Media", "Media"},
        TextRow{32814, "Chizh", "Chizh"},
        TextRow{32815, "TopSecret.skn", "TopSecret.skn"},
        TextRow{57670, "Content", "帮助"},
        TextRow{57664, "About lumora2003(&A)...", "关于 lumora2003(&A)..."},
        // Placeholders the device list and the device dialogs replace.
        TextRow{16, "", ""},
        TextRow{42, "", ""}));

TEST(MainMenuTest, DevicesAndOptionsPopupsHoldTheirPlaceholders) {
  for (int id : {res::kMainMenuChinese, res::kMainMenuEnglish}) {
    const res::MenuResource& m = *res::FindMenu(id);
    ASSERT_GE(m.bar.size(), 3u);
    // Devices: empty item 16, a separator and three editing items.
    const auto& devices = m.bar[1].children;
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].id, 16);
    EXPECT_EQ(devices[1].kind, MenuNode::Kind::Separator);
    for (int i = 2; i < 5; ++i) EXPECT_EQ(devices[i].kind, MenuNode::Kind::Item);
    // Options: Preview, a separator and an empty item 42 (position 2, which the device's
    // dialog entries replace).
    EXPECT_EQ(Shape(m.bar[2].children), "32773,-,42,");
  }
}

TEST(AcceleratorTest, OnlyTheStandardKeysAndNoCaptureCommand) {
  const std::set<std::string> standard{"Ctrl+N", "Ctrl+O", "Ctrl+S", "Ctrl+P", "Ctrl+Z",
                                       "Alt+Backspace", "Ctrl+X", "Shift+Del", "Ctrl+C",
                                       "Ctrl+Ins", "Ctrl+V", "Shift+Ins", "F6", "Shift+F6"};
  for (int id : {res::kMainMenuChinese, res::kMainMenuEnglish}) {
    const auto table = res::FindAccelerators(id);
    std::set<std::string> keys;
    for (const res::Accelerator& a : table) {
      keys.insert(std::string(a.keys));
      // Framework commands live at 0xE000 and above; the capture commands below.
      EXPECT_GE(a.command, 0xE000) << a.keys;
    }
    EXPECT_EQ(keys, standard);
    EXPECT_EQ(table.size(), standard.size());
  }
  EXPECT_TRUE(res::FindAccelerators(130).empty());
}

TEST(AboutBoxTemplateTest, VersionLineAndCaptionPerLanguage) {
  const res::DialogTemplate* en = res::FindDialog(136);
  const res::DialogTemplate* zh = res::FindDialog(100);
  ASSERT_TRUE(en && zh);
  EXPECT_EQ(en->caption, "About lumora2003");
  EXPECT_EQ(zh->caption, "关于 lumora2003");
  auto texts = [](const res::DialogTemplate& t) {
    std::set<std::string> s;
    for (const auto& c : t.controls) s.insert(std::string(c.text));
    return s;
  };
  EXPECT_TRUE(texts(*en).count("lumora2003 1.01 version"));
  EXPECT_TRUE(texts(*zh).count("lumora2003 1.0 1版"));
  for (const auto* t : {en, zh}) {
    int ok = 0;
    for (const auto& c : t->controls) ok += c.id == res::kIdOk;
    EXPECT_EQ(ok, 1);
  }
}

TEST(SnapshotMenuTest, FileSaveInBothLanguages) {
  EXPECT_EQ(Items(*res::FindMenu(134)), (std::map<int, std::string>{{32783, "&Save"}}));
  EXPECT_EQ(Items(*res::FindMenu(130)), (std::map<int, std::string>{{32783, "保存"}}));
  EXPECT_EQ(res::FindMenu(134)->bar[0].text, "File");
  EXPECT_EQ(res::FindMenu(130)->bar[0].text, "文件");
}

TEST(LanguageFlagTest, PicksTheResourceOfTheCurrentLanguage) {
  res::SetLanguageFlag(res::kLangChinese);
  EXPECT_EQ(res::PickResource(100, 136), 100);
  res::SetLanguageFlag(res::kLangEnglish);
  EXPECT_EQ(res::PickResource(100, 136), 136);
}

}  // namespace

namespace {

TEST(PlaybackMenuTest, SameItemsInBothLanguagesWithTheirTexts) {
  const res::MenuResource* en = res::FindMenu(135);
  const res::MenuResource* zh = res::FindMenu(131);
  ASSERT_TRUE(en && zh);
  EXPECT_EQ(Shape(en->bar), Shape(zh->bar));
  const std::map<int, std::pair<std::string, std::string>> expected{
      {32789, {"&Open clip...", "打开视频"}},
      {57602, {"&Close clip", "关闭视频"}},
      {32791, {"E&xit", "关闭"}},
      {32792, {"&Pause/Play\tP", "播放/暂停"}},
      {32793, {"&Stop\tS", "停止"}},
      {32794, {"&Normal size (100%)\tN", "正常"}},
      {32795, {"&Double size (200%)\tD", "两倍"}},
      {32796, {"&Full Screen\t<Enter> or F", "全屏"}},
      {32797, {"&Increase Playback Rate\t<Right arrow>", "速率增加"}},
      {32798, {"&Decrease Playback Rate\t<Left arrow>", "速率减少"}},
      {32799, {"&Normal Playback Rate\t<Down arrow>", "正常速率"}},
      {32800, {"&Half Playback Rate", "半速率"}},
      {32801, {"Dou&ble Playback Rate", "两倍速率"}}};
  auto enItems = Items(*en), zhItems = Items(*zh);
  ASSERT_EQ(enItems.size(), expected.size());
  for (const auto& [id, texts] : expected) {
    EXPECT_EQ(enItems[id], texts.first) << id;
    EXPECT_EQ(zhItems[id], texts.second) << id;
  }
  std::vector<std::string> popups;
  for (const auto& p : zh->bar) popups.emplace_back(p.text);
  EXPECT_EQ(popups, (std::vector<std::string>{"文件", "控制", "播放速率"}));
}

}  // namespace

#include <QKeySequence>

namespace {

TEST(AcceleratorTest, EveryKeyTextIsAKeyTheWindowUnderstands) {
  for (const res::Accelerator& a : res::FindAccelerators(res::kMainMenuEnglish)) {
    const QKeySequence seq(QString::fromUtf8(a.keys.data(), qsizetype(a.keys.size())));
    EXPECT_EQ(seq.count(), 1) << a.keys;
    EXPECT_NE(seq[0].key(), Qt::Key_unknown) << a.keys;
  }
}

}  // namespace
