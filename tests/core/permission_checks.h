// Read-only files that stay read-only for root too.
#pragma once

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace velmora::test {

// Root passes every file permission check (CAP_DAC_OVERRIDE), so a test of a
// read-only output would see it written over, and CI runs as root. While an
// object of this class lives, the calling thread runs without that
// capability in its effective set; the permitted set keeps it, so the
// destructor takes it back.
class PermissionChecks {
 public:
  PermissionChecks() {
#if defined(__linux__)
    if (::geteuid() != 0) {
      apply_ = true;
      return;
    }
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    lowered_ = apply_ = ::syscall(SYS_capset, &header_, lowered) == 0;
#endif
  }
  ~PermissionChecks() {
#if defined(__linux__)
    if (lowered_) ::syscall(SYS_capset, &header_, saved_);
#endif
  }
  PermissionChecks(const PermissionChecks&) = delete;
  PermissionChecks& operator=(const PermissionChecks&) = delete;

  // Whether a file's permissions now bind this thread.
  bool apply() const { return apply_; }

 private:
#if defined(__linux__)
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
  bool apply_ = false;
#else
  bool apply_ = true;  // the read-only attribute binds every user
#endif
};

}  // namespace velmora::test
