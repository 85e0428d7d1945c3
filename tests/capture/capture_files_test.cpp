// The File menu's capture-file commands on the scripted platform, offscreen: the file dialog,
// the set-file-size dialog and its figures, the reservation and its failure box, and saving a
// copy behind the progress dialog (saved, rescued, aborted, failed).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_files.h"
#include "capture/dialogs/dialog_runner.h"
#include "capture/dialogs/set_file_size_dlg.h"
#include "capture/main_frame.h"
#include "capture/platform/capture_file.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "resources/resources.h"
#include "tests/capture/avi/hand_avi.h"

namespace fs = std::filesystem;

struct CMainFrameTestPeer {
  static std::string& CaptureFileName(CMainFrame& f) { return f.m_captureFileName; }
  static uint16_t CaptureFileSizeMb(CMainFrame& f) { return f.m_captureFileSizeMb; }
  static bool HasBuilder(CMainFrame& f) { return f.m_builder != nullptr; }
  static void MakeBuilder(CMainFrame& f) {
    ASSERT_EQ(f.m_platform.CreateCaptureGraphBuilder2(f.m_builder), media::status::kOk);
  }
  // A capture graph's file writer, as the capture run leaves it.
  static void MakeFileSink(CMainFrame& f, const std::string& path) {
    MakeBuilder(f);
    std::shared_ptr<media::IFilterGraph> graph;
    ASSERT_EQ(f.m_platform.CreateFilterGraph(graph), media::status::kOk);
    ASSERT_EQ(f.m_builder->SetFiltergraph(graph), media::status::kOk);
    std::shared_ptr<media::IBaseFilter> mux;
    ASSERT_EQ(f.m_builder->SetOutputFileName(media::guid::kSubtypeAvi, path, mux, f.m_fileSink),
              media::status::kOk);
    f.m_graph = graph;
  }
};

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "capture_files_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// What the modal dialogs showed, and how the test answers them.
struct Script {
  std::optional<QString> pickFile;    // the file dialog's answer (nullopt: Cancel)
  std::optional<QString> sizeAnswer;  // typed into the size field before OK (nullopt: Cancel)
  enum class Progress { kRun, kCancel, kEscape } progress = Progress::kRun;

  int fileDialogs = 0, sizeDialogs = 0, progressDialogs = 0;
  QString fileTitle, fileFilter, fileFolder;
  QString freeText, sizeText, sizeCaption;
  std::vector<std::pair<QString, QString>> boxes;  // caption, text
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
};

class CaptureFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    res::SetLanguageFlag(res::kLangEnglish);
    dir_ = fs::temp_directory_path() /
           ("lumora-capfiles-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    capture_dialogs::SetRunnerForTesting([this](QDialog& d) { return Answer(d); });
    CMainFrame::SetMessageBoxRunnerForTesting([this](QMessageBox& box) {
      script_.boxes.emplace_back(box.windowTitle(), box.text());
    });
    // The frame's settings live in this test's folder, and the start-up timer reads them now
    // rather than in the middle of a command's modal loop.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir_ / "config").string()));
    frame_ = std::make_unique<CMainFrame>(res::kMainMenuEnglish, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    QElapsedTimer clock;
    clock.start();
    while (frame_->TimerRunning(CMainFrame::kStartupTimer) && clock.elapsed() < 5000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(frame_->TimerRunning(CMainFrame::kStartupTimer));
    // These cases start from a frame without a device's filters (and so without a builder).
    frame_->ReleaseCaptureFilters();
    script_.boxes.clear();
  }
  void TearDown() override {
    frame_.reset();
    qunsetenv("XDG_CONFIG_HOME");
    capture_dialogs::SetRunnerForTesting({});
    CMainFrame::SetMessageBoxRunnerForTesting({});
    fs::remove_all(dir_);
  }

  int Answer(QDialog& d) {
    if (auto* files = qobject_cast<QFileDialog*>(&d)) {
      ++script_.fileDialogs;
      script_.fileTitle = files->windowTitle();
      script_.fileFilter = files->nameFilters().join(u';');
      script_.fileFolder = files->directory().absolutePath();
      if (!script_.pickFile) return QDialog::Rejected;
      files->selectFile(*script_.pickFile);
      return QDialog::Accepted;
    }
    if (auto* size = qobject_cast<CSetFileSizeDlg*>(&d)) {
      ++script_.sizeDialogs;
      script_.freeText = size->FreeSpaceText();
      script_.sizeCaption = size->windowTitle();
      auto* edit = size->findChild<QLineEdit*>(QString::number(res::kIdcCaptureFileSize));
      script_.sizeText = edit ? edit->text() : QString();
      if (!script_.sizeAnswer || !edit) return QDialog::Rejected;
      edit->setText(*script_.sizeAnswer);
      size->accept();
      return size->result();
    }
    if (auto* progress = qobject_cast<QProgressDialog*>(&d)) {
      ++script_.progressDialogs;
      // The user's answer arrives once the dialog runs, as it would from the keyboard.
      if (script_.progress == Script::Progress::kCancel)
        QTimer::singleShot(0, progress, [progress] {
          if (auto* cancel = progress->findChild<QPushButton*>()) cancel->click();
        });
      if (script_.progress == Script::Progress::kEscape)
        QTimer::singleShot(0, progress, [progress] {
          QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QCoreApplication::sendEvent(progress, &esc);
        });
      return progress->exec();
    }
    if (auto* box = qobject_cast<QMessageBox*>(&d)) {
      script_.boxes.emplace_back(box->windowTitle(), box->text());
      script_.boxIcon = box->icon();
      return QMessageBox::Ok;
    }
    ADD_FAILURE() << "unexpected dialog " << d.metaObject()->className();
    return QDialog::Rejected;
  }

  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::string& Name() { return CMainFrameTestPeer::CaptureFileName(*frame_); }
  bool Logged(const std::string& line) {
    const auto& log = platform_->CallLog();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  fs::path dir_;
  Script script_;
  media::ScopedScriptedPlatform platform_{media::TwoCameraSettings()};
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(CaptureFilesTest, NewCaptureFileNameOpensTheSizeDialogAtOnce) {
  Name() = Path("old.avi");
  script_.pickFile = QString::fromStdString(Path("new.avi"));
  // Cancelled: the new name stays, but the command failed and no file was made.
  EXPECT_EQ(frame_->PickCaptureFile(), 0);
  EXPECT_EQ(script_.fileTitle, "Set Capture File");
  EXPECT_EQ(script_.fileFilter, "Microsoft AVI (*.avi)");
  EXPECT_EQ(script_.fileFolder.toStdString(), dir_.string());
  EXPECT_EQ(script_.sizeDialogs, 1);
  EXPECT_EQ(Name(), Path("new.avi"));
  EXPECT_FALSE(fs::exists(Path("new.avi")));

  // Answered: the file is made with exactly that many megabytes, and the capture graph's
  // file writer takes the new name.
  CMainFrameTestPeer::MakeFileSink(*frame_, Path("old.avi"));
  script_.pickFile = QString::fromStdString(Path("other.avi"));
  script_.sizeAnswer = QStringLiteral("3");
  EXPECT_EQ(frame_->PickCaptureFile(), 1);
  EXPECT_EQ(fs::file_size(Path("other.avi")), 3u << 20);
  EXPECT_EQ(CMainFrameTestPeer::CaptureFileSizeMb(*frame_), 3);
  EXPECT_TRUE(Logged("Builder.AllocCapFile " + Path("other.avi") + " 3145728"));
  EXPECT_TRUE(Logged("FileSink.SetFileName " + Path("other.avi")));

  // An existing file is taken as it is, without the size dialog.
  script_.sizeDialogs = 0;
  EXPECT_EQ(frame_->PickCaptureFile(), 1);
  EXPECT_EQ(script_.sizeDialogs, 0);
  // Cancelling the file dialog changes nothing.
  script_.pickFile.reset();
  EXPECT_EQ(frame_->PickCaptureFile(), 0);
  EXPECT_EQ(Name(), Path("other.avi"));
}

TEST_F(CaptureFilesTest, SizeDialogShowsTheFileAndTheFreeSpaceItCouldUse) {
  Name() = Path("cap.avi");
  WriteAll(Name(), std::vector<uint8_t>(5242880, 7));
  const int64_t freeKb = FreeSpaceOfVolume(Name());
  ASSERT_GT(freeKb, 0);
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 0);  // cancelled
  EXPECT_EQ(script_.sizeText, "5");
  EXPECT_EQ(script_.sizeCaption, "Set File Size");
  // Free megabytes counting the 5 120 KB the file already holds (other writers on the volume
  // may move the figure a little between the two measurements).
  const double expected = double(freeKb + 5120) / 1024;
  EXPECT_NEAR(script_.freeText.toDouble(), expected, 64.0);
  EXPECT_EQ(fs::file_size(Name()), 5242880u);

  // A smaller size: the file ends at exactly that size.
  script_.sizeAnswer = QStringLiteral(" 2 ");
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 1);
  EXPECT_EQ(fs::file_size(Name()), 2u << 20);
  EXPECT_TRUE(script_.boxes.empty());
}

TEST_F(CaptureFilesTest, ReservationKeepsARecordedCaptureWhole) {
  Name() = Path("cap.avi");
  const avitest::HandAvi avi = avitest::BuildAvi({40000, 50000});
  WriteAll(Name(), avi.bytes);
  script_.sizeAnswer = QStringLiteral("0");
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 1);
  EXPECT_EQ(ReadAll(Name()), avi.bytes);
}

