// The save dialog: file types kept in step with the name, the options area's control states,
// the record it produces and the JPEG quality advice. Runs on the offscreen platform.
#include "snapshot/save_dialog/save_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <memory>

#include "imaging/encode/any_pic_encoder.h"
#include "resources/resources.h"
#include "resources/save_options_template.h"
#include "snapshot/save_dialog/message_box.h"

namespace {

class SaveDlgTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "save_dlg_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }
  void SetUp() override {
    snapshotui::SetMessageBoxRunnerForTesting(
        [this](QMessageBox& box) { messages_.push_back(box.text()); });
  }
  void TearDown() override {
    snapshotui::SetMessageBoxRunnerForTesting({});
    res::SetLanguageFlag(res::kLangEnglish);
  }

  // A dialog as the Save command makes it, with the encoders' types, shown in `dir`.
  std::unique_ptr<CSaveDlg> Open(const QString& fileName = QString()) {
    auto dlg = std::make_unique<CSaveDlg>(false, QString(), fileName,
                                          CSaveDlg::kHideReadOnly | CSaveDlg::kOverwritePrompt,
                                          QString(), nullptr);
    std::vector<std::string> names(20), patterns(20);
    const int n = CAnyPicEncoder().GetSaveFilters(names.data(), patterns.data(), 20);
    names.resize(size_t(n));
    patterns.resize(size_t(n));
    dlg->SetFilters(names, patterns);
    dlg->setDirectory(dir_.path());
    dlg->show();
    return dlg;
  }
  template <typename T>
  T* Ctl(CSaveDlg& d, int id) {
    auto* w = qobject_cast<T*>(d.Control(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  // The user picks type `index` in the file type list.
  void ChooseType(CSaveDlg& d, int index) {
    auto* types = Ctl<QComboBox>(d, res::kIdcFileTypeList);
    types->setCurrentIndex(index);
    emit types->activated(index);
  }
  QString Confirm(CSaveDlg& d, const QString& typed) {
    Ctl<QLineEdit>(d, res::kIdcFileNameBox)->setText(typed);
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    return QFileInfo(d.GetPathName()).fileName();
  }

  QTemporaryDir dir_;
  std::vector<QString> messages_;
};

TEST_F(SaveDlgTest, OpensCollapsedOnTheBmpType) {
  auto d = Open();
  EXPECT_EQ(d->CustomFilterCount(), 7);
  EXPECT_EQ(d->selectedNameFilter(), "Bmp File(*.bmp)");
  EXPECT_EQ(QString::fromLatin1(d->Record().extension, 3), "BMP");
  EXPECT_FALSE(d->Expanded());
  EXPECT_FALSE(d->Control(res::kIdcOptionsGroup)->isVisible());
  auto* advanced = Ctl<QPushButton>(*d, res::kIdcAdvanced);
  EXPECT_EQ(advanced->text(), "Advanced>>");
  EXPECT_TRUE(advanced->isVisible());
  auto* combo = Ctl<QComboBox>(*d, res::kIdcPaletteQuality);
  ASSERT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->itemText(3), "Best");
  EXPECT_EQ(combo->itemData(3).toInt(), 4);
  EXPECT_EQ(Ctl<QLineEdit>(*d, res::kIdcJpegQuality)->text(), "75");
  EXPECT_TRUE(messages_.empty());
  // The chooser's captions name its lists for assistive tools.
  for (const char* pair : {"lookIn", "fileType"}) {
    auto* caption = d->findChild<QLabel*>(QString::fromLatin1(pair) + "Label");
    ASSERT_NE(caption, nullptr) << pair;
    EXPECT_EQ(caption->buddy(), d->findChild<QWidget*>(QString::fromLatin1(pair) + "Combo")) << pair;
  }
}

TEST_F(SaveDlgTest, InitialNameChoosesItsType) {
  auto d = Open(dir_.filePath("photo.png"));
  EXPECT_EQ(d->selectedNameFilter(), "PNG File(*.png)");
  EXPECT_EQ(QString::fromLatin1(d->Record().extension, 3), "PNG");
}

TEST_F(SaveDlgTest, ConfirmingAppliesTheTypesExtension) {
  struct Case {
    int type;
    const char* typed;
    const char* saved;
  } cases[] = {{1, "holiday.JPEG", "holiday.jpg"},
               {2, "photo", "photo.png"},
               {2, "photo.Png", "photo.Png"},
               {6, "a.b.c", "a.b.gif"}};
  for (const Case& c : cases) {
    auto d = Open();
    ChooseType(*d, c.type);
    EXPECT_EQ(Confirm(*d, c.typed), c.saved) << c.typed;
    EXPECT_EQ(QFileInfo(d->GetPathName()).absolutePath(), QDir(dir_.path()).absolutePath());
  }
}

TEST_F(SaveDlgTest, ATypedFolderIsOpenedNotSavedAsAFile) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("shots/2024"));
  const QString root = QDir(dir_.path()).absolutePath();
  const struct {
    const char* typed;
    QString opened;
  } cases[] = {{"shots", root + "/shots"},
               {"shots/2024/", root + "/shots/2024"},
               {"..", QFileInfo(root).absolutePath()},
               {"  .  ", root}};
  for (const auto& c : cases) {
    auto d = Open();
    ChooseType(*d, 1);
    Ctl<QLineEdit>(*d, res::kIdcFileNameBox)->setText(c.typed);
    d->accept();
    EXPECT_EQ(d->result(), QDialog::Rejected) << c.typed;
    EXPECT_TRUE(d->isVisible()) << c.typed;
    EXPECT_EQ(d->directory().absolutePath(), c.opened) << c.typed;
    EXPECT_TRUE(Ctl<QLineEdit>(*d, res::kIdcFileNameBox)->text().isEmpty()) << c.typed;
  }
  // A name beside the folder is still a file with the type's extension.
  auto d = Open();
  ChooseType(*d, 1);
  EXPECT_EQ(Confirm(*d, "shots2"), "shots2.jpg");
}

