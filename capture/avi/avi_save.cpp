#include "capture/avi/avi_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace avi {
namespace {

// The temporary copy: created beside the target (so the final rename stays on one file
// system) and removed unless Commit succeeds.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target) {}
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Create() {
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".%ld.%lx.%u.part", long(::getpid()),
                    static_cast<unsigned long>(std::time(nullptr)), attempt);
      const std::string path = dir + "." + base + suffix;
      // 0666 and the umask: the copy gets the permissions of any new file of the user.
      fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = path;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int Fd() const { return fd_; }

  bool Commit() {
    if (::fdatasync(fd_) != 0) return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    if (::rename(path_.c_str(), target_.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
};

class FileSink final : public ByteSink {
 public:
  FileSink(int fd, uint64_t total, const SaveOptions& options)
      : fd_(fd), total_(total), options_(options) {}

  bool Write(std::span<const uint8_t> bytes) override {
    if (options_.abort && options_.abort->load()) {
      aborted_ = true;
      return false;
    }
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : ENOSPC;
        return false;
      }
      done += size_t(n);
    }
    written_ += bytes.size();
    if (options_.progress) options_.progress(written_, total_);
    return true;
  }
  bool Aborted() const { return aborted_; }
  int Error() const { return error_; }
  uint64_t Written() const { return written_; }

 private:
  int fd_;
  uint64_t total_;
  const SaveOptions& options_;
  uint64_t written_ = 0;
  bool aborted_ = false;
  int error_ = 0;
};

SaveResult Fail(SaveError error, int sysError, std::string detail) {
  SaveResult r;
  r.error = error;
  r.sysError = sysError;
  r.detail = std::move(detail);
  return r;
}

uint32_t HeaderFrames(const AviInfo& info) {
  return info.hasOdml && info.odmlFrames > 0 ? info.odmlFrames : info.TotalFrames();
}

}  // namespace

SaveResult SaveAviCopy(const std::string& from, const std::string& to, const SaveOptions& options) {
  if (from.empty() || to.empty()) return Fail(SaveError::kInvalidArgument, EINVAL, "empty path");
  int err = 0;
  const std::unique_ptr<FileSource> src = FileSource::Open(from, &err);
  if (!src) return Fail(SaveError::kOpenSource, err, "cannot open " + from);
  struct stat in {}, out {};
  if (::fstat(src->Fd(), &in) == 0 && ::stat(to.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino)
    return Fail(SaveError::kSameFile, 0, "the copy would replace the capture file");

  const AviInfo info = ReadAviInfo(*src);
  if (!info.isAvi) return Fail(SaveError::kNotAvi, 0, info.problem);

  SaveResult result;
  RebuildPlan plan;
  uint64_t total = info.riffLength;
  if (!info.finished) {
    if (!info.headerValid) return Fail(SaveError::kDamagedHeader, 0, info.problem);
    std::function<bool()> aborted;
    if (options.abort) aborted = [&] { return options.abort->load(); };
    MoviScan scan = ScanMovi(*src, info, aborted);
    if (scan.aborted) return Fail(SaveError::kAborted, 0, "aborted while scanning");
    if (scan.chunks.empty()) return Fail(SaveError::kNoFrames, 0, info.problem + "; " + scan.stop);
    plan = PlanRebuild(info, std::move(scan.chunks), options.riffLimit);
    total = plan.totalBytes;
    result.rescued = true;
    result.frames = plan.videoFrames;
    result.detail = info.problem + "; frames end at " + std::to_string(scan.end) + " (" + scan.stop + ")";
  } else {
    result.frames = HeaderFrames(info);
  }

  TempFile temp(to);
  if (!temp.Create()) return Fail(SaveError::kCreateTarget, errno, "cannot create a file beside " + to);
  FileSink sink(temp.Fd(), total, options);
  const RebuildEnd end = info.finished ? CopyPrefix(*src, total, sink) : WriteRebuilt(plan, *src, sink);
  if (sink.Aborted()) return Fail(SaveError::kAborted, 0, "aborted while writing");
  if (end == RebuildEnd::kSourceShort) return Fail(SaveError::kReadFailed, EIO, "the capture file changed while copying");
  if (end != RebuildEnd::kDone) return Fail(SaveError::kWriteFailed, sink.Error(), "writing the copy failed");
  if (!temp.Commit()) return Fail(SaveError::kWriteFailed, errno, "finishing the copy failed");
  result.bytes = sink.Written();
  return result;
}

}  // namespace avi
