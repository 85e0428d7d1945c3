// The compressor, frame rate and time limit dialogs as the main frame runs them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "capture/dialogs/compressor_dlg.h"
#include "capture/dialogs/dialog_runner.h"
#include "frame_fixture.h"

namespace {

class CaptureDialogsTest : public FrameFixture {
 protected:
  void SetUp() override {
    FrameFixture::SetUp();
    file_ = QDir(configHome_.path()).filePath("clip.avi").toStdString();
    platform_->Settings().compressors = {{"@device:scripted:codec-b", "B Codec"},
                                         {"@device:scripted:codec-a", "A Codec"}};
    capture_dialogs::SetRunnerForTesting([this](QDialog& d) {
      if (auto* box = qobject_cast<QMessageBox*>(&d)) {
        boxes_.push_back((box->windowTitle() + "|" + box->text()).toStdString());
        return int(QMessageBox::Ok);
      }
      captions_.push_back(d.windowTitle());
      return answer_ ? answer_(d) : int(QDialog::Accepted);
    });
  }
  void TearDown() override {
    capture_dialogs::SetRunnerForTesting({});
    FrameFixture::TearDown();
  }
  void StartWith(const std::string& extra) {
    WriteProfile(QByteArray::fromStdString("[camprof]\nCaptureFile=" + file_ +
                                           "\nVideoDevice2=@device:scripted:camera-a\n" + extra));
    StartFrame();
  }
  template <typename W>
  static W* Item(QDialog& d, int id) {
    return d.findChild<W*>(QString::number(id));
  }
  // Answers the compressor list by highlighting the entry of that text, then OK.
  void ChooseCompressor(const QString& text) {
    answer_ = [this, text](QDialog& d) {
      auto* list = Item<QListWidget>(d, res::kIdcCompressorList);
      for (int i = 0; i < list->count(); ++i) listed_.push_back(list->item(i)->text());
      const auto found = list->findItems(text, Qt::MatchExactly);
      if (!found.isEmpty()) list->setCurrentItem(found.first());
      d.accept();
      return d.result();
    };
  }
  bool CompressionChecked() {
    frame_->UpdateMenuRules();
    return frame_->Action(cmd::kCompression)->isChecked();
  }

