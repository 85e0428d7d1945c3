// A nearly full disk for tests: a tmpfs of a few kilobytes on a fresh folder, mounted in a
// mount namespace of this process's own, so nothing outside sees it and nothing stays mounted
// if the test dies. Needs the right to mount (root, as in CI) and a process that runs one
// thread when the first volume is made; `why()` says what stood in the way otherwise.
#pragma once

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

class SmallVolume {
 public:
  explicit SmallVolume(size_t bytes) {
    static const std::string privateNamespace = EnterPrivateNamespace();
    if (!privateNamespace.empty()) {
      why_ = privateNamespace;
      return;
    }
    char pattern[] = "/tmp/lumora-small-volume-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      why_ = std::string("mkdtemp: ") + std::strerror(errno);
      return;
    }
    path_ = pattern;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("lumora-test", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = std::string("mounting a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallVolume() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool ok() const { return mounted_; }
  const std::string& why() const { return why_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  static std::string EnterPrivateNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("making mounts private: ") + std::strerror(errno);
    return "";
  }

  std::string path_;
  std::string why_;
  bool mounted_ = false;
};
