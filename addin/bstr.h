// Owning BSTR (a null one is the empty string), and making one.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "core/unique_resource.h"
#include "text/text.h"

namespace velmora {

inline void freeBstr(BSTR s) noexcept { SysFreeString(s); }
using unique_bstr = UniqueResource<BSTR, freeBstr>;

// A fresh BSTR for an out parameter; throws std::bad_alloc on failure.
BSTR allocBstr(U16View text);

// The text of a BSTR; a null BSTR is the empty string.
inline U16View bstrView(BSTR s) {
  return s ? U16View(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : U16View();
}

}  // namespace velmora
