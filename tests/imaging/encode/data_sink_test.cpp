#include "imaging/encode/data_sink.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "encode_test_util.h"
#include "imaging/core/text_exception.h"
#include "imaging/encode/any_pic_encoder.h"
#include "tests/obey_file_permissions.h"
#include "tests/small_volume.h"

using encodetest::ReadFile;
using encodetest::TempDir;

namespace {

void ExpectOverflow(const std::function<void()>& write) {
  try {
    write();
    FAIL() << "no overflow raised";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 11);
    EXPECT_STREQ(e.GetErrorText(), "Buffer overflow while encoding.\n");
  }
}

TEST(DataSink, WritesUpToCapacityAndRefusesOneByteMore) {
  uint8_t buffer[6] = {};
  CDataSink sink;
  sink.Open("x.bmp", buffer, sizeof buffer);
  sink.WriteWord(0x1234);
  sink.WriteByte(0x1FF);  // low 8 bits only
  sink.WriteString("ab");
  EXPECT_EQ(sink.GetPosition(), 5u);
  ExpectOverflow([&] { sink.WriteWord(7); });  // one byte over
  EXPECT_EQ(sink.GetPosition(), 5u) << "a refused write writes nothing";
  sink.WriteBytes(1, "z");  // exactly up to the capacity
  const uint8_t expected[6] = {0x34, 0x12, 0xFF, 'a', 'b', 'z'};
  EXPECT_EQ(0, std::memcmp(buffer, expected, 6));
  ExpectOverflow([&] { sink.WriteByte(0); });
  ExpectOverflow([&] { sink.WriteBytes(1, "q"); });
  EXPECT_STREQ(sink.GetName(), "x.bmp");
  sink.Close();
  EXPECT_FALSE(sink.IsOpen());
}

