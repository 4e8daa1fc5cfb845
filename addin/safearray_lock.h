// Holds a SAFEARRAY locked for the lifetime of the scope, so that its
// elements stay where they are while the reader works on one of them.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

namespace velmora {

class SafeArrayLockScope {
 public:
  // Throws ComError when the array cannot be locked.
  explicit SafeArrayLockScope(SAFEARRAY* array);
  SafeArrayLockScope(const SafeArrayLockScope&) = delete;
  SafeArrayLockScope& operator=(const SafeArrayLockScope&) = delete;
  ~SafeArrayLockScope() { SafeArrayUnlock(array_); }

 private:
  SAFEARRAY* array_;
};

// The script's argument array as the host hands it over: one dimension of
// variants. Element numbers are the array's own indexes.
class VariantArray {
 public:
  // Throws ComError when the array is missing, has another number of
  // dimensions or holds something other than variants.
  explicit VariantArray(SAFEARRAY** array);
  SAFEARRAY* get() const { return array_; }
  // Throws ComError when index is outside the bounds. Valid while the array
  // is locked.
  VARIANT& at(long index) const;

 private:
  SAFEARRAY* array_;
};

}  // namespace velmora