  std::string file_;
  std::function<int(QDialog&)> answer_;
  std::vector<QString> captions_;
  std::vector<std::string> boxes_;
  std::vector<QString> listed_;
};

TEST_F(CaptureDialogsTest, CompressorsAreListedByNameAndTheHighlightedOneIsBound) {
  StartWith("");
  ChooseCompressor("A Codec");
  frame_->OnCommand(cmd::kCompression);
  EXPECT_EQ(captions_, std::vector<QString>{"Video Compressor Selection"});
  EXPECT_EQ(listed_, (std::vector<QString>{"A Codec", "B Codec"}));
  EXPECT_TRUE(frame_->UseCompressor());
  ASSERT_TRUE(frame_->Compressor());
  EXPECT_TRUE(Logged("Moniker.BindToFilter A Codec"));
  EXPECT_TRUE(CompressionChecked());

  // The capture runs through it under its fixed name.
  answer_ = nullptr;
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_TRUE(frame_->Capturing());
  EXPECT_TRUE(Logged("Graph.AddFilter Selected Video Compressor"));
  EXPECT_TRUE(messages_.empty());
  frame_->OnCommand(cmd::kStopCapture);

  // Turning it off lets go of the compressor at once and drops the built capture graph.
  frame_->OnCommand(cmd::kCompression);
  EXPECT_FALSE(frame_->UseCompressor());
  EXPECT_FALSE(frame_->Compressor());
  EXPECT_FALSE(frame_->CaptureGraphBuilt());
  EXPECT_FALSE(CompressionChecked());
}

TEST_F(CaptureDialogsTest, CompressorListShowsItsCaptionAndNamesWholeAndTheCurrentChoice) {
  platform_->Settings().compressors.push_back(
      {"@device:scripted:codec-long", "Long Codec Name That Runs On Well Past The List's Edge"});
  StartWith("");
  ChooseCompressor("B Codec");
  frame_->OnCommand(cmd::kCompression);
  frame_->OnCommand(cmd::kCompression);  // off
  ASSERT_FALSE(frame_->UseCompressor());
  bool shown = false;
  answer_ = [&](QDialog& d) {
    shown = true;
    auto* list = Item<QListWidget>(d, res::kIdcCompressorList);
    d.show();
    QFont bold = d.font();
    bold.setBold(true);
    EXPECT_GE(d.width(), QFontMetrics(bold).horizontalAdvance(d.windowTitle()) + 100);
    EXPECT_GE(list->viewport()->width(), list->sizeHintForColumn(0));
    EXPECT_LE(list->geometry().right(), d.width());
    EXPECT_TRUE(list->currentItem() && list->currentItem()->isSelected());
    EXPECT_EQ(list->currentItem() ? list->currentItem()->text() : QString(), "B Codec");
    return int(QDialog::Rejected);
  };
  frame_->OnCommand(cmd::kCompression);
  EXPECT_TRUE(shown);
}

TEST_F(CaptureDialogsTest, OkWithoutAHighlightAsksAgainAndCancelLeavesCompressionOff) {
  StartWith("");
  bool closedOnOk = true;
  answer_ = [&](QDialog& d) {
    d.accept();
    closedOnOk = d.result() == QDialog::Accepted;
    return int(QDialog::Rejected);
  };
  frame_->OnCommand(cmd::kCompression);
  EXPECT_FALSE(closedOnOk);
  EXPECT_EQ(boxes_, std::vector<std::string>{"Error|Please select a device by highlighting it."});
  EXPECT_FALSE(frame_->UseCompressor());
  EXPECT_FALSE(CompressionChecked());
}

TEST_F(CaptureDialogsTest, ACompressorThatWillNotBindIsReportedAtTheNextCapture) {
  platform_->Settings().compressors[1].bindStatus = media::status::kFail;
  StartWith("");
  ChooseCompressor("A Codec");
  frame_->OnCommand(cmd::kCompression);
  EXPECT_TRUE(frame_->UseCompressor());
  EXPECT_FALSE(frame_->Compressor());
  answer_ = nullptr;
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_TRUE(frame_->Capturing());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Unable to add video compressor to filter graph!");
}

TEST_F(CaptureDialogsTest, TimeLimitDialogTakesNumbersOnlyAndZeroStopsAtOnce) {
  StartWith("UseTimeLimit=0\nTimeLimit=7\n");
  QString shownLimit;
  bool closedOnJunk = true;
  answer_ = [&](QDialog& d) {
    auto* edit = Item<QLineEdit>(d, res::kIdcTimeLimit);
    shownLimit = edit->text();
    edit->setText("ten");
    d.accept();
    closedOnJunk = d.result() == QDialog::Accepted;
    Item<QCheckBox>(d, res::kIdcUseTimeLimit)->setChecked(true);
    edit->setText("0");
    d.accept();
    return d.result();
  };
  frame_->OnCommand(cmd::kSetTimeLimit);
  EXPECT_EQ(captions_, std::vector<QString>{"Capture Time Limit"});
  EXPECT_EQ(shownLimit, "7");
  EXPECT_FALSE(closedOnJunk);
  EXPECT_TRUE(frame_->UseTimeLimit());
  EXPECT_EQ(frame_->TimeLimit(), 0u);

  // Cancel keeps what is set.
  answer_ = [](QDialog& d) {
    Item<QLineEdit>(d, res::kIdcTimeLimit)->setText("99");
    return int(QDialog::Rejected);
  };
  frame_->OnCommand(cmd::kSetTimeLimit);
  EXPECT_EQ(frame_->TimeLimit(), 0u);

  answer_ = nullptr;
  frame_->OnCommand(cmd::kStartCapture);
  QElapsedTimer clock;
  clock.start();
  while (frame_->Capturing() && clock.elapsed() < 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_FALSE(frame_->Capturing());
}

// Text a field cannot take is refused with the data exchange's message for the field's type,
// in the dialog's language; the field keeps the focus with its text selected.
TEST_F(CaptureDialogsTest, BadNumbersAreRefusedAloudAndTheFieldKeepsTheFocus) {
  StartWith("");
  const struct {
    int language, command, field;
    const char* typed;
    const char* box;
  } cases[] = {
      {res::kLangEnglish, cmd::kSetFrameRate, res::kIdcFrameRate, "fast", "Please enter a number."},
      {res::kLangEnglish, cmd::kSetTimeLimit, res::kIdcTimeLimit, "ten", "Please enter a positive integer."},
      {res::kLangChinese, cmd::kSetFrameRate, res::kIdcFrameRate, "1e999", "请输入一个数字。"},
      {res::kLangChinese, cmd::kSetTimeLimit, res::kIdcTimeLimit, "-5", "请输入一个正整数。"}};
  for (const auto& c : cases) {
    res::SetLanguageFlag(c.language);
    bool open = false, focused = false, selected = false;
    answer_ = [&](QDialog& d) {
      auto* edit = Item<QLineEdit>(d, c.field);
      edit->setText(c.typed);
      d.accept();
      open = d.result() != QDialog::Accepted;
      focused = d.focusWidget() == edit;
      selected = edit->selectedText() == c.typed;
      return int(QDialog::Rejected);
    };
    boxes_.clear();
    frame_->OnCommand(c.command);
    EXPECT_EQ(boxes_, std::vector<std::string>{std::string("lumora2003|") + c.box}) << c.typed;
    EXPECT_TRUE(open && focused && selected) << c.typed;
  }
  res::SetLanguageFlag(res::kLangEnglish);
}

TEST_F(CaptureDialogsTest, FrameRateOfZeroLeavesTheDevicesOwnRate) {
  StartWith("UseFrameRate=0\n");
  auto setRate = [&](const char* text) {
    answer_ = [text](QDialog& d) {
      Item<QCheckBox>(d, res::kIdcUseFrameRate)->setChecked(true);
      Item<QLineEdit>(d, res::kIdcFrameRate)->setText(text);
      d.accept();
      return d.result();
    };
    frame_->OnCommand(cmd::kSetFrameRate);
    answer_ = nullptr;
  };
  setRate("0");
  EXPECT_TRUE(frame_->UseFrameRate());
  EXPECT_EQ(frame_->FrameRate(), 0.0);
  platform_->ClearCallLog();
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_TRUE(frame_->Capturing());
  EXPECT_EQ(CountLogged("StreamConfig.SetFormat"), 0);
  EXPECT_TRUE(messages_.empty());
  frame_->OnCommand(cmd::kStopCapture);

  // A real rate is imposed at the next build.
  frame_->DismantleGraph();
  setRate("30");
  frame_->OnCommand(cmd::kStartCapture);
  EXPECT_TRUE(Logged("StreamConfig.SetFormat 320x240 333333"));
  EXPECT_EQ(captions_.front(), "Choose Frame Rate");
}

media::ScriptedCapability Cap(const media::Guid& subtype, int w, int h, uint16_t bits,
                              uint32_t compression) {
  media::ScriptedCapability c;
  c.subtype = subtype;
  c.width = w;
  c.height = h;
  c.bitCount = bits;
  c.compression = compression;
  return c;
}

std::vector<QString> Texts(QComboBox* box) {
  std::vector<QString> out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i));
  return out;
}