TEST(FileSink, CommitWritesExactlyTheBytesWritten) {
  TempDir dir;
  CFileSink sink;
  ASSERT_EQ(sink.OpenFile((dir / "out.bmp").c_str(), 100), 0);
  sink.WriteString("hello");
  sink.Close();
  EXPECT_EQ(ReadFile(dir / "out.bmp"), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(FileSink, DestroyedWithoutCommitLeavesTargetAndNoTemporary) {
  TempDir dir;
  { std::ofstream(dir / "keep.bmp") << "old contents"; }
  ::chmod((dir / "keep.bmp").c_str(), 0640);
  {
    CFileSink sink;
    ASSERT_EQ(sink.OpenFile((dir / "keep.bmp").c_str(), 100), 0);
    sink.WriteString("partial");
  }
  EXPECT_EQ(ReadFile(dir / "keep.bmp"), (std::vector<uint8_t>{'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 's'}));
  EXPECT_EQ(dir.EntryCount(), 1u);

  CFileSink sink;  // a committed replacement keeps the old file's permissions
  ASSERT_EQ(sink.OpenFile((dir / "keep.bmp").c_str(), 100), 0);
  sink.WriteString("new");
  sink.Close();
  struct stat info;
  ASSERT_EQ(::stat((dir / "keep.bmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFile(dir / "keep.bmp").size(), 3u);
}

// A write that fails (here: the file size limit, standing in for a full disk) is reported,
// not ignored, and the old target survives.
TEST(FileSink, FailedWriteRaisesAndKeepsTheTarget) {
  TempDir dir;
  const std::string target = dir / "full.bmp";
  { std::ofstream(target) << "old"; }
  CFileSink sink;
  ASSERT_EQ(sink.OpenFile(target.c_str(), 100), 0);
  sink.WriteBytes(100, std::string(100, 'x').data());
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 10;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int code = 0;
  std::string text;
  try {
    sink.Close();
  } catch (const CTextException& e) {
    code = e.GetErrorCode();
    text = e.GetErrorText();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(text, "Encoder error: Writing " + target + " failed: File too large\n");
  EXPECT_EQ(ReadFile(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(FileSink, OpenFailsWhereNoFileCanBeCreated) {
  TempDir dir;
  CFileSink sink;
  EXPECT_EQ(sink.OpenFile((dir / "missing/out.bmp").c_str(), 10), -1);
  EXPECT_EQ(sink.OpenFile(dir.path().c_str(), 10), -1) << "a directory is no target";
  EXPECT_FALSE(sink.IsOpen());
  EXPECT_EQ(dir.EntryCount(), 0u);
}

TEST(EncodeFile, FailedEncodeKeepsOldTargetAndRemovesTemporary) {
  TempDir dir;
  const std::string target = dir / "picture.png";
  { std::ofstream(target) << "previous"; }
  auto bmp = encodetest::MakeNoise(9, 4, 1, 1);  // PNG refuses 1 bit
  CAnyPicEncoder encoder;
  try {
    encoder.EncodeFile(target.c_str(), *bmp);
    FAIL() << "1-bit PNG accepted";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 6);
    EXPECT_STREQ(e.GetErrorText(), "Encoder error: Sorry,only support 8 bits,true color currently!\n");
  }
  EXPECT_EQ(ReadFile(target), (std::vector<uint8_t>{'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(EncodeFile, UncreatableFileRaisesOpeningFailed) {
  TempDir dir;
  const std::string target = dir / "no/such/dir/x.bmp";
  auto bmp = encodetest::MakeNoise(2, 2, 8, 1);
  CAnyPicEncoder encoder;
  try {
    encoder.EncodeFile(target.c_str(), *bmp);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), -1);
    EXPECT_EQ(std::string(e.GetErrorText()), "Encoder error: Opening " + target + " failed\n");
  }
}

// Saving over a file as an ordinary user: a read-only picture is refused before anything is
// encoded, with the message of a file that cannot be opened; a link's picture is replaced; a
// picture in a read-only folder is written in place; a full disk is reported. Whatever
// happens, the old picture stays whole or is replaced whole, keeps its mode, and nothing is
// left beside it.
TEST(EncodeFile, ReplacesOnlyWhatTheUserMayWriteAndLosesNothing) {
  const ObeyFilePermissions asUser;  // root too
  ASSERT_TRUE(asUser.ok());
  SmallVolume volume(64 * 1024);
  if (!volume.ok()) GTEST_SKIP() << "no small volume to fill: " << volume.why();
  namespace fs = std::filesystem;
  const std::string old(10000, 'o');
  auto put = [&](const std::string& name, mode_t mode) {
    std::ofstream(volume / name) << old;
    ::chmod((volume / name).c_str(), mode);
  };
  fs::create_directory(volume / "ro");
  put("ro.bmp", 0444);
  put("target.bmp", 0640);
  fs::create_symlink("target.bmp", volume / "link.bmp");
  put("ro/in.bmp", 0664);
  ::chmod((volume / "ro").c_str(), 0555);
  struct Case {
    const char* path;
    const char* written;  // the file that changes, if any
    int width;            // 40 x 40 x 24 bits fits the volume; 200 x 200 does not
    const char* error;    // the text raised, "" when saved
    mode_t mode;
  };
  const Case cases[] = {
      {"ro.bmp", "ro.bmp", 40, "Encoder error: Opening %s failed\n", 0444},
      {"link.bmp", "target.bmp", 40, "", 0640},
      {"ro/in.bmp", "ro/in.bmp", 40, "", 0664},
      {"target.bmp", "target.bmp", 200, "Encoder error: Writing %s failed: No space left on device\n", 0640},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string path = volume / c.path, written = volume / c.written;
    const std::vector<uint8_t> before = ReadFile(written);
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(volume.path())) names.insert(e.path());
    auto bmp = encodetest::MakeNoise(c.width, c.width, 32, 3);
    std::string raised;
    try {
      CAnyPicEncoder().EncodeFile(path.c_str(), *bmp);
    } catch (const CTextException& e) {
      raised = e.GetErrorText();
      EXPECT_EQ(e.GetErrorCode(), -1);
    }
    char expected[512] = "";
    std::snprintf(expected, sizeof expected, c.error, path.c_str());
    EXPECT_EQ(raised, expected);
    const std::vector<uint8_t> after = ReadFile(written);
    if (*c.error != 0) {
      EXPECT_TRUE(after == before) << "the old picture changed";
    } else {
      EXPECT_EQ(after.size(), size_t(54 + 40 * 40 * 3));
      EXPECT_EQ(after[0], 'B');
    }
    struct stat st;
    ASSERT_EQ(::stat(written.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_TRUE(fs::is_symlink(volume / "link.bmp"));
    std::set<std::string> now;
    for (const auto& e : fs::recursive_directory_iterator(volume.path())) now.insert(e.path());
    EXPECT_EQ(now, names) << "nothing left beside it";
  }
  ::chmod((volume / "ro").c_str(), 0755);
}

}  // namespace
