#include "addin/bstr.h"

#include <new>

namespace velmora {

BSTR allocBstr(U16View text) {
  BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  if (!s) throw std::bad_alloc();
  return s;
}

}  // namespace velmora
