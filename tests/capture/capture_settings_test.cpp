// The capture settings between runs: the profile file, the "camprof" arithmetic and the
// start/close path of the main frame on the scripted platform.
#include <sys/stat.h>
#include <unistd.h>

#include "capture/device_memory.h"
#include "capture/profile_file.h"
#include "tests/obey_file_permissions.h"
#include "tests/capture/frame_fixture.h"

using namespace capture_settings;

namespace {

// --- The profile file ---

// Lookups by name: a profile of many distinct sections and keys reads in linear time.
TEST(ProfileFileTest, AProfileOfManyKeysAndSectionsReadsQuickly) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/p.ini";
  QByteArray text = "[section399]\n";
  for (int k = 0; k < 60000; ++k) text += "key" + QByteArray::number(k) + "=v\n";
  for (int s = 0; s < 20000; ++s) text += "[s" + QByteArray::number(s) + "]\n";
  ASSERT_LT(text.size(), 1 << 20);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text);
  f.close();
  QElapsedTimer clock;
  clock.start();
  CProfileFile p(path);
  p.Load();
  p.Set("S19999", "x", "1");
  EXPECT_EQ(p.Get("SECTION399", "KEY59999"), "v");
  EXPECT_EQ(p.Keys("s19999").size(), 1u);
  EXPECT_LT(clock.elapsed(), 2000);  // quadratic lookups took tens of seconds
}

TEST(ProfileFileTest, KeepsSectionsKeysAndOrderAcrossAWrite) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/sub/p.ini";
  CProfileFile p(path);
  p.Set("camprof", "B", "2");
  p.Set("camprof", "A", "1");
  p.Set("@device:x/y [1]", "0x00980900", "128");
  p.Set("CAMPROF", "b", "3");  // names compare without case
  ASSERT_TRUE(p.Save());
  CProfileFile q(path);
  q.Load();
  EXPECT_EQ(q.Keys("camprof"),
            (std::vector<std::pair<std::string, std::string>>{{"B", "3"}, {"A", "1"}}));
  EXPECT_EQ(q.Get("@device:x/y [1]", "0x00980900"), "128");
  EXPECT_EQ(q.Get("camprof", "missing"), std::nullopt);
}

