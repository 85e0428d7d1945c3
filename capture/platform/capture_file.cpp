#include "capture/platform/capture_file.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace media {
namespace {

Status StatusFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    case ENOENT:
    case ENOTDIR: return status::kFileNotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return status::kDiskFull;
    case ENOMEM: return status::kOutOfMemory;
    default: return status::kFail;
  }
}

// A file descriptor closed on every path.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

}  // namespace

Status AllocateCaptureFile(const std::string& path, uint64_t bytes) {
  if (path.empty()) return status::kInvalidArg;
  // No O_TRUNC: an existing capture keeps its bytes; the reservation only grows the file.
  Fd f(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  if (f.fd < 0) return StatusFromErrno(errno);
  if (bytes > 0) {
    if (bytes > uint64_t(INT64_MAX)) return status::kInvalidArg;
    const int err = ::posix_fallocate(f.fd, 0, off_t(bytes));
    if (err != 0) return StatusFromErrno(err);
  }
  if (::close(f.fd) != 0) {
    f.fd = -1;
    return StatusFromErrno(errno);
  }
  f.fd = -1;
  return status::kOk;
}

std::optional<uint64_t> AviRealLength(
    uint64_t fileSize, const std::function<size_t(uint64_t, std::span<uint8_t>)>& readAt) {
  class Source final : public avi::ByteSource {
   public:
    Source(uint64_t size, const std::function<size_t(uint64_t, std::span<uint8_t>)>& read)
        : size_(size), read_(read) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, std::span<uint8_t> out) const override {
      return offset <= size_ && out.size() <= size_ - offset && read_(offset, out) == out.size();
    }

   private:
    uint64_t size_;
    const std::function<size_t(uint64_t, std::span<uint8_t>)>& read_;
  };
  return AviRealLength(Source(fileSize, readAt));
}

namespace {

// The consecutive top-level RIFF chunks, each 8 bytes of header plus its even-padded size;
// one cut short by a full disk counts up to the end of the file.
uint64_t RiffChainLength(const avi::ByteSource& src) {
  const uint64_t fileSize = src.Size();
  uint64_t offset = 0;
  for (bool first = true; offset + 12 <= fileSize; first = false) {
    uint8_t head[12];
    if (!src.ReadAt(offset, head) || avi::Le32(head) != avi::FourCC("RIFF") ||
        avi::Le32(head + 8) != (first ? avi::FourCC("AVI ") : avi::FourCC("AVIX")))
      break;
    const uint32_t size = avi::Le32(head + 4);
    offset = std::min(fileSize, offset + 8 + size + (size & 1));
  }
  return offset;
}

}  // namespace

std::optional<uint64_t> AviRealLength(const avi::ByteSource& src) {
  const avi::AviInfo info = avi::ReadAviInfo(src);
  if (!info.isAvi) return std::nullopt;
  const uint64_t chain = RiffChainLength(src);
  if (info.finished || info.firstChunk == 0) return chain;
  // Unfinished: its RIFF size is a placeholder (0, or the header alone). The frames end
  // where the walk over its whole chunks ends; a chunk cut short by the end of the file
  // keeps the file whole.
  const avi::MoviScan scan = avi::ScanMovi(src, info, nullptr);
  const uint64_t walked = scan.stop.rfind("chunk ", 0) == 0 ? src.Size() : scan.end;
  return std::max(chain, walked);
}

std::optional<uint64_t> AviRealLengthOfFile(const std::string& path) {
  int err = 0;
  const std::unique_ptr<avi::FileSource> src = avi::FileSource::Open(path, &err);
  if (!src) return std::nullopt;
  return AviRealLength(*src);
}

