// Saving capture files made by GStreamer's AVI muxer: finished ones are copied to their RIFF
// length, unfinished ones (cut, zeroed, or a muxer killed mid-capture) are rescued, and
// ffprobe / ffmpeg, an independent reader, must find the expected frames with the same
// pixels. Also: failures and aborts leave no file behind and keep an older target.
#include "capture/avi/avi_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tests/obey_file_permissions.h"
#include "tests/small_volume.h"

extern char** environ;

namespace avi {
namespace {

namespace fs = std::filesystem;

constexpr int kClipFrames = 40;
constexpr uint32_t kRawFrameBytes = 160 * 120 * 3 / 2;  // I420
const char* const kCaps = "video/x-raw,format=I420,width=160,height=120,framerate=30/1";

std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  return out;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const fs::path& p, std::span<const uint8_t> bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Frames ffmpeg decodes from the file, one md5 of the pixels each.
std::vector<std::string> FrameMd5s(const fs::path& file) {
  std::vector<std::string> md5s;
  std::istringstream lines(Shell("ffmpeg -v error -i '" + file.string() + "' -f framemd5 - 2>/dev/null"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != '#') md5s.push_back(line.substr(line.rfind(' ') + 1));
  }
  return md5s;
}

int ProbedFrames(const fs::path& file) {
  const std::string out = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" + file.string() + "'");
  return out.empty() ? -1 : std::atoi(out.c_str());
}

// Data offsets of the packets, as ffprobe finds them through the muxer's index.
std::vector<uint64_t> PacketPositions(const fs::path& file) {
  std::vector<uint64_t> pos;
  std::istringstream lines(Shell("ffprobe -v error -show_entries packet=pos -of csv=p=0 '" + file.string() + "'"));
  for (std::string line; std::getline(lines, line);) pos.push_back(std::stoull(line));
  return pos;
}

bool HaveTools() {
  return Shell("command -v gst-launch-1.0 && command -v ffprobe && command -v ffmpeg && echo ok").find("ok") !=
         std::string::npos;
}

// The muxer's clips, made once per build folder and shared by the test processes (ctest runs
// each test on its own): written under a private name, then renamed into place.
fs::path MakeClip(const std::string& name, const std::string& pipeline, uint64_t reserve = 0) {
  const fs::path dir = fs::path(LUMORA_BIN_DIR) / "avi-test-clips";
  const fs::path clip = dir / name;
  if (fs::exists(clip)) return clip;
  fs::create_directories(dir);
  const fs::path part = dir / (name + "." + std::to_string(::getpid()));
  if (reserve > 0) {
    // A pre-allocated capture file: the muxer writes from the start, seeks back to finish
    // the header, and the reserved tail stays.
    { std::ofstream(part).put('\0'); }
    fs::resize_file(part, reserve);
    Shell(pipeline + " ! fdsink fd=3 3<>'" + part.string() + "'");
  } else {
    Shell(pipeline + " ! filesink location='" + part.string() + "'");
  }
  fs::rename(part, clip);
  return clip;
}

pid_t Spawn(const std::string& script) {
  const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
  pid_t pid = -1;
  if (::posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

class AviSaveTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("lumora-avisave-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    tools_ = HaveTools();
    if (!tools_) return;
    const std::string src = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kClipFrames) +
                            " pattern=ball ! " + kCaps;
    clips_["raw.avi"] = MakeClip("raw.avi", src + " ! avimux");
    clips_["jpeg.avi"] = MakeClip("jpeg.avi", src + " ! jpegenc ! avimux");
    clips_["prealloc.avi"] = MakeClip("prealloc.avi", src + " ! avimux", 4 << 20);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  void SetUp() override {
    if (!tools_) GTEST_SKIP() << "gst-launch-1.0, ffprobe or ffmpeg missing";
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    out_ = dir_ / (name + ".avi");
  }
  // No temporary copies left anywhere in the folder.
  void ExpectNoLeftovers() {
    for (const auto& e : fs::directory_iterator(dir_))
      EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
  }
  fs::path Clip(const char* name) { return clips_.at(name); }
  fs::path Variant(const char* name, const std::function<void(std::vector<uint8_t>&)>& edit,
                   const char* from = "raw.avi") {
    std::vector<uint8_t> bytes = ReadAll(Clip(from));
    edit(bytes);
    const fs::path p = dir_ / (std::string("src-") + name + ".avi");
    WriteAll(p, bytes);
    return p;
  }

  static inline fs::path dir_;
  static inline bool tools_ = false;
  static inline std::map<std::string, fs::path> clips_;
  fs::path out_;
};

TEST_F(AviSaveTest, FinishedCapturesAreCopiedToTheirRiffLength) {
  for (const char* name : {"raw.avi", "jpeg.avi", "prealloc.avi"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> source = ReadAll(Clip(name));
    ASSERT_GT(source.size(), 12u);
    const uint64_t riffLength = 8 + uint64_t(Le32(source.data() + 4));
    ASSERT_LE(riffLength, source.size());
    uint64_t done = 0, total = 0;
    SaveOptions options;
    options.progress = [&](uint64_t d, uint64_t t) {
      EXPECT_GT(d, done);
      done = d, total = t;
    };
    const SaveResult r = SaveAviCopy(Clip(name), out_, options);
    ASSERT_TRUE(r.Ok()) << r.detail;
    EXPECT_FALSE(r.rescued);
    EXPECT_EQ(done, riffLength);
    EXPECT_EQ(total, riffLength);
    EXPECT_EQ(r.frames, uint32_t(kClipFrames));
    EXPECT_EQ(r.bytes, riffLength);
    EXPECT_EQ(ReadAll(out_), std::vector<uint8_t>(source.begin(), source.begin() + long(riffLength)));
    EXPECT_EQ(ProbedFrames(out_), kClipFrames);
  }
  // The pre-allocated capture kept its size; only zeros follow its AVI.
  const std::vector<uint8_t> pre = ReadAll(Clip("prealloc.avi"));
  EXPECT_EQ(pre.size(), size_t(4 << 20));
  EXPECT_EQ(ReadAll(Clip("raw.avi")).size(), 8 + uint64_t(Le32(pre.data() + 4)));
  ExpectNoLeftovers();
}

struct CutCase {
  const char* name;
  const char* clip;
  // Edits the finished clip; `pos` are the data offsets of its frames. Answers the number of
  // whole frames left.
  std::function<int(std::vector<uint8_t>&, const std::vector<uint64_t>& pos)> cut;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class AviRescueTest : public AviSaveTest, public testing::WithParamInterface<CutCase> {};

// The index starts right after the last frame's data (and its pad byte).
size_t IndexStart(const std::vector<uint8_t>& b, const std::vector<uint64_t>& pos) {
  const uint32_t last = Le32(b.data() + pos.back() - 4);
  return size_t(pos.back() + last + (last & 1));
}

const CutCase kCuts[] = {
    {"RawWithoutIndex", "raw.avi",
     [](auto& b, const auto& pos) {
       b.resize(IndexStart(b, pos));
       return kClipFrames;
     }},
    {"JpegCutInAFrame", "jpeg.avi",
     [](auto& b, const auto& pos) {
       b.resize(pos[13] + 100);
       return 13;
     }},
    {"JpegRiffSizeZero", "jpeg.avi",
     [](auto& b, const auto&) {
       PutLe32(b.data() + 4, 0);
       return kClipFrames;
     }},
    // As the muxer leaves a capture it never finished in a pre-allocated file: sizes only
    // covering the header, zero counts, no index, then the reserved space.
    {"RawKilledInReservedSpace", "raw.avi",
     [](auto& b, const auto& pos) {
       const size_t movi = pos[0] - 8 - 12;
       b.resize(IndexStart(b, pos));
       PutLe32(b.data() + 4, uint32_t(movi + 12 - 8));
       PutLe32(b.data() + movi + 4, 4);
       PutLe32(b.data() + 48, 0);  // avih dwTotalFrames
       b.resize(b.size() + (1 << 20), 0);
       return kClipFrames;
     }},
};

TEST_P(AviRescueTest, RescuesEveryWholeFrame) {
  const fs::path clip = Clip(GetParam().clip);
  const std::vector<uint64_t> pos = PacketPositions(clip);
  ASSERT_EQ(pos.size(), size_t(kClipFrames));
  int expected = 0;
  const fs::path source = Variant(GetParam().name, [&](auto& b) { expected = GetParam().cut(b, pos); },
                                  GetParam().clip);

  const SaveResult r = SaveAviCopy(source, out_);
  ASSERT_TRUE(r.Ok()) << r.detail;
  EXPECT_TRUE(r.rescued);
  EXPECT_EQ(r.frames, uint32_t(expected)) << r.detail;
  EXPECT_EQ(r.bytes, fs::file_size(out_));
  // ffmpeg decodes exactly the frames kept, with the pixels they had.
  std::vector<std::string> want = FrameMd5s(clip);
  want.resize(size_t(expected));
  EXPECT_EQ(FrameMd5s(out_), want);
}

INSTANTIATE_TEST_SUITE_P(Cuts, AviRescueTest, testing::ValuesIn(kCuts),
                         [](const auto& info) { return std::string(info.param.name); });

// A rescue past the RIFF limit is written as OpenDML; ffmpeg reads it whole, and the
// finished result, with reserved space after it, is then copied as it is.
TEST_F(AviSaveTest, LargeRescueWritesExtensionRiffs) {
  const std::vector<uint64_t> pos = PacketPositions(Clip("raw.avi"));
  const fs::path source = Variant("noindex", [&](auto& b) { b.resize(IndexStart(b, pos)); });
  SaveOptions options;
  options.riffLimit = 200 << 10;
  const SaveResult r = SaveAviCopy(source, out_, options);
  ASSERT_TRUE(r.Ok()) << r.detail;
  const std::vector<uint8_t> rescued = ReadAll(out_);
  const AviInfo info = ReadAviInfo(MemorySource(rescued));
  ASSERT_TRUE(info.finished) << info.problem;
  EXPECT_GE(info.riffs.size(), 4u);
  EXPECT_EQ(ProbedFrames(out_), kClipFrames);
  EXPECT_EQ(FrameMd5s(out_), FrameMd5s(Clip("raw.avi")));

  std::vector<uint8_t> padded = rescued;
  padded.resize(padded.size() + 100000, 0);
  WriteAll(dir_ / "opendml-reserved.avi", padded);
  const fs::path copy = dir_ / "opendml-copy.avi";
  const SaveResult c = SaveAviCopy(dir_ / "opendml-reserved.avi", copy);
  ASSERT_TRUE(c.Ok()) << c.detail;
  EXPECT_FALSE(c.rescued);
  EXPECT_EQ(ReadAll(copy), rescued);
}

// The muxer killed mid-capture while writing into a pre-allocated file: every frame whose
// bytes reached the file comes back.
TEST_F(AviSaveTest, RescuesACaptureKilledMidWay) {
  const fs::path file = dir_ / "killed.avi";
  { std::ofstream(file).put('\0'); }
  fs::resize_file(file, 8 << 20);
  const uint64_t first = PacketPositions(Clip("raw.avi")).at(0) - 8;
  const uint64_t chunk = 8 + kRawFrameBytes;
  const pid_t pid = Spawn(std::string("exec gst-launch-1.0 -q videotestsrc is-live=true pattern=ball ! ") + kCaps +
                          " ! avimux ! fdsink fd=3 3<>'" + file.string() + "'");
  ASSERT_GT(pid, 0);
  // Wait for the 12th frame's header to reach the file, then kill without warning.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  bool written = false;
  for (int i = 0; i < 500 && !written; ++i) {
    uint8_t id[4] = {};
    written = ::pread(fd, id, 4, off_t(first + 11 * chunk)) == 4 && Le32(id) == FourCC("00db");
    if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(fd);
  ASSERT_TRUE(written) << "the capture did not start";

  // Count the whole frames the way the format lays them out: fixed-size raw chunks.
  const std::vector<uint8_t> bytes = ReadAll(file);
  int whole = 0;
  for (uint64_t at = first; at + chunk <= bytes.size() && Le32(bytes.data() + at) == FourCC("00db") &&
                            Le32(bytes.data() + at + 4) == kRawFrameBytes;
       at += chunk)
    ++whole;
  ASSERT_GE(whole, 12);

  const SaveResult r = SaveAviCopy(file, out_);
  ASSERT_TRUE(r.Ok()) << r.detail;
  EXPECT_TRUE(r.rescued);
  EXPECT_EQ(r.frames, uint32_t(whole));
  EXPECT_EQ(ProbedFrames(out_), whole);
  EXPECT_EQ(fs::file_size(file), size_t(8 << 20));  // the capture file is left alone
}

TEST_F(AviSaveTest, AbortLeavesNoFileAndKeepsTheOldTarget) {
  const std::vector<uint64_t> pos = PacketPositions(Clip("raw.avi"));
  const fs::path unfinished = Variant("abort", [&](auto& b) { b.resize(IndexStart(b, pos)); });
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  for (const fs::path& source : {Clip("raw.avi"), unfinished}) {
    SCOPED_TRACE(source.string());
    WriteAll(out_, old);
    std::atomic<bool> abort = false;
    SaveOptions options;
    int calls = 0;
    options.abort = &abort;
    options.progress = [&](uint64_t done, uint64_t total) {
      EXPECT_LT(done, total);  // stopped before the last block
      ++calls;
      abort = true;
    };
    const SaveResult r = SaveAviCopy(source, out_, options);
    EXPECT_EQ(r.error, SaveError::kAborted);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ReadAll(out_), old);
    ExpectNoLeftovers();
  }
}

// A full disk, simulated with a file size limit: the copy fails, and leaves nothing.
TEST_F(AviSaveTest, WriteFailureLeavesNoFile) {
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 200000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const SaveResult r = SaveAviCopy(Clip("raw.avi"), out_);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.error, SaveError::kWriteFailed);
  EXPECT_EQ(r.sysError, EFBIG);
  EXPECT_FALSE(fs::exists(out_));
  ExpectNoLeftovers();
}

TEST_F(AviSaveTest, RefusesWhatCannotBeSaved) {
  const std::vector<uint64_t> pos = PacketPositions(Clip("raw.avi"));
  struct Case {
    fs::path from, to;
    SaveError error;
  };
  const Case cases[] = {
      {Clip("raw.avi"), Clip("raw.avi"), SaveError::kSameFile},
      {dir_ / "missing.avi", out_, SaveError::kOpenSource},
      {dir_, out_, SaveError::kOpenSource},
      {"", out_, SaveError::kInvalidArgument},
      {Variant("wave", [](auto& b) { std::copy_n("WAVE", 4, b.begin() + 8); }), out_, SaveError::kNotAvi},
      {Variant("noframe", [&](auto& b) { b.resize(pos[0] + 100); }), out_, SaveError::kNoFrames},
      {Variant("nostrf", [&](auto& b) { std::copy_n("xxxx", 4, b.begin() + 164); b.resize(pos[3]); }), out_,
       SaveError::kDamagedHeader},
      {Clip("raw.avi"), dir_ / "no-such-folder" / "x.avi", SaveError::kCreateTarget},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from.string());
    EXPECT_EQ(SaveAviCopy(c.from, c.to).error, c.error);
    EXPECT_FALSE(fs::exists(out_));
  }
  EXPECT_EQ(ProbedFrames(Clip("raw.avi")), kClipFrames);  // refusing to copy onto it kept it
  ExpectNoLeftovers();
}

// Copying over a file as an ordinary user. A read-only copy is refused before anything is
// read; a link's file receives the copy; a copy in a read-only folder is written in place,
// also after an abort keeping the old one; a full disk fails beside the file and in place.
// The old file stays whole or is replaced whole, keeps its mode, and nothing is left.
TEST_F(AviSaveTest, ReplacesOnlyWhatTheUserMayWriteAndLosesNothing) {
  const ObeyFilePermissions asUser;  // root too
  ASSERT_TRUE(asUser.ok());
  SmallVolume volume(512 * 1024);  // less than the clip
  if (!volume.ok()) GTEST_SKIP() << "no small volume to fill: " << volume.why();
  const fs::path home = dir_ / "as-user";
  fs::create_directories(home / "ro");
  fs::create_directories(fs::path(volume.path()) / "ro");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  const auto put = [&](const fs::path& p, mode_t mode) {
    WriteAll(p, old);
    ::chmod(p.c_str(), mode);
  };
  put(home / "ro.avi", 0444);
  put(home / "target.avi", 0640);
  fs::create_symlink("target.avi", home / "link.avi");
  put(home / "ro" / "in.avi", 0664);
  put(fs::path(volume.path()) / "full.avi", 0640);
  put(fs::path(volume.path()) / "ro" / "full.avi", 0640);
  for (const fs::path& folder : {home / "ro", fs::path(volume.path()) / "ro"}) ::chmod(folder.c_str(), 0555);
  struct Case {
    fs::path to, written;
    bool abort;
    SaveError error;
    int sysError;
    mode_t mode;
  };
  const Case cases[] = {
      {home / "ro.avi", home / "ro.avi", false, SaveError::kCreateTarget, EACCES, 0444},
      {home / "link.avi", home / "target.avi", false, SaveError::kNone, 0, 0640},
      {home / "ro" / "in.avi", home / "ro" / "in.avi", true, SaveError::kAborted, 0, 0664},
      {home / "ro" / "in.avi", home / "ro" / "in.avi", false, SaveError::kNone, 0, 0664},
      {fs::path(volume.path()) / "full.avi", fs::path(volume.path()) / "full.avi", false,
       SaveError::kWriteFailed, ENOSPC, 0640},
      {fs::path(volume.path()) / "ro" / "full.avi", fs::path(volume.path()) / "ro" / "full.avi", false,
       SaveError::kWriteFailed, ENOSPC, 0640},
  };
  const auto names = [&] {
    std::set<fs::path> all;
    for (const fs::path& root : {home, fs::path(volume.path())})
      for (const auto& e : fs::recursive_directory_iterator(root)) all.insert(e.path());
    return all;
  };
  const std::set<fs::path> before = names();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to.string() + (c.abort ? " aborted" : ""));
    std::atomic<bool> abort = false;
    SaveOptions options;
    options.abort = &abort;
    options.progress = [&](uint64_t, uint64_t) { abort = c.abort; };
    const SaveResult r = SaveAviCopy(Clip("raw.avi"), c.to, options);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.sysError, c.sysError);
    if (c.error == SaveError::kNone)
      EXPECT_EQ(ProbedFrames(c.written), kClipFrames);
    else
      EXPECT_EQ(ReadAll(c.written), old);
    struct stat st {};
    ASSERT_EQ(::stat(c.written.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_TRUE(fs::is_symlink(home / "link.avi"));
    EXPECT_EQ(names(), before) << "nothing left beside it";
  }
  for (const fs::path& folder : {home / "ro", fs::path(volume.path()) / "ro"}) ::chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace avi
