// Calls on a host object by name through its dispatch interface. Each name
// is looked up on first use and remembered for the object, so that a loop
// that writes rows pays for the lookup once.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include <cstddef>
#include <span>
#include <vector>

#include "addin/com_ptr.h"
#include "text/text.h"

namespace velmora {

class HostCaller {
 public:
  // names: the members this caller may call, addressed by their index.
  HostCaller(com_ptr<IDispatch> object, std::span<const char16_t* const> names);

  // Calls member `member` with args given in reverse order (last argument
  // first), as IDispatch::Invoke takes them. result may be null. Throws
  // HostError with the host's number and description on failure.
  void invoke(std::size_t member, WORD flags, VARIANTARG* reversedArgs, UINT count, VARIANT* result);

  // A value read without arguments (a count), converted to a 32-bit integer.
  std::int32_t readLong(std::size_t member);

 private:
  DISPID dispid(std::size_t member);

  com_ptr<IDispatch> object_;
  std::span<const char16_t* const> names_;
  std::vector<DISPID> ids_;
};

// The dispatch interface of an object held in a script value (directly or
// by reference); empty when the value holds no object.
com_ptr<IDispatch> dispatchOf(const VARIANT& value);

}  // namespace velmora
