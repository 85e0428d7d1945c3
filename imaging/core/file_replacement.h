// CFileReplacement: giving a file new contents whole, or not at all.
//
// Every writer of the program replaces files through this one routine: the image file sink,
// the copy of a capture file, the profile files. What it guarantees:
//
// - A symbolic link is followed: the file it names gets the new contents, the link stays.
// - A target the user may not write is refused by Open (errno from opening it for writing:
//   EACCES for a read-only file, EROFS, ...), before the caller produces anything. A target
//   that is no regular file is refused too (EISDIR for a folder, EINVAL otherwise).
// - The new contents are written aside in the target's folder, synced, given the old file's
//   mode (and its owner and group where the user may set them), renamed over the target, and
//   the folder is synced. The file thus holds either the old or the new contents, even across
//   a crash.
// - A writable file in a folder the user cannot write is written in place instead. The space
//   is reserved first, so a full disk leaves the old contents whole; the file keeps its inode,
//   owner and mode. Streamed bytes are held in an unnamed file of the temporary folder until
//   Commit, so an abandoned or failed write never touches the target.
// - Any failure, or destruction without Commit, leaves the old file whole and no temporary
//   file behind. The aside copy is unnamed while it is written where the file system allows
//   it, so not even a crash leaves one.
//
// Calls return 0 or an errno value. Not thread-safe; one object per replacement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

class CFileReplacement {
 public:
  CFileReplacement() = default;
  ~CFileReplacement();  // not committed: the target stays as it was
  CFileReplacement(const CFileReplacement&) = delete;
  CFileReplacement& operator=(const CFileReplacement&) = delete;

  // Prepares to replace `path` (see above for what is refused).
  int Open(const std::string& path);
  // Appends bytes to the new contents.
  int Write(const void* data, size_t count);
  // Makes the bytes written the file's contents.
  int Commit();
  // Writes `data` after the bytes written so far and commits. Writing in place, a buffer
  // that holds the whole contents goes straight to the file.
  int CommitWith(const void* data, size_t count);
  // Gives up the replacement; the target stays as it was.
  void Discard();

  // The file that is replaced: the path given, or the file its links lead to.
  const std::string& Target() const { return target_; }
  bool InPlace() const { return inPlace_; }

 private:
  int CreateAside(mode_t mode);
  int CreateNamedAside(mode_t mode);
  int NameUnnamedAside();
  int CommitAside();
  int CommitInPlace(const uint8_t* data, size_t count);
  int Fail(int error);

  std::string target_;
  std::string folder_;
  std::string asideName_;  // the named aside file, when the file system has no unnamed ones
  int fd_ = -1;            // the aside file, or the spool when writing in place
  int targetFd_ = -1;      // the target, open while writing in place
  bool inPlace_ = false;
  bool exists_ = false;
  mode_t oldMode_ = 0;  // the target's mode and owner, when it exists
  uid_t oldOwner_ = 0;
  gid_t oldGroup_ = 0;
  uint64_t written_ = 0;  // bytes handed to Write
};

// Why `path` could not be replaced, as errno (0: nothing stands in the way). Changes nothing.
int ReplacementObstacle(const std::string& path);
