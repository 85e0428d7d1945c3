// Makes file permissions bind this thread even when the tests run as root (as in CI): the
// capabilities that let root read and write past them leave its effective set for the
// lifetime of the object and come back after. Other threads keep theirs.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class ObeyFilePermissions {
 public:
  ObeyFilePermissions() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      lowered[cap / 32].effective &= ~(1u << (cap % 32));
    ok_ = ::syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~ObeyFilePermissions() {
    if (ok_) ::syscall(SYS_capset, &header_, saved_);
  }
  ObeyFilePermissions(const ObeyFilePermissions&) = delete;
  ObeyFilePermissions& operator=(const ObeyFilePermissions&) = delete;
  bool ok() const { return ok_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool ok_ = false;
};