Status ClearCaptureFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return StatusFromErrno(errno);
  const off_t size = st.st_size;
  if (size == 0) return status::kOk;
  // Zeroing the range keeps its blocks; where that is not offered, punching them out and
  // reserving them again writes nothing either.
  if (::fallocate(fd, FALLOC_FL_ZERO_RANGE, 0, size) == 0) return status::kOk;
  if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, size) == 0) {
    ::fallocate(fd, 0, 0, size);  // the reservation only saves time; a failure loses nothing
    return status::kOk;
  }
  // A file system without either: cut the file and grow it again, keeping the reservation
  // where the file system can make one without writing it.
  if (::ftruncate(fd, 0) != 0) return StatusFromErrno(errno);
  if (::fallocate(fd, 0, 0, size) != 0 && ::ftruncate(fd, size) != 0) return StatusFromErrno(errno);
  return status::kOk;
}

PeriodicFlush::PeriodicFlush(int fd, std::chrono::milliseconds interval)
    : fd_(fd), thread_([this, interval] {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
          lock.unlock();
          ::fdatasync(fd_);  // a failing disk fails the writer's own writes as well
          lock.lock();
        }
      }) {}

PeriodicFlush::~PeriodicFlush() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

namespace {

thread_local const CopyObserver* t_copyObserver = nullptr;

Status StatusFromSave(const avi::SaveResult& r) {
  switch (r.error) {
    case avi::SaveError::kNone: return status::kOk;
    case avi::SaveError::kAborted: return status::kFalse;
    case avi::SaveError::kInvalidArgument:
    case avi::SaveError::kSameFile: return status::kInvalidArg;
    default: return r.sysError != 0 ? StatusFromErrno(r.sysError) : status::kFail;
  }
}

}  // namespace

ScopedCopyObserver::ScopedCopyObserver(const CopyObserver* observer) : previous_(t_copyObserver) {
  t_copyObserver = observer;
}

ScopedCopyObserver::~ScopedCopyObserver() { t_copyObserver = previous_; }

Status CopyCaptureFile(const std::string& from, const std::string& to,
                       const std::function<bool()>& abort) {
  if (from.empty() || to.empty()) return status::kInvalidArg;
  // The AVI copy watches an atomic flag; the caller's question is asked before it starts and
  // after every block it writes, and a yes raises the flag.
  std::atomic<bool> stop{abort && abort()};
  if (stop) return status::kFalse;
  const CopyObserver* observer = t_copyObserver;
  avi::SaveOptions options;
  options.abort = &stop;
  options.progress = [&](uint64_t done, uint64_t total) {
    if (observer && observer->progress) observer->progress(done, total);
    if (abort && abort()) stop = true;
  };
  // A file that is no AVI, or whose header is too damaged to rebuild, fails here: a copy
  // that would not play is never saved, and the target stays as it was.
  const avi::SaveResult r = avi::SaveAviCopy(from, to, options);
  if (observer && observer->finished) observer->finished(r);
  return StatusFromSave(r);
}

Status TrimCaptureFile(const std::string& path, uint64_t bytes) {
  if (path.empty() || bytes > uint64_t(INT64_MAX)) return status::kInvalidArg;
  Fd f(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (f.fd < 0) return StatusFromErrno(errno);
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return StatusFromErrno(errno);
  if (uint64_t(st.st_size) <= bytes) return status::kOk;
  // A capture recorded in the file stays whole; only reserved space behind it goes. An AVI
  // whose frames cannot be walked (its header list damaged) is not cut at all.
  int err = 0;
  const std::unique_ptr<avi::FileSource> src = avi::FileSource::Open(path, &err);
  if (!src) return StatusFromErrno(err);
  const avi::AviInfo info = avi::ReadAviInfo(*src);
  if (info.isAvi && !info.finished && info.firstChunk == 0) return kRecordingEndUnknown;
  const uint64_t keep = std::max(bytes, AviRealLength(*src).value_or(0));
  if (keep < uint64_t(st.st_size) && ::ftruncate(f.fd, off_t(keep)) != 0)
    return StatusFromErrno(errno);
  const int fd = f.fd;
  f.fd = -1;
  return ::close(fd) == 0 ? status::kOk : StatusFromErrno(errno);
}

}  // namespace media
