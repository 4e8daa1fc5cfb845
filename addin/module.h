// What the rest of the add-in needs from the library itself: its path and
// the counts of live objects and locks that decide DllCanUnloadNow.
#pragma once

#include <windows.h>

namespace velmora {

// The library's full path, as registered and as its type library is loaded.
HRESULT modulePath(wchar_t (&path)[MAX_PATH]);
// Server locks and class factory references. Unlocking more often than
// locking leaves the count at zero: it never hides a live object.
void lockModule();
void unlockModule();

// Counts one live object for as long as it exists. An object holds it as its
// first member, so that it is released after every other member: those
// release into host code, which may ask whether the library can go.
class ModuleObject {
 public:
  ModuleObject();
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
  ~ModuleObject();
};

}  // namespace velmora