// A profile kept as a link (as configuration managers keep them) stays one; a read-only
// profile is not written; a profile in a folder the user may not write is written in place.
TEST(ProfileFileTest, WritesWhatTheUserMayWriteWherePermissionsAllow) {
  const ObeyFilePermissions asUser;  // root too
  ASSERT_TRUE(asUser.ok());
  QTemporaryDir dir;
  const QByteArray root = dir.path().toLocal8Bit();
  ASSERT_EQ(::mkdir(root + "/ro", 0755), 0);
  const auto put = [&](const char* name, mode_t mode) {
    QFile f(dir.path() + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[camprof]\nTimeLimit=1\n");
    f.close();
    ASSERT_EQ(::chmod(root + "/" + name, mode), 0);
  };
  put("kept.ini", 0600);
  ASSERT_EQ(::symlink("kept.ini", root + "/link.ini"), 0);
  put("ro.ini", 0400);
  put("ro/in.ini", 0640);
  ASSERT_EQ(::chmod(root + "/ro", 0555), 0);
  struct Case {
    const char* path;
    const char* written;
    bool saved;
    mode_t mode;
  };
  for (const Case& c : {Case{"link.ini", "kept.ini", true, 0600}, Case{"ro.ini", "ro.ini", false, 0400},
                        Case{"ro/in.ini", "ro/in.ini", true, 0640}}) {
    SCOPED_TRACE(c.path);
    CProfileFile p(dir.path() + "/" + c.path);
    p.Load();
    p.Set("camprof", "TimeLimit", "2");
    EXPECT_EQ(p.Save(), c.saved);
    CProfileFile q(dir.path() + "/" + c.written);
    q.Load();
    EXPECT_EQ(q.GetInt("camprof", "TimeLimit", 0), c.saved ? 2 : 1);
    struct stat st {};
    ASSERT_EQ(::stat(root + "/" + c.written, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
  EXPECT_TRUE(QFileInfo(dir.path() + "/link.ini").isSymLink());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 4);
  ::chmod(root + "/ro", 0755);
}

TEST(ProfileFileTest, TextThatWouldBreakALineRoundTrips) {
  for (const std::string& text : std::vector<std::string>{"a=b", "50%", "line\nbreak\r", "[x]", ";not a comment",
                                 std::string("nul\0in", 6), "路径/视频.avi", ""}) {
    EXPECT_EQ(CProfileFile::Unescape(CProfileFile::Escape(text)), text);
    EXPECT_EQ(CProfileFile::Escape(text).find_first_of("\r\n=[]", 0), std::string::npos);
  }
  // A lone or broken escape is kept as it stands.
  EXPECT_EQ(CProfileFile::Unescape("100%"), "100%");
  EXPECT_EQ(CProfileFile::Unescape("%zz%4"), "%zz%4");
}

TEST(ProfileFileTest, IntegersThatAreNotWholeNumbersTakeTheFallback) {
  QTemporaryDir dir;
  CProfileFile p(dir.path() + "/p.ini");
  struct Row {
    const char* text;
    int32_t expected;
  } rows[] = {{"42", 42}, {"-7", -7}, {"+5", 5}, {"", 9}, {"12abc", 9}, {"abc", 9},
              {"99999999999", 9}, {"2147483647", INT32_MAX}};
  for (const Row& r : rows) {
    p.Set("s", "k", r.text);
    EXPECT_EQ(p.GetInt("s", "k", 9), r.expected) << r.text;
  }
  EXPECT_EQ(p.GetInt("s", "absent", 9), 9);
}

TEST(ProfileFileTest, BrokenFilesReadAsEmptyOrAsTheirGoodLines) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/p.ini";
  auto load = [&](const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    CProfileFile p(path);
    p.Load();
    return p;
  };
  // Binary junk: nothing.
  EXPECT_FALSE(load(QByteArray("[camprof]\nWantPreview=1\n\0\xff\xfe", 27))
                   .Get("camprof", "WantPreview"));
  // Garbled text: the good lines count, the rest is skipped; keys before any section and
  // keys under a broken header belong nowhere.
  CProfileFile p = load("WantPreview=1\n[camprof\nTimeLimit=5\n[camprof]\r\n garbage line\n"
                        "=x\nUseTimeLimit = 1 \r\n");
  EXPECT_EQ(p.Keys("camprof"),
            (std::vector<std::pair<std::string, std::string>>{{"UseTimeLimit", "1"}}));
  // Missing, and a folder where the file should be.
  CProfileFile missing(dir.path() + "/none.ini");
  missing.Load();
  EXPECT_TRUE(missing.Keys("camprof").empty());
  QDir(dir.path()).mkdir("folder.ini");
  CProfileFile folder(dir.path() + "/folder.ini");
  folder.Load();
  EXPECT_TRUE(folder.Keys("camprof").empty());
  EXPECT_FALSE(folder.Save());
}

// --- Frame rate arithmetic ---

struct RateRow {
  int32_t duration;
  double rate;
  int64_t writtenBack;
};

class FrameRateTest : public ::testing::TestWithParam<RateRow> {};

TEST_P(FrameRateTest, DurationToRateAndBack) {
  const RateRow r = GetParam();
  EXPECT_DOUBLE_EQ(FrameRateFromDuration(r.duration), r.rate);
  EXPECT_EQ(DurationFromFrameRate(FrameRateFromDuration(r.duration)), r.writtenBack);
}

INSTANTIATE_TEST_SUITE_P(
    StoredDurations, FrameRateTest,
    ::testing::Values(RateRow{666667, 1499 * 0.01, 667111},  // the default: 14.99, not 15
                      RateRow{667111, 1499 * 0.01, 667111},  // and it stays there
                      RateRow{333333, 3000 * 0.01, 333333}, RateRow{400000, 2500 * 0.01, 400000},
                      RateRow{1, 1000000000 * 0.01, 1},
                      // No positive rate: 15 frames per second.
                      RateRow{0, 15.0, 666666}, RateRow{-333333, 15.0, 666666},
                      RateRow{1000000001, 15.0, 666666}, RateRow{INT32_MAX, 15.0, 666666}));

TEST(FrameRateTest, ARateNeverReadIsStoredAsTheFallback) {
  EXPECT_EQ(DurationFromFrameRate(0.0), 666666);
  EXPECT_EQ(DurationFromFrameRate(-1.0), 666666);
}

// --- Start and close ---

class CaptureSettingsTest : public FrameFixture {};

TEST_F(CaptureSettingsTest, FirstRunTakesTheDefaultsAndSelectsTheFirstDevice) {
  StartFrame();
  EXPECT_EQ(frame_->CaptureFileName(), "");
  EXPECT_FALSE(frame_->WantPreview());
  EXPECT_TRUE(frame_->UseFrameRate());
  EXPECT_DOUBLE_EQ(frame_->FrameRate(), 14.99);
  ASSERT_TRUE(frame_->SelectedDevice());
  EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:scripted:camera-a");
  EXPECT_EQ(frame_->PaneText(), "Camera A");
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(frame_->PreviewGraphBuilt());
}

TEST_F(CaptureSettingsTest, ClosingWritesEveryKeyInOrder) {
  StartFrame();
  CloseFrame();
  EXPECT_EQ(ReadProfile().toStdString(),
            "[camprof]\nCaptureFile=\nVideoDevice2=@device:scripted:camera-a\nAudioDevice2=\n"
            "FrameRate=667111\nUseFrameRate=1\nCaptureAudio=1\nCaptureCC=0\nWantPreview=0\n"
            "MasterStream=1\nUseTimeLimit=0\nTimeLimit=0\n");
}

TEST_F(CaptureSettingsTest, StoredValuesComeBackAndAreWrittenBackUnchanged) {
  const QByteArray stored =
      "[camprof]\nCaptureFile=/videos/a=b.avi\nVideoDevice2=@device:scripted:camera-b\n"
      "AudioDevice2=\nFrameRate=333333\nUseFrameRate=0\nCaptureAudio=0\nCaptureCC=0\n"
      "WantPreview=1\nMasterStream=0\nUseTimeLimit=1\nTimeLimit=-5\n";
  // The '=' of the path is stored escaped when written back.
  WriteProfile(stored);
  StartFrame();
  EXPECT_EQ(frame_->CaptureFileName(), "/videos/a=b.avi");
  EXPECT_DOUBLE_EQ(frame_->FrameRate(), 30.0);
  EXPECT_FALSE(frame_->UseFrameRate());
  EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:scripted:camera-b");
  EXPECT_EQ(frame_->PaneText(), "Camera B");
  // Want preview: the remembered device previews at once.
  EXPECT_TRUE(frame_->Previewing());
  EXPECT_TRUE(frame_->Action(cmd::kDeviceFirst + 1)->isChecked());
  EXPECT_FALSE(frame_->Action(cmd::kDeviceFirst)->isChecked());
  CloseFrame();
  QByteArray expected = stored;
  expected.replace("a=b", "a%3Db");
  EXPECT_EQ(ReadProfile(), expected);
}

TEST_F(CaptureSettingsTest, ASavedDeviceThatIsGoneSelectsTheFirstListed) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:unplugged\n");
  StartFrame();
  EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:scripted:camera-a");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CaptureSettingsTest, GarbledProfilesGiveTheDefaults) {
  for (const QByteArray& junk :
       {QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), QByteArray("[camprof]\nFrameRate=fast\n"
                                                                     "WantPreview=yes\n"),
        QByteArray(5000, '['), QByteArray()}) {
    WriteProfile(junk);
    StartFrame();
    EXPECT_DOUBLE_EQ(frame_->FrameRate(), 14.99);
    EXPECT_FALSE(frame_->WantPreview());
    EXPECT_TRUE(frame_->UseFrameRate());
    EXPECT_EQ(frame_->SelectedDevice()->GetDisplayName(), "@device:scripted:camera-a");
    frame_.reset();
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CaptureSettingsTest, AnUnreadableOrUnwritableProfileNeverStopsTheProgram) {
  const ObeyFilePermissions asUser;  // root too
  ASSERT_TRUE(asUser.ok());
  WriteProfile("[camprof]\nWantPreview=1\n");
  ASSERT_EQ(chmod(ProfilePath().toLocal8Bit().constData(), 0), 0);
  StartFrame();
  EXPECT_FALSE(frame_->WantPreview());
  // The folder cannot take the new file either: closing still ends cleanly.
  const QByteArray folder = QFileInfo(ProfilePath()).absolutePath().toLocal8Bit();
  ASSERT_EQ(chmod(folder.constData(), 0500), 0);
  CloseFrame();
  chmod(folder.constData(), 0700);
  chmod(ProfilePath().toLocal8Bit().constData(), 0600);
  EXPECT_EQ(ReadProfile(), "[camprof]\nWantPreview=1\n");
  EXPECT_TRUE(messages_.empty());
}

// A device's section can never be one of the program's, whatever the device calls itself;
// a profile from before device sections had their prefix still gives its values back.
TEST_F(CaptureSettingsTest, DeviceSectionsNeverMeetTheSettings) {
  for (const std::string name : {"camprof", "CAMPROF", "CamProf", "@device:gst:test:0"}) {
    SCOPED_TRACE(name);
    WriteProfile(QByteArray::fromStdString("[camprof]\nCaptureFile=/tmp/keep.avi\n[device:" + name +
                                           "]\n0x00980900=7\n"));
    CDeviceMemory memory = CDeviceMemory::Read(name);
    EXPECT_EQ(memory.Controls(), (std::map<uint32_t, int32_t>{{0x00980900, 7}}));
    EXPECT_TRUE(memory.Write());
    CProfileFile p(ProfilePath());
    p.Load();
    EXPECT_EQ(p.Get(kSection, kCaptureFile), "/tmp/keep.avi");
    EXPECT_EQ(CDeviceMemory::Read(name).Controls(), memory.Controls());
  }
  WriteProfile("[camprof]\nWantPreview=1\n[@device:gst:test:0]\n0x00980900=9\n");
  const CDeviceMemory old = CDeviceMemory::Read("@device:gst:test:0");
  EXPECT_EQ(old.Controls(), (std::map<uint32_t, int32_t>{{0x00980900, 9}}));
  ASSERT_TRUE(old.Write());
  EXPECT_EQ(ReadProfile(), "[camprof]\nWantPreview=1\n[device:@device:gst:test:0]\n0x00980900=9\n");
}

TEST_F(CaptureSettingsTest, AFailedWriteKeepsTheOldProfileWhole) {
  // Runs as root too: a folder in the file's place cannot be replaced by a rename.
  WriteProfile("[camprof]\nWantPreview=1\n");
  StartFrame();
  const QString path = ProfilePath();
  ASSERT_TRUE(QFile::rename(path, path + ".keep"));
  ASSERT_TRUE(QDir().mkpath(path + "/blocker"));
  CloseFrame();
  EXPECT_TRUE(QFileInfo(path).isDir());
  QDir(path).removeRecursively();
  QFile::rename(path + ".keep", path);
  EXPECT_EQ(ReadProfile(), "[camprof]\nWantPreview=1\n");
}

TEST_F(CaptureSettingsTest, AWindowClosedBeforeTheSettingsWereReadKeepsTheSavedOnes) {
  WriteProfile("[camprof]\nVideoDevice2=@device:scripted:camera-b\nWantPreview=1\n");
  MakeFrame();
  CloseFrame();
  EXPECT_EQ(ReadProfile(), "[camprof]\nVideoDevice2=@device:scripted:camera-b\nWantPreview=1\n");
}

TEST_F(CaptureSettingsTest, ThePreviewChoiceIsWrittenAsItStandsAtClose) {
  WriteProfile("[camprof]\nWantPreview=1\nCaptureFile=/tmp/x.avi\n");
  StartFrame();
  ASSERT_TRUE(frame_->Previewing());
  frame_->OnCommand(cmd::kPreview);  // the user turns the preview off before closing
  CloseFrame();
  CProfileFile p(ProfilePath());
  p.Load();
  EXPECT_EQ(p.Get(kSection, kWantPreview), "0");
  EXPECT_EQ(p.Get(kSection, kCaptureFile), "/tmp/x.avi");
}

}  // namespace