TEST_F(CaptureFilesTest, FailedReservationShowsItsBoxAndKeepsTheChosenSize) {
  // No builder to be had: failure without a box.
  platform_->Settings().fail["Platform.CreateCaptureGraphBuilder2"] = media::status::kFail;
  Name() = Path("cap.avi");
  script_.sizeAnswer = QStringLiteral("7");
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 0);
  EXPECT_TRUE(script_.boxes.empty());
  EXPECT_FALSE(CMainFrameTestPeer::HasBuilder(*frame_));
  EXPECT_FALSE(fs::exists(Name()));
  platform_->Settings().fail.clear();

  Name() = Path("missing-folder/cap.avi");
  script_.sizeAnswer = QStringLiteral("7");
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 0);
  ASSERT_EQ(script_.boxes.size(), 1u);
  EXPECT_EQ(script_.boxes[0].first, "Failed to pre-allocate capture file space");
  EXPECT_EQ(script_.boxes[0].second, "Error");
  EXPECT_EQ(script_.boxIcon, QMessageBox::Warning);
  EXPECT_EQ(CMainFrameTestPeer::CaptureFileSizeMb(*frame_), 7);

  // Nor with no capture file name at all.
  Name().clear();
  script_.sizeDialogs = 0;
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 0);
  EXPECT_EQ(script_.sizeDialogs, 0);
}

TEST(SetFileSizeDlgTest, TakesOnlyASixteenBitDecimalSize) {
  App();
  struct Case {
    const char* text;
    std::optional<int> mb;
  } cases[] = {{"5", 5}, {" 42 ", 42}, {"0", 0}, {"65535", 65535}, {"65536", {}},
               {"-1", {}}, {"12x", {}}, {"", {}}, {"+3", {}}, {"99999999999", {}}};
  for (const Case& c : cases) {
    int mb = -1;
    EXPECT_EQ(CSetFileSizeDlg::ParseMegabytes(QString::fromUtf8(c.text), mb), c.mb.has_value())
        << c.text;
    if (c.mb) {
      EXPECT_EQ(mb, *c.mb) << c.text;
    }
  }
  // OK with a bad value says why, keeps the dialog open, the field focused and the old size.
  std::vector<QString> boxes;
  capture_dialogs::SetRunnerForTesting([&](QDialog& d) {
    if (auto* box = qobject_cast<QMessageBox*>(&d)) boxes.push_back(box->text());
    return int(QMessageBox::Ok);
  });
  for (auto [flag, typed, message] :
       {std::tuple{res::kLangEnglish, "abc", "Please enter an integer."},
        std::tuple{res::kLangEnglish, "70000", "Please enter an integer between 0 and 65535."},
        std::tuple{res::kLangChinese, "abc", "请输入一个整数。"}}) {
    res::SetLanguageFlag(flag);
    CSetFileSizeDlg dlg;
    dlg.SetFileSizeMb(9);
    dlg.show();
    auto* edit = dlg.findChild<QLineEdit*>(QString::number(res::kIdcCaptureFileSize));
    edit->setText(typed);
    boxes.clear();
    dlg.findChild<QPushButton*>(QString::number(res::kIdOk))->click();
    EXPECT_EQ(boxes, std::vector<QString>{QString::fromUtf8(message)}) << typed;
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), typed);
    EXPECT_EQ(dlg.FileSizeMb(), 9);
  }
  capture_dialogs::SetRunnerForTesting({});
  res::SetLanguageFlag(res::kLangEnglish);
  CSetFileSizeDlg dlg;
  dlg.show();
  dlg.findChild<QLineEdit*>(QString::number(res::kIdcCaptureFileSize))->setText("12");
  dlg.findChild<QPushButton*>(QString::number(res::kIdOk))->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.FileSizeMb(), 12);
}

