#include "capture/platform/capture_file.h"

#include <fcntl.h>
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

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

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
  uint64_t offset = 0;
  bool first = true;
  while (offset + 12 <= fileSize) {
    uint8_t head[12];
    if (readAt(offset, head) != sizeof head) break;
    if (std::memcmp(head, "RIFF", 4) != 0) break;
    const bool avi = std::memcmp(head + 8, "AVI ", 4) == 0;
    const bool avix = std::memcmp(head + 8, "AVIX", 4) == 0;
    if (first ? !avi : !avix) break;
    const uint64_t size = Le32(head + 4);
    uint64_t next = offset + 8 + size + (size & 1);
    first = false;
    if (next > fileSize) {  // a chunk cut short by a full disk: keep what exists
      offset = fileSize;
      break;
    }
    offset = next;
  }
  if (first) return std::nullopt;
  return offset;
}

std::optional<uint64_t> AviRealLengthOfFile(const std::string& path) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return std::nullopt;
  return AviRealLength(uint64_t(st.st_size), [&](uint64_t at, std::span<uint8_t> out) -> size_t {
    const ssize_t n = ::pread(f.fd, out.data(), out.size(), off_t(at));
    return n < 0 ? 0 : size_t(n);
  });
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

// The byte copy for files the AVI reader cannot make sense of: what the user picked as the
// capture file is kept as it is, up to its RIFF chain when it has one.
Status CopyPlainFile(const std::string& from, const std::string& to,
                     const std::function<bool()>& abort) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return StatusFromErrno(errno);
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) return StatusFromErrno(errno);
  const uint64_t length = AviRealLengthOfFile(from).value_or(uint64_t(st.st_size));
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.fd < 0) return StatusFromErrno(errno);

  std::vector<uint8_t> block(1 << 20);
  uint64_t done = 0;
  Status result = status::kOk;
  while (done < length && result == status::kOk) {
    if (abort && abort()) {
      result = status::kFalse;
      break;
    }
    const size_t want = size_t(std::min<uint64_t>(block.size(), length - done));
    const ssize_t n = ::pread(in.fd, block.data(), want, off_t(done));
    if (n <= 0) {
      result = n < 0 ? StatusFromErrno(errno) : status::kFail;
      break;
    }
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(out.fd, block.data() + written, size_t(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        result = w < 0 ? StatusFromErrno(errno) : status::kDiskFull;
        break;
      }
      written += w;
    }
    done += uint64_t(n);
    if (t_copyObserver && t_copyObserver->progress) t_copyObserver->progress(done, length);
  }
  const int fd = out.fd;
  out.fd = -1;
  if (::close(fd) != 0 && result == status::kOk) result = StatusFromErrno(errno);
  // A half-written copy is worse than none: it would look like a capture.
  if (result != status::kOk) ::unlink(to.c_str());
  return result;
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
  const avi::SaveResult r = avi::SaveAviCopy(from, to, options);
  if (r.error == avi::SaveError::kNotAvi || r.error == avi::SaveError::kDamagedHeader) {
    const Status s = CopyPlainFile(from, to, [&] { return stop || (abort && abort()); });
    if (observer && observer->finished) {
      avi::SaveResult plain;
      if (s == status::kFalse) plain.error = avi::SaveError::kAborted;
      else if (Failed(s)) plain.error = avi::SaveError::kWriteFailed;
      observer->finished(plain);
    }
    return s;
  }
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
  // A capture recorded in the file stays whole; only reserved space behind it goes.
  const uint64_t keep = std::max(bytes, AviRealLengthOfFile(path).value_or(0));
  if (keep < uint64_t(st.st_size) && ::ftruncate(f.fd, off_t(keep)) != 0)
    return StatusFromErrno(errno);
  const int fd = f.fd;
  f.fd = -1;
  return ::close(fd) == 0 ? status::kOk : StatusFromErrno(errno);
}

}  // namespace media
