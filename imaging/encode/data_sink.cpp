#include "imaging/encode/data_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "imaging/core/text_exception.h"
#include "imaging/encode/pic_encoder.h"

CDataSink::~CDataSink() {
  if (buffer_ != nullptr) CDataSink::Close();
}

void CDataSink::Open(const char* name, uint8_t* buffer, size_t capacity) {
  capacity_ = capacity;
  name_ = name != nullptr ? name : "";
  buffer_ = buffer;
  position_ = 0;
}

void CDataSink::Close() {
  name_.clear();
  buffer_ = nullptr;
  position_ = 0;
}

void CDataSink::SetPosition(size_t position) {
  position_ = position <= capacity_ ? position : capacity_;
}

void CDataSink::RaiseOverflow() {
  throw CTextException(textexception::kEndOfData, "Buffer overflow while encoding.\n");
}

namespace {

// "dir/name" -> "dir/.name.XXXXXX": hidden, in the same directory (so rename is atomic on
// the same file system) and unique per attempt.
int CreateTempBeside(const std::string& target, std::string& tempPath, mode_t mode) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(getpid()), counter++);
    tempPath = dir + "." + base + suffix;
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  tempPath.clear();
  return -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, data, count);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    count -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

CFileSink::~CFileSink() {
  if (fd_ >= 0) Discard();
}

int CFileSink::OpenFile(const char* path, size_t capacity) {
  if (path == nullptr || *path == '\0') return -1;
  // A replaced file keeps its permissions; a new one gets what creating it would give.
  mode_t mode = 0666;
  struct stat existing;
  if (::stat(path, &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) return -1;
    mode = existing.st_mode & 07777;
  }
  fd_ = CreateTempBeside(path, tempPath_, mode);
  if (fd_ < 0) return -1;
  if (mode != 0666) ::fchmod(fd_, mode);
  ownedBuffer_ = static_cast<uint8_t*>(std::malloc(capacity != 0 ? capacity : 1));
  if (ownedBuffer_ == nullptr) {
    Discard();
    return -1;
  }
  Open(path, ownedBuffer_, capacity);
  return 0;
}

void CFileSink::Close() {
  if (fd_ < 0) {
    CDataSink::Close();
    return;
  }
  const std::string target = GetName();
  bool ok = WriteAll(fd_, GetBuffer(), GetPosition());
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok) ok = ::rename(tempPath_.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempPath_.c_str());
  }
  tempPath_.clear();
  std::free(ownedBuffer_);
  ownedBuffer_ = nullptr;
  CDataSink::Close();
  if (!ok) {
    const std::string text = "Writing " + target + " failed";
    RaiseEncoderError(textexception::kOpenOutputFailed, text.c_str());
  }
}

void CFileSink::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
  std::free(ownedBuffer_);
  ownedBuffer_ = nullptr;
  CDataSink::Close();
}