TEST_F(SaveDlgTest, TypeChangeKeepsTheTypedStemAndFolder) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("snaps"));
  const QString snaps = QDir(dir_.path()).absoluteFilePath("snaps");
  const struct {
    QString typed, shown, saved;
  } cases[] = {{"holiday.bmp", "holiday.jpg", QDir(dir_.path()).absoluteFilePath("holiday.jpg")},
               {snaps + "/s3", snaps + "/s3.jpg", snaps + "/s3.jpg"},
               {"snaps/s3.bmp", "snaps/s3.jpg", snaps + "/s3.jpg"},
               {"snaps/", "snaps/", ""}};
  for (const auto& c : cases) {
    auto d = Open();
    auto* box = Ctl<QLineEdit>(*d, res::kIdcFileNameBox);
    box->setText(c.typed);
    ChooseType(*d, 1);
    EXPECT_EQ(box->text().toStdString(), c.shown.toStdString());
    EXPECT_EQ(QString::fromLatin1(d->Record().extension, 3), "JPG");
    if (c.saved.isEmpty()) continue;
    d->accept();
    EXPECT_EQ(d->GetPathName().toStdString(), c.saved.toStdString());
  }
}

TEST_F(SaveDlgTest, AdvancedButtonTogglesTheArea) {
  auto d = Open();
  const int collapsed = d->height();
  auto* advanced = Ctl<QPushButton>(*d, res::kIdcAdvanced);
  advanced->click();
  EXPECT_TRUE(d->Expanded());
  EXPECT_EQ(advanced->text(), "Normal");
  EXPECT_TRUE(d->Control(res::kIdcOptionsGroup)->isVisible());
  const int expanded = d->height();
  EXPECT_GT(expanded, collapsed);
  // BMP: no compression choice; defaults show Compress and Left_Top checked, 24 bits.
  EXPECT_FALSE(Ctl<QCheckBox>(*d, res::kIdcCompress)->isEnabled());
  EXPECT_TRUE(Ctl<QCheckBox>(*d, res::kIdcCompress)->isChecked());
  EXPECT_TRUE(Ctl<QCheckBox>(*d, res::kIdcLeftTop)->isChecked());
  EXPECT_TRUE(Ctl<QRadioButton>(*d, res::kIdc24Bits)->isChecked());
  EXPECT_FALSE(Ctl<QLineEdit>(*d, res::kIdcJpegQuality)->isEnabled());
  advanced->click();
  EXPECT_FALSE(d->Expanded());
  EXPECT_EQ(advanced->text(), "Advanced>>");
  EXPECT_LT(d->height(), expanded);
  EXPECT_FALSE(d->Control(res::kIdcOptionsGroup)->isVisible());
}

TEST_F(SaveDlgTest, GifAllowsOnlyEightBits) {
  auto d = Open();
  Ctl<QPushButton>(*d, res::kIdcAdvanced)->click();
  ChooseType(*d, 6);
  EXPECT_TRUE(Ctl<QRadioButton>(*d, res::kIdc8Bits)->isChecked());
  EXPECT_TRUE(Ctl<QRadioButton>(*d, res::kIdc8Bits)->isEnabled());
  EXPECT_FALSE(Ctl<QRadioButton>(*d, res::kIdc24Bits)->isEnabled());
  EXPECT_FALSE(Ctl<QRadioButton>(*d, res::kIdc24Bits)->isChecked());
  EXPECT_TRUE(Ctl<QComboBox>(*d, res::kIdcPaletteQuality)->isEnabled());
  EXPECT_EQ(Confirm(*d, "still"), "still.gif");
  EXPECT_EQ(d->Record().wantedDepth, 8);
  EXPECT_EQ(QString::fromLatin1(d->Record().extension, 3), "GIF");
  EXPECT_EQ(d->Record().paletteQuality, 1);
}