TEST(SetFileSizeDlgTest, SpeaksTheInterfaceLanguage) {
  App();
  for (auto [flag, id, caption] : {std::tuple{res::kLangEnglish, 143, "Set File Size"},
                                   std::tuple{res::kLangChinese, 103, "分配捕获文件空间"}}) {
    res::SetLanguageFlag(flag);
    CSetFileSizeDlg dlg;
    EXPECT_EQ(dlg.TemplateId(), id);
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8(caption));
    dlg.SetFreeSpaceText("105");
    EXPECT_EQ(dlg.findChild<QLabel*>(QString::number(res::kIdcFreeDiskSpace))->text(), "105");
  }
  res::SetLanguageFlag(res::kLangEnglish);
}

TEST(FreeSpaceOfVolumeTest, MeasuresTheVolumeOfAFileThatNeedNotExist) {
  const fs::path dir = fs::temp_directory_path();
  const int64_t kb = FreeSpaceOfVolume((dir / "no-such-folder" / "cap.avi").string());
  const auto space = fs::space(dir);
  EXPECT_NEAR(double(kb), double(space.available / 1024), 65536.0);
  EXPECT_EQ(FreeSpaceOfVolume(""), -1);
  EXPECT_EQ(GetCaptureFileBytes((dir / "no-such-folder" / "cap.avi").string()), 0u);
}

TEST_F(CaptureFilesTest, SaveCopyWithoutABuilderOrWhenCancelledDoesNothing) {
  Name() = Path("cap.avi");
  EXPECT_EQ(frame_->SaveCaptureCopy(), 0);
  EXPECT_EQ(script_.fileDialogs, 0);
  CMainFrameTestPeer::MakeBuilder(*frame_);
  const QString pane = frame_->PaneText();
  EXPECT_EQ(frame_->SaveCaptureCopy(), 1);  // file dialog cancelled
  EXPECT_EQ(script_.fileDialogs, 1);
  EXPECT_EQ(frame_->PaneText(), pane);
}

TEST_F(CaptureFilesTest, SaveCopyCompactsAFinishedCaptureAndRescuesAnUnfinishedOne) {
  Name() = Path("cap.avi");
  const avitest::HandAvi finished = avitest::BuildAvi({1000, 2000, 3000});
  WriteAll(Name(), finished.bytes);
  ASSERT_EQ(media::AllocateCaptureFile(Name(), 1 << 20), media::status::kOk);
  CMainFrameTestPeer::MakeBuilder(*frame_);
  script_.pickFile = QString::fromStdString(Path("copy.avi"));
  frame_->OnCommand(cmd::kSaveCapturedVideoAs);
  EXPECT_EQ(script_.progressDialogs, 1);
  EXPECT_EQ(frame_->PaneText(), "Capture file saved");
  EXPECT_EQ(ReadAll(Path("copy.avi")), finished.bytes);
  EXPECT_TRUE(Logged("Builder.CopyCaptureFile " + Name() + " " + Path("copy.avi")));

  WriteAll(Name(), avitest::BuildAvi({1000, 2000, 3000, 4000}, false).bytes);
  EXPECT_EQ(frame_->SaveCaptureCopy(), 1);
  EXPECT_EQ(frame_->PaneText(), "Capture file saved - 4 frames rescued");
}

