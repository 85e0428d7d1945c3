// The dialog templates of both languages and the dialogs built from them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <ostream>

#include "ui/dialog_template.h"
#include "resources/resources.h"

namespace {

struct DialogPair {
  int chinese, english;
  const char* chineseCaption;
  const char* englishCaption;
  // A text of each language the dialog must show (its main label).
  const char* chineseText;
  const char* englishText;
};

void PrintTo(const DialogPair& p, std::ostream* os) { *os << p.english << "/" << p.chinese; }

class DialogPairTest : public ::testing::TestWithParam<DialogPair> {};

bool HasText(const res::DialogTemplate& t, std::string_view text) {
  for (const auto& c : t.controls)
    if (c.text == text) return true;
  return false;
}

TEST_P(DialogPairTest, BothLanguagesHaveTheSameControlsWithTheirTexts) {
  const DialogPair p = GetParam();
  const res::DialogTemplate* zh = res::FindDialog(p.chinese);
  const res::DialogTemplate* en = res::FindDialog(p.english);
  ASSERT_TRUE(zh && en);
  EXPECT_EQ(zh->caption, p.chineseCaption);
  EXPECT_EQ(en->caption, p.englishCaption);
  EXPECT_TRUE(HasText(*zh, p.chineseText));
  EXPECT_TRUE(HasText(*en, p.englishText));
  ASSERT_EQ(zh->controls.size(), en->controls.size());
  for (size_t i = 0; i < zh->controls.size(); ++i) {
    EXPECT_EQ(zh->controls[i].id, en->controls[i].id) << i;
    EXPECT_EQ(zh->controls[i].kind, en->controls[i].kind) << i;
  }
  // Every control lies inside its dialog.
  for (const auto* t : {zh, en})
    for (const auto& c : t->controls) {
      EXPECT_LE(c.x + c.cx, t->cx) << t->id << " control " << c.id;
      EXPECT_LE(c.y + c.cy, t->cy + (c.kind == res::DialogControl::Kind::DropList ? 80 : 0))
          << t->id << " control " << c.id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDialog, DialogPairTest,
    ::testing::Values(
        DialogPair{100, 136, "关于 lumora2003", "About lumora2003", "lumora2003 1.0 1版",
                   "lumora2003 1.01 version"},
        DialogPair{102, 139, "确认对话框", "Ready to Capture", "选择确认来捕获视频流到:",
                   "Select OK to start capture of video sequence to:"},
        DialogPair{103, 143, "分配捕获文件空间", "Set File Size", "剩余磁盘空间",
                   "Enter the amount of disk space to setaside for the capture file.  "
                   "Existing video "},
        DialogPair{104, 140, "限时捕获", "Capture Time Limit", "限制时间:", "&Time Limit:"},
        DialogPair{105, 141, "设置帧速", "Choose Frame Rate", "使用自定义帧速", "f/sec"},
        DialogPair{106, 142, "视频压缩", "Video Compressor Selection", "确定", "Cancel"},
        DialogPair{108, 137, "增强视频格式", "Video Media Properties", "压缩模式",
                   "Color Space / Compression:"}));

// One application object per case: other cases of this program make their own.
struct App {
  int argc = 1;
  char name[8] = "dialogs";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
};

// The widget each kind of control becomes, checked on every template.
TEST(DialogBuildTest, EveryControlBecomesItsWidgetUnderItsIdentifier) {
  App app;
  for (int id : {100, 136, 102, 139, 103, 143, 104, 140, 105, 141, 106, 142, 108, 137}) {
    const res::DialogTemplate* t = res::FindDialog(id);
    ASSERT_NE(t, nullptr) << id;
    QDialog dialog;
    BuildDialogFromTemplate(dialog, *t);
    EXPECT_EQ(dialog.windowTitle().toStdString(), std::string(t->caption));
    for (const auto& c : t->controls) {
      if (c.id < 0) continue;
      QWidget* w = DialogItem(dialog, c.id);
      ASSERT_NE(w, nullptr) << id << " control " << c.id;
      using K = res::DialogControl::Kind;
      switch (c.kind) {
        case K::Edit: EXPECT_TRUE(qobject_cast<QLineEdit*>(w)) << c.id; break;
        case K::ListBox: EXPECT_TRUE(qobject_cast<QListWidget*>(w)) << c.id; break;
        case K::DropList: EXPECT_TRUE(qobject_cast<QComboBox*>(w)) << c.id; break;
        case K::CheckBox: EXPECT_TRUE(qobject_cast<QCheckBox*>(w)) << c.id; break;
        case K::DefPushButton:
        case K::PushButton: EXPECT_TRUE(qobject_cast<QPushButton*>(w)) << c.id; break;
        default: break;
      }
      // Every control that takes input has a name a screen reader can say.
      if (c.kind == K::Edit || c.kind == K::DropList) {
        EXPECT_FALSE(w->accessibleName().isEmpty()) << id << " control " << c.id;
      }
    }
  }
}

TEST(DialogBuildTest, LabelsLeadToTheirBoxesAndTheListKeepsItsOrder) {
  App app;
  QDialog formats;
  BuildDialogFromTemplate(formats, *res::FindDialog(res::kVideoFormatDlgEnglish));
  auto* size = static_cast<QComboBox*>(DialogItem(formats, res::kIdcOutputSize));
  EXPECT_EQ(size->accessibleName(), QStringLiteral("Output Size:"));
  EXPECT_FALSE(size->isEditable());
  QDialog limit;
  BuildDialogFromTemplate(limit, *res::FindDialog(res::kTimeLimitDlgEnglish));
  QWidget* edit = DialogItem(limit, res::kIdcTimeLimit);
  bool buddyFound = false;
  for (QLabel* label : limit.findChildren<QLabel*>())
    if (label->buddy() == edit) buddyFound = label->text() == QStringLiteral("&Time Limit:");
  EXPECT_TRUE(buddyFound);
  QDialog compressors;
  BuildDialogFromTemplate(compressors, *res::FindDialog(res::kCompressorDlgEnglish));
  auto* list = static_cast<QListWidget*>(DialogItem(compressors, res::kIdcCompressorList));
  list->addItems({QStringLiteral("mjpeg"), QStringLiteral("huffyuv")});
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("huffyuv"));  // a sorted list box
}

TEST(DialogBuildTest, OkAcceptsAndCancelRejects) {
  App app;
  for (int button : {res::kIdOk, res::kIdCancel}) {
    QDialog dialog;
    BuildDialogFromTemplate(dialog, *res::FindDialog(res::kReadyDlgChinese));
    auto* b = static_cast<QPushButton*>(DialogItem(dialog, button));
    QTimer::singleShot(0, b, &QPushButton::click);
    EXPECT_EQ(dialog.exec(), button == res::kIdOk ? QDialog::Accepted : QDialog::Rejected);
  }
}

}  // namespace
