#include "imaging/core/file_replacement.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on links in one lookup

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows the links that `path` leads through to the file they name. `exists` tells whether
// that file is there; a link to a missing file names the file to create.
int ResolveLinks(const std::string& path, std::string& target, bool& exists) {
  std::string p = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      target = p;
      exists = false;
      return 0;
    }
    if (!S_ISLNK(st.st_mode)) {
      target = p;
      exists = true;
      if (S_ISDIR(st.st_mode)) return EISDIR;
      return S_ISREG(st.st_mode) ? 0 : EINVAL;
    }
    std::vector<char> link(PATH_MAX);
    const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n < 0) return errno;
    if (size_t(n) >= link.size()) return ENAMETOOLONG;
    const std::string next(link.data(), size_t(n));
    p = next.front() == '/' || p.find('/') == std::string::npos ? next : FolderOf(p) + '/' + next;
  }
  return ELOOP;
}

int WriteFully(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    data += n;
    count -= size_t(n);
  }
  return 0;
}

int PwriteFully(int fd, const uint8_t* data, size_t count) {
  for (off_t at = 0; count > 0;) {
    const ssize_t n = ::pwrite(fd, data, count, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    data += n;
    at += n;
    count -= size_t(n);
  }
  return 0;
}

void Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Makes the rename durable. A folder that cannot be synced (some file systems refuse) does
// not undo a replacement that has already happened.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The unnamed file that holds streamed bytes while a file is to be written in place.
int CreateSpool(int& fd) {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env != nullptr && env[0] == '/' ? env : "/tmp";
  fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return 0;
  std::string name = dir + "/.lumora-spool.XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  ::unlink(name.c_str());
  return 0;
}

}  // namespace

CFileReplacement::~CFileReplacement() { Discard(); }

int CFileReplacement::Open(const std::string& path) {
  Discard();
  if (path.empty()) return ENOENT;
  if (const int error = ResolveLinks(path, target_, exists_)) return Fail(error);
  folder_ = FolderOf(target_);
  if (exists_) {
    // Opening it for writing is the test the system applies: modes, ACLs, read-only mounts.
    targetFd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st;
    if (targetFd_ < 0 || ::fstat(targetFd_, &st) != 0) return Fail(errno);
    if (!S_ISREG(st.st_mode)) return Fail(EINVAL);
    oldMode_ = st.st_mode & 07777;
    oldOwner_ = st.st_uid;
    oldGroup_ = st.st_gid;
  }
  // An existing file's mode is given to the copy only when it is complete.
  const int error = CreateAside(exists_ ? 0600 : 0666);
  if (error == 0) {
    Close(targetFd_);
    return 0;
  }
  if (exists_ && (error == EACCES || error == EPERM)) {
    inPlace_ = true;
    return 0;
  }
  return Fail(error);
}

int CFileReplacement::CreateAside(mode_t mode) {
  // Unnamed until it is complete: nothing is left behind whatever happens meanwhile. Naming
  // it later goes through /proc.
  fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd_ >= 0 && ::access("/proc/self/fd", X_OK) == 0) return 0;
  if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  Close(fd_);
  return CreateNamedAside(mode);
}

int CFileReplacement::CreateNamedAside(mode_t mode) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", long(::getpid()), counter++);
    const std::string name = folder_ + "/." + base + suffix;
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ >= 0) {
      asideName_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int CFileReplacement::NameUnnamedAside() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = folder_ + "/." + base + "." + std::to_string(::getpid()) + "." +
                             std::to_string(attempt) + ".tmp";
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      asideName_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int CFileReplacement::Write(const void* data, size_t count) {
  if (target_.empty() || (fd_ < 0 && !inPlace_)) return EBADF;
  if (fd_ < 0) {
    if (const int error = CreateSpool(fd_)) return Fail(error);
  }
  if (const int error = WriteFully(fd_, static_cast<const uint8_t*>(data), count)) return Fail(error);
  written_ += count;
  return 0;
}

int CFileReplacement::Commit() {
  if (!inPlace_) return fd_ >= 0 ? CommitAside() : EBADF;
  if (written_ == 0) return CommitInPlace(nullptr, 0);
  void* spool = ::mmap(nullptr, written_, PROT_READ, MAP_SHARED, fd_, 0);
  if (spool == MAP_FAILED) return Fail(errno);
  const int error = CommitInPlace(static_cast<const uint8_t*>(spool), written_);
  ::munmap(spool, written_);
  return error;
}

int CFileReplacement::CommitWith(const void* data, size_t count) {
  if (inPlace_ && fd_ < 0) return CommitInPlace(static_cast<const uint8_t*>(data), count);
  if (const int error = Write(data, count)) return error;
  return Commit();
}

int CFileReplacement::CommitAside() {
  if (exists_) {
    // The owner and group where the user may give them (root, a group the user is in);
    // then the mode, which a change of owner would have cut. A file system that keeps no
    // modes refuses; the copy then keeps the private mode it was made with.
    if (::fchown(fd_, oldOwner_, oldGroup_) != 0) (void)::fchown(fd_, uid_t(-1), oldGroup_);
    (void)::fchmod(fd_, oldMode_);
  }
  if (::fsync(fd_) != 0) return Fail(errno);
  if (asideName_.empty()) {
    if (const int error = NameUnnamedAside()) return Fail(error);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || ::rename(asideName_.c_str(), target_.c_str()) != 0) return Fail(errno);
  asideName_.clear();
  SyncFolder(folder_);
  Discard();
  return 0;
}

int CFileReplacement::CommitInPlace(const uint8_t* data, size_t count) {
  // The space is taken before the first byte is overwritten: a full disk fails here, with
  // the old contents whole. File systems without reservations go straight on.
  if (count > 0 && ::fallocate(targetFd_, FALLOC_FL_KEEP_SIZE, 0, off_t(count)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return Fail(errno);
  if (const int error = PwriteFully(targetFd_, data, count)) return Fail(error);
  if (::ftruncate(targetFd_, off_t(count)) != 0 || ::fsync(targetFd_) != 0) return Fail(errno);
  const int fd = targetFd_;
  targetFd_ = -1;
  const int error = ::close(fd) == 0 ? 0 : errno;
  Discard();
  return error;
}

int CFileReplacement::Fail(int error) {
  Discard();
  return error;
}

void CFileReplacement::Discard() {
  Close(fd_);
  Close(targetFd_);
  if (!asideName_.empty()) ::unlink(asideName_.c_str());
  asideName_.clear();
  inPlace_ = false;
  written_ = 0;
}

int ReplacementObstacle(const std::string& path) {
  if (path.empty()) return ENOENT;
  std::string target;
  bool exists = false;
  if (const int error = ResolveLinks(path, target, exists)) return error;
  if (!exists) {
    return ::faccessat(AT_FDCWD, FolderOf(target).c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0
                                                                                        : errno;
  }
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}
