// Self-registration: the class, its ProgID, the type library and the dual
// interface, written under one Classes root (the machine's or the user's).
#pragma once

#include <windows.h>

namespace velmora {

enum class RegistrationScope { Machine, User };

// Writes the registration. On a failure it takes back exactly what it
// changed: values it overwrote get their old data, values and keys it added
// go, and a registration that was there before stays as it was.
HRESULT registerServer(RegistrationScope scope) noexcept;
// Removes the values registerServer writes where they still hold what it
// writes, and the keys that leaves empty, up to the trees registration
// owns; anything else stays: another version of the type library, the entry
// of the library built for the other platform (and what the two share while
// it is there), the class when another copy of the library has registered it
// since, values others added. Values already gone are fine.
HRESULT unregisterServer(RegistrationScope scope) noexcept;

}  // namespace velmora
