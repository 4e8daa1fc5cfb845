// What the rest of the add-in needs from the library itself: its handle and
// the count of live objects that decides DllCanUnloadNow.
#pragma once

#include <windows.h>

namespace velmora {

HMODULE moduleHandle();
// The library's full path, as registered and as its type library is loaded.
HRESULT modulePath(wchar_t (&path)[MAX_PATH]);
void moduleAddRef();
void moduleRelease();

}  // namespace velmora