TEST_F(SaveDlgTest, GrayAndTransparentStates) {
  auto d = Open();
  Ctl<QPushButton>(*d, res::kIdcAdvanced)->click();
  ChooseType(*d, 2);  // PNG
  Ctl<QRadioButton>(*d, res::kIdc8Bits)->click();
  EXPECT_EQ(d->Record().wantedDepth, 8);
  EXPECT_TRUE(Ctl<QComboBox>(*d, res::kIdcPaletteQuality)->isEnabled());
  Ctl<QRadioButton>(*d, res::kIdc24Bits)->click();
  EXPECT_FALSE(Ctl<QComboBox>(*d, res::kIdcPaletteQuality)->isEnabled());

  Ctl<QCheckBox>(*d, res::kIdcGray)->click();
  EXPECT_TRUE(d->Record().flags & EncodeOptions::kFlagGray);
  EXPECT_TRUE(Ctl<QRadioButton>(*d, res::kIdc8Bits)->isChecked());
  EXPECT_FALSE(Ctl<QRadioButton>(*d, res::kIdc24Bits)->isEnabled());
  EXPECT_FALSE(Ctl<QComboBox>(*d, res::kIdcPaletteQuality)->isEnabled());

  EXPECT_TRUE(Ctl<QPushButton>(*d, res::kIdcBackground)->isEnabled());
  Ctl<QCheckBox>(*d, res::kIdcTransparent)->click();
  EXPECT_FALSE(Ctl<QPushButton>(*d, res::kIdcBackground)->isEnabled());

  Ctl<QCheckBox>(*d, res::kIdcInterlace)->setChecked(true);
  Confirm(*d, "grey");
  const uint8_t f = d->Record().flags;
  EXPECT_EQ(f, EncodeOptions::kFlagCompress | EncodeOptions::kFlagGray |
                   EncodeOptions::kFlagLeftTop | EncodeOptions::kFlagInterlace |
                   EncodeOptions::kFlagTransparent);
  EXPECT_EQ(d->Record().wantedDepth, 8);
}

TEST_F(SaveDlgTest, JpegQualityAdviceAndRecord) {
  auto d = Open();
  Ctl<QPushButton>(*d, res::kIdcAdvanced)->click();
  ChooseType(*d, 1);
  auto* quality = Ctl<QLineEdit>(*d, res::kIdcJpegQuality);
  EXPECT_TRUE(quality->isEnabled());
  for (const char* text : {"100", "1", ""}) quality->setText(text);
  EXPECT_TRUE(messages_.empty());
  for (const char* text : {"0", "101", "abc"}) quality->setText(text);
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[0], "Please Input Integer from 1 to 100.");
  // A text that is no quality saves the default.
  Confirm(*d, "q");
  EXPECT_EQ(d->Record().jpegQuality, 75);

  auto e = Open();
  Ctl<QPushButton>(*e, res::kIdcAdvanced)->click();
  ChooseType(*e, 1);
  Ctl<QLineEdit>(*e, res::kIdcJpegQuality)->setText("90");
  Confirm(*e, "q90");
  EXPECT_EQ(e->Record().jpegQuality, 90);
}

TEST_F(SaveDlgTest, CollapsedSaveKeepsTheDefaults) {
  auto d = Open();
  ChooseType(*d, 1);
  EXPECT_EQ(Confirm(*d, "plain"), "plain.jpg");
  EXPECT_EQ(d->Record().jpegQuality, 75);
  EXPECT_EQ(d->Record().wantedDepth, 24);
  EXPECT_EQ(d->Record().flags, EncodeOptions::kFlagCompress | EncodeOptions::kFlagLeftTop);
}

TEST_F(SaveDlgTest, SetOptionsTakesTheFirstRecordOnly) {
  auto d = Open();  // initialised once by its start-up, with the defaults
  EncodeOptions mine;
  mine.jpegQuality = 33;
  d->SetOptions(&mine);
  EXPECT_EQ(d->Record().jpegQuality, 75);

  CSaveDlg fresh(false, QString(), QString(), 0, QString(), nullptr);
  fresh.SetOptions(&mine);
  EXPECT_EQ(fresh.Record().jpegQuality, 33);
  fresh.SetOptions(nullptr);  // back to the defaults, which are now the first record
  EXPECT_EQ(fresh.Record().jpegQuality, 33);
}

TEST_F(SaveDlgTest, ChineseTemplateAndCaptions) {
  res::SetLanguageFlag(res::kLangChinese);
  auto d = Open();
  EXPECT_EQ(Ctl<QPushButton>(*d, res::kIdcAdvanced)->text(), "&高级>>");
  EXPECT_EQ(Ctl<QGroupBox>(*d, res::kIdcOptionsGroup)->title(), "选项");
  EXPECT_EQ(Ctl<QCheckBox>(*d, res::kIdcCompress)->text(), "压縮");
  EXPECT_EQ(Ctl<QComboBox>(*d, res::kIdcPaletteQuality)->itemText(0), "Normal");
  Ctl<QPushButton>(*d, res::kIdcAdvanced)->click();
  EXPECT_EQ(Ctl<QPushButton>(*d, res::kIdcAdvanced)->text(), "&正常<<");
}

}  // namespace