TEST_F(CaptureDialogsTest, FormatDialogListsColourSpaceRunsAndSetsTheChosenSize) {
  const uint32_t yuy2 = media::MakeFourcc('Y', 'U', 'Y', '2');
  platform_->Settings().devices[0].capabilities = {
      Cap(media::guid::kSubtypeRGB24, 320, 240, 24, 0),
      Cap(media::guid::kSubtypeRGB24, 640, 480, 24, 0),
      Cap(media::guid::kSubtypeYUY2, 640, 480, 16, yuy2),
      Cap(media::guid::kSubtypeYUY2, 320, 240, 16, yuy2),
      Cap(media::guid::kSubtypeYUY2, 160, 120, 16, yuy2),
      Cap(media::guid::kSubtypeRGB24, 800, 600, 24, 0)};
  platform_->Settings().devices[0].currentCapability = 1;
  StartWith("WantPreview=1\n");
  ASSERT_TRUE(frame_->Previewing());
  std::vector<QString> spaces, rgbSizes, yuy2Sizes;
  QString preselectedSize;
  answer_ = [&](QDialog& d) {
    auto* space = Item<QComboBox>(d, res::kIdcColorSpace);
    auto* sizes = Item<QComboBox>(d, res::kIdcOutputSize);
    spaces = Texts(space);
    rgbSizes = Texts(sizes);
    preselectedSize = sizes->currentText();
    space->setCurrentIndex(1);
    yuy2Sizes = Texts(sizes);
    sizes->setCurrentIndex(1);
    d.accept();
    return d.result();
  };
  frame_->OnCommand(cmd::kEnhancedControl);
  EXPECT_EQ(captions_, std::vector<QString>{"Video Media Properties"});
  // A subtype seen again after another one gets an entry of its own.
  EXPECT_EQ(spaces, (std::vector<QString>{"RGB24", "YUY2", "RGB24"}));
  EXPECT_EQ(rgbSizes, (std::vector<QString>{"320 x 240", "640 x 480", "800 x 600"}));
  EXPECT_EQ(preselectedSize, "640 x 480");
  EXPECT_EQ(yuy2Sizes, (std::vector<QString>{"640 x 480", "320 x 240", "160 x 120"}));
  EXPECT_TRUE(Logged("StreamConfig.SetFormat 320x240 333333"));
  // The preview is back, at the new size.
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_EQ(frame_->VideoWidth(), 320);
  EXPECT_EQ(frame_->VideoHeight(), 240);
}

TEST_F(CaptureDialogsTest, DialogsWearTheChineseTemplatesInChinese) {
  res::SetLanguageFlag(res::kLangChinese);
  StartWith("");
  answer_ = [](QDialog&) { return int(QDialog::Rejected); };
  frame_->OnCommand(cmd::kSetFrameRate);
  frame_->OnCommand(cmd::kSetTimeLimit);
  frame_->OnCommand(cmd::kCompression);
  frame_->OnCommand(cmd::kEnhancedControl);
  EXPECT_EQ(captions_, (std::vector<QString>{"设置帧速", "限时捕获", "视频压缩", "增强视频格式"}));
  res::SetLanguageFlag(res::kLangEnglish);
}

}  // namespace
