#include "addin/host_call.h"

#include <dispex.h>

#include "addin/bstr.h"
#include "addin/com_error.h"
#include "addin/variant.h"
#include "script/host.h"

namespace velmora {

namespace {

constexpr DISPID kNotLookedUp = DISPID_UNKNOWN;
constexpr std::int32_t kObjectRequired = static_cast<std::int32_t>(0x800A01A8);  // script error 424

U16String withName(U16String text, const char16_t* name) {
  text += u" (";
  text += name;
  text += u")";
  return text;
}

}  // namespace

HostCaller::HostCaller(com_ptr<IDispatch> object, std::span<const char16_t* const> names)
    : object_(std::move(object)), names_(names), ids_(names.size(), kNotLookedUp) {}

DISPID HostCaller::dispid(std::size_t member) {
  if (!object_) throw HostError(kObjectRequired, withName(u"Требуется объект", names_[member]));
  if (ids_[member] == kNotLookedUp) {
    LPOLESTR name = reinterpret_cast<LPOLESTR>(const_cast<char16_t*>(names_[member]));
    DISPID id = kNotLookedUp;
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
      // Some script engines' objects answer names only through IDispatchEx.
      if (auto ex = object_.query<IDispatchEx>(__uuidof(IDispatchEx))) {
        unique_bstr text(allocBstr(names_[member]));
        if (SUCCEEDED(ex->GetDispID(text.get(), fdexNameCaseSensitive, &id))) hr = S_OK;
      }
    }
    if (FAILED(hr)) throw HostError(hr, withName(describeHresult(hr), names_[member]));
    ids_[member] = id;
  }
  return ids_[member];
}

void HostCaller::invoke(std::size_t member, WORD flags, VARIANTARG* reversedArgs, UINT count, VARIANT* result) {
  DISPID id = dispid(member);
  DISPPARAMS params{reversedArgs, nullptr, count, 0};
  EXCEPINFO excep{};
  UINT argErr = 0;
  HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
  if (SUCCEEDED(hr)) return;
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    const unique_bstr source(excep.bstrSource), description(excep.bstrDescription), help(excep.bstrHelpFile);
    std::int32_t number = excep.scode ? static_cast<std::int32_t>(excep.scode) : excep.wCode;
    if (number == 0) number = hr;
    U16String text(bstrView(description.get()));
    if (text.empty()) text = withName(describeHresult(hresultFromNumber(number)), names_[member]);
    throw HostError(number, std::move(text));
  }
  throw HostError(hr, withName(describeHresult(hr), names_[member]));
}

std::int32_t HostCaller::readLong(std::size_t member) {
  unique_variant value;
  invoke(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, value.get());
  try {
    return variantToLong(*value.get());
  } catch (const ComError& e) {
    throw HostError(e.hresult(), withName(e.description(), names_[member]));
  }
}

com_ptr<IDispatch> dispatchOf(const VARIANT& value) {
  const VARIANT* v = &value;
  while (V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
  switch (V_VT(v)) {
    case VT_DISPATCH:
      return com_ptr<IDispatch>(V_DISPATCH(v));
    case VT_DISPATCH | VT_BYREF:
      return V_DISPATCHREF(v) ? com_ptr<IDispatch>(*V_DISPATCHREF(v)) : com_ptr<IDispatch>();
    case VT_UNKNOWN:
      return com_ptr<IUnknown>(V_UNKNOWN(v)).query<IDispatch>(IID_IDispatch);
    case VT_UNKNOWN | VT_BYREF:
      return V_UNKNOWNREF(v) ? com_ptr<IUnknown>(*V_UNKNOWNREF(v)).query<IDispatch>(IID_IDispatch)
                             : com_ptr<IDispatch>();
    default:
      return {};
  }
}

}  // namespace velmora
