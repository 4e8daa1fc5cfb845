// A SAFEARRAY held locked by its owner, so that its elements stay where
// they are while the reader works on one of them; and the script's
// argument array.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "core/unique_resource.h"

namespace velmora {

inline void unlockSafeArray(SAFEARRAY* array) noexcept { SafeArrayUnlock(array); }
using UniqueSafeArrayLock = UniqueResource<SAFEARRAY*, unlockSafeArray>;

// Throws ComError when the array cannot be locked.
UniqueSafeArrayLock lockSafeArray(SAFEARRAY* array);

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