TEST_F(CaptureFilesTest, AbortedOrFailedSaveLeavesNoCopy) {
  Name() = Path("cap.avi");
  // Large enough that the copy is still running when the dialog answers.
  const uint64_t captureBytes = avitest::BuildAvi({16u << 20}).bytes.size();
  WriteAll(Name(), avitest::BuildAvi({16u << 20}).bytes);
  CMainFrameTestPeer::MakeBuilder(*frame_);
  script_.pickFile = QString::fromStdString(Path("copy.avi"));
  for (auto how : {Script::Progress::kCancel, Script::Progress::kEscape}) {
    script_.progress = how;
    EXPECT_EQ(frame_->SaveCaptureCopy(), 0);
    EXPECT_EQ(frame_->PaneText(), "Capture file save aborted");
    EXPECT_FALSE(fs::exists(Path("copy.avi")));
  }
  // Onto the capture file itself: refused, the capture survives.
  script_.progress = Script::Progress::kRun;
  script_.pickFile = QString::fromStdString(Name());
  EXPECT_EQ(frame_->SaveCaptureCopy(), 0);
  EXPECT_EQ(frame_->PaneText(), "Capture file save ERROR");
  EXPECT_EQ(fs::file_size(Name()), captureBytes);
  // The older builder cannot be made.
  platform_->Settings().fail["Platform.CreateCaptureGraphBuilder"] = media::status::kFail;
  script_.pickFile = QString::fromStdString(Path("copy.avi"));
  EXPECT_EQ(frame_->SaveCaptureCopy(), 0);
  EXPECT_EQ(frame_->PaneText(), "Capture file save ERROR");
  EXPECT_FALSE(fs::exists(Path("copy.avi")));
}

// The chosen file is in the profile at once (a crash later still leaves it known); a file
// that no copy could make playable is reported as not saved and the old target stays; a
// recording whose end cannot be found is not cut by a smaller size.
TEST_F(CaptureFilesTest, TheCaptureFileIsKeptAndNeverLostToAUselessCopyOrATrim) {
  Name() = Path("first.avi");
  WriteAll(Path("cap.avi"), avitest::BuildAvi({300, 300}).bytes);
  script_.pickFile = QString::fromStdString(Path("cap.avi"));
  ASSERT_EQ(frame_->PickCaptureFile(), 1);
  const std::string profile = (dir_ / "config" / "lumora2003" / "capture.ini").string();
  const std::vector<uint8_t> text = ReadAll(profile);
  EXPECT_NE(std::string(text.begin(), text.end()).find("CaptureFile=" + Name() + "\n"), std::string::npos);

  // RIFF size 0 and a header list without a stream list, then 30 whole frames.
  avitest::HandAvi useless = avitest::BuildAvi(std::vector<uint32_t>(30, 300), false);
  useless.Put32(4, 0);
  useless.Put32(useless.strl + 8, avi::FourCC("JUNK"));
  WriteAll(Name(), useless.bytes);
  const std::vector<uint8_t> older = avitest::BuildAvi({500}).bytes;
  WriteAll(Path("copy.avi"), older);
  CMainFrameTestPeer::MakeBuilder(*frame_);
  script_.pickFile = QString::fromStdString(Path("copy.avi"));
  EXPECT_EQ(frame_->SaveCaptureCopy(), 0);
  EXPECT_EQ(frame_->PaneText(), "Capture file save ERROR");
  EXPECT_EQ(ReadAll(Path("copy.avi")), older);

  // Its movi list gone as well: where its frames end cannot be known, so nothing is cut.
  useless.Put32(useless.movi + 8, avi::FourCC("JUNK"));
  WriteAll(Name(), useless.bytes);
  script_.sizeAnswer = QStringLiteral("0");
  EXPECT_EQ(frame_->PreallocateCaptureFile(), 1);
  EXPECT_EQ(ReadAll(Name()), useless.bytes);
  ASSERT_EQ(script_.boxes.size(), 1u);
  EXPECT_NE(script_.boxes[0].second.indexOf("not made smaller"), -1);
}

}  // namespace
