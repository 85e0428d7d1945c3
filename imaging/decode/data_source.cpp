#include "imaging/decode/data_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "imaging/core/text_exception.h"

namespace {

constexpr const char* kEndOfFile = "End of file reached while decoding.\n";

// Code for a failed open(): a missing folder on the way is "path not found", a missing file
// in an existing folder "file not found".
int OpenErrorCode(int error, const char* path) {
  switch (error) {
    case EACCES:
    case EPERM:
    case ETXTBSY:
      return textexception::kAccessDenied;
    case ENOTDIR:
    case ENAMETOOLONG:
      return textexception::kPathNotFound;
    case ENOENT: {
      std::string dir(path);
      size_t slash = dir.find_last_of('/');
      if (slash == std::string::npos) return textexception::kFileNotFound;
      dir.resize(slash == 0 ? 1 : slash);
      struct stat st{};
      if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return textexception::kPathNotFound;
      }
      return textexception::kFileNotFound;
    }
    default:
      return textexception::kFileNotFound;
  }
}

}  // namespace

bool ByteCursor::Read(std::span<uint8_t> out) {
  if (out.size() > left_) {
    std::memset(out.data(), 0, out.size());
    Dry();
    return false;
  }
  std::memcpy(out.data(), p_, out.size());
  p_ += out.size();
  left_ -= out.size();
  return true;
}

void CDataSource::Open(const char* name, int32_t size) {
  size_t len = std::strlen(name);
  name_ = std::make_unique<char[]>(len + 1);
  std::memcpy(name_.get(), name, len + 1);
  size_ = size < 0 ? 0 : size;
  consumed_ = 0;
}

void CDataSource::Close() {
  if (progress_ != nullptr) progress_->OnProgress(1.0);
  name_.reset();
  // Nothing is left to read once the bytes are gone (a file source unmaps them).
  size_ = consumed_ = 0;
}

const uint8_t* CDataSource::TakeBytes(int32_t n) {
  // 64-bit sum: a huge n from a corrupt length must not wrap around.
  int64_t wanted = int64_t(consumed_) + int64_t(n);
  if (n < 0 || wanted > size_) {
    throw CTextException(textexception::kEndOfData, kEndOfFile);
  }
  int32_t old = consumed_;
  consumed_ = static_cast<int32_t>(wanted);
  if (progress_ != nullptr && size_ > 0 && consumed_ / 1024 > old / 1024) {
    progress_->OnProgress(double(consumed_) / double(size_));
  }
  return nullptr;
}

std::span<const uint8_t> CDataSource::Peek(size_t n) {
  size_t avail = n < BytesLeft() ? n : BytesLeft();
  return {PeekBytes(static_cast<int32_t>(avail)), avail};
}

std::span<const uint8_t> CDataSource::Take(size_t n) {
  if (n > BytesLeft()) throw CTextException(textexception::kEndOfData, kEndOfFile);
  return {TakeBytes(static_cast<int32_t>(n)), n};
}

// --- CFileSource ---

CFileSource::~CFileSource() {
  Unmap();
  if (fd_ >= 0) ::close(fd_);
}

void CFileSource::Unmap() {
  if (start_ != nullptr) ::munmap(const_cast<uint8_t*>(start_), mappedSize_);
  start_ = current_ = nullptr;
  mappedSize_ = 0;
}

int CFileSource::OpenFile(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return OpenErrorCode(errno, path);
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return textexception::kAccessDenied;
  }
  if (st.st_size <= 0 || st.st_size > INT32_MAX) {
    ::close(fd);
    return textexception::kEmptyFile;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  // Decoders read every byte front to back: map it all in one go rather than page by page.
  void* view = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ,
                      MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (view == MAP_FAILED) {
    ::close(fd);
    return textexception::kAccessDenied;
  }
  fd_ = fd;
  start_ = current_ = static_cast<const uint8_t*>(view);
  mappedSize_ = static_cast<size_t>(st.st_size);
  Open(path, static_cast<int32_t>(st.st_size));
  return 0;
}

void CFileSource::Close() {
  Unmap();
  CDataSource::Close();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

const uint8_t* CFileSource::PeekBytes(int32_t) { return current_; }

const uint8_t* CFileSource::TakeBytes(int32_t n) {
  CDataSource::TakeBytes(n);  // throws before anything is handed out
  const uint8_t* p = current_;
  current_ += n;
  return p;
}

const uint8_t* CFileSource::TakeRest() { return current_; }

// --- CMemSource ---

CMemSource::CMemSource(const char* name, std::span<const uint8_t> bytes,
                       CProgressNotification* progress)
    : CDataSource(progress), start_(bytes.data()), current_(bytes.data()) {
  size_t size = bytes.size() > size_t(INT32_MAX) ? size_t(INT32_MAX) : bytes.size();
  Open(name, static_cast<int32_t>(size));
}

const uint8_t* CMemSource::PeekBytes(int32_t) { return current_; }

const uint8_t* CMemSource::TakeBytes(int32_t n) {
  CDataSource::TakeBytes(n);
  const uint8_t* p = current_;
  current_ += n;
  return p;
}

const uint8_t* CMemSource::TakeRest() { return current_; }
