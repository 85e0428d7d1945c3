// Replacing files as an ordinary user: what is refused, what is written where, and that a
// failure or an abandoned replacement leaves the old file whole and nothing beside it.
#include "imaging/core/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "tests/obey_file_permissions.h"
#include "tests/small_volume.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return "(no file)";
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
}

// Every name under `dir`, so that a file left behind anywhere shows.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(e.path().lexically_relative(dir));
  return names;
}

struct StatOf {
  explicit StatOf(const std::string& path) { ok = ::lstat(path.c_str(), &st) == 0; }
  struct stat st {};
  bool ok = false;
};

class FileReplacementTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(asUser_.ok());
    char pattern[] = "/tmp/lumora-replace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directory(At("ro"));
    savedMask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(savedMask_);
    ::chmod(At("ro").c_str(), 0755);
    fs::remove_all(dir_);
  }
  std::string At(const std::string& name) const { return dir_ + "/" + name; }

  const ObeyFilePermissions asUser_;  // root too
  std::string dir_;
  mode_t savedMask_ = 0;
};

struct Case {
  const char* name;
  std::function<void()> setup;
  const char* path;      // what is replaced
  int error;             // from Open (0: replaced)
  const char* written;   // the file that receives the contents
  mode_t mode;           // its mode afterwards
  bool inPlace;
};

TEST_F(FileReplacementTest, RefusesOrReplacesWholeKeepingModeAndLeavingNothing) {
  const auto at = [this](const char* name) { return At(name); };
  const auto nothing = [] {};
  const Case cases[] = {
      {"new file", nothing, "new.bmp", 0, "new.bmp", 0644, false},
      {"mode kept", [&] { Put(at("a.bmp"), "old", 0640); }, "a.bmp", 0, "a.bmp", 0640, false},
      {"read-only", [&] { Put(at("a.bmp"), "old", 0444); }, "a.bmp", EACCES, "a.bmp", 0444, false},
      {"link", [&] {
         Put(at("ro/t.bmp"), "old", 0600);
         fs::create_symlink(at("ro/t.bmp"), at("l.bmp"));
       }, "l.bmp", 0, "ro/t.bmp", 0600, false},
      {"link to a missing file", [&] { fs::create_symlink("t.bmp", at("l.bmp")); },
       "l.bmp", 0, "t.bmp", 0644, false},
      {"writable file, read-only folder", [&] {
         Put(at("ro/a.bmp"), "old picture", 0664);
         ::chmod(at("ro").c_str(), 0555);
       }, "ro/a.bmp", 0, "ro/a.bmp", 0664, true},
      {"new file, read-only folder", [&] { ::chmod(at("ro").c_str(), 0555); },
       "ro/a.bmp", EACCES, "ro/a.bmp", 0, false},
      {"read-only file and folder", [&] {
         Put(at("ro/a.bmp"), "old", 0444);
         ::chmod(at("ro").c_str(), 0555);
       }, "ro/a.bmp", EACCES, "ro/a.bmp", 0444, false},
      {"folder", nothing, "ro", EISDIR, "ro", 0755, false},
      {"link loop", [&] {
         fs::create_symlink("b", at("a"));
         fs::create_symlink("a", at("b"));
       }, "a", ELOOP, "a", 0777, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.setup();
    const std::string path = At(c.path), written = At(c.written);
    const std::string before = Read(written);
    const std::set<std::string> names = Names(dir_);
    const StatOf old(written);
    EXPECT_EQ(ReplacementObstacle(path), c.error);
    {
      CFileReplacement file;
      ASSERT_EQ(file.Open(path), c.error);
      if (c.error != 0) {
        EXPECT_EQ(file.Write("x", 1), EBADF);
      } else {
        EXPECT_EQ(file.InPlace(), c.inPlace);
        EXPECT_EQ(file.Write("abandoned", 9), 0);
      }
    }
    EXPECT_EQ(Read(written), before) << "left whole";
    EXPECT_EQ(Names(dir_), names) << "nothing left beside it";
    if (c.error != 0) continue;

    CFileReplacement file;
    ASSERT_EQ(file.Open(path), 0);
    EXPECT_EQ(file.Target(), written);
    ASSERT_EQ(file.Write("new ", 4), 0);
    ASSERT_EQ(file.CommitWith("picture", 7), 0);
    EXPECT_EQ(Read(written), "new picture");
    const StatOf now(written);
    EXPECT_EQ(now.st.st_mode & 07777, c.mode);
    if (c.inPlace) {
      EXPECT_EQ(now.st.st_ino, old.st.st_ino) << "written in place";
    }
    EXPECT_EQ(fs::is_symlink(path), path != written) << "a link stays a link";
    std::set<std::string> expected = names;
    expected.insert(fs::path(c.written).string());
    EXPECT_EQ(Names(dir_), expected);
  }
}

// A full disk: beside the file, in place, and while bytes for an in-place write are held
// aside. Each time the old file stays whole and nothing is left.
TEST_F(FileReplacementTest, AFullDiskLeavesTheOldFileWhole) {
  SmallVolume volume(64 * 1024);
  if (!volume.ok()) GTEST_SKIP() << "no small volume to fill: " << volume.why();
  const std::string old(40000, 'o');
  Put(volume / "a.bmp", old, 0640);
  fs::create_directory(volume / "ro");
  Put(volume / "ro/b.bmp", old.substr(0, 8000), 0640);
  ::chmod((volume / "ro").c_str(), 0555);
  fs::create_directory(volume / "spool");
  const std::string big(100000, 'n');
  struct Attempt {
    std::string path;
    bool streamed;
  };
  const char* savedTmp = ::getenv("TMPDIR");
  ::setenv("TMPDIR", (volume / "spool").c_str(), 1);
  for (const Attempt& a : {Attempt{volume / "a.bmp", false}, Attempt{volume / "ro/b.bmp", false},
                           Attempt{volume / "ro/b.bmp", true}}) {
    SCOPED_TRACE(a.path + (a.streamed ? " streamed" : ""));
    const std::string before = Read(a.path);
    const std::set<std::string> names = Names(volume.path());
    CFileReplacement file;
    ASSERT_EQ(file.Open(a.path), 0);
    const int error = a.streamed ? file.Write(big.data(), big.size()) : file.CommitWith(big.data(), big.size());
    EXPECT_EQ(error, ENOSPC);
    EXPECT_TRUE(Read(a.path) == before) << "the old file changed";
    EXPECT_EQ(StatOf(a.path).st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(volume.path()), names);
  }
  savedTmp ? ::setenv("TMPDIR", savedTmp, 1) : ::unsetenv("TMPDIR");
  ::chmod((volume / "ro").c_str(), 0755);
}

}  // namespace
