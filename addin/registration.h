// Self-registration: the class, its ProgID, the type library and the dual
// interface, written under one Classes root (the machine's or the user's).
#pragma once

#include <windows.h>

namespace velmora {

enum class RegistrationScope { Machine, User };

HRESULT registerServer(RegistrationScope scope);
// Removes exactly the keys registerServer writes; keys already gone are fine.
HRESULT unregisterServer(RegistrationScope scope);

}  // namespace velmora
