#include "automation_object.h"

#include <utility>

namespace sim {

HRESULT AutomationObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG AutomationObject::Release() {
  ULONG n = --refs_;
  if (onRelease) onRelease(n);
  if (n == 0) delete this;
  return n;
}

HRESULT AutomationObject::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

void AutomationObject::define(const std::wstring& name, Handler handler) {
  Member member;
  member.name = name;
  member.handler = std::move(handler);
  members_.push_back(std::move(member));
}

const AutomationObject::Member* AutomationObject::find(const std::wstring& name) const {
  for (const auto& m : members_)
    if (m.name == name) return &m;
  return nullptr;
}

int AutomationObject::lookups(const std::wstring& name) const {
  const Member* m = find(name);
  return m ? m->lookups : 0;
}

int AutomationObject::calls(const std::wstring& name) const {
  const Member* m = find(name);
  return m ? m->calls : 0;
}

void AutomationObject::failNext(const std::wstring& name, HRESULT hr, SCODE scode, WORD wCode,
                                const std::wstring& description) {
  for (auto& m : members_)
    if (m.name == name) m.failure = Failure{hr, scode, wCode, description};
}

void AutomationObject::failCall(int callNumber, HRESULT hr, SCODE scode, WORD wCode, const std::wstring& description) {
  failCallNumber_ = callNumber;
  callFailure_ = Failure{hr, scode, wCode, description};
}

HRESULT AutomationObject::fail(Failure& f, EXCEPINFO* excep) {
  HRESULT hr = std::exchange(f.hr, S_OK);
  if (hr == DISP_E_EXCEPTION && excep) {
    *excep = EXCEPINFO{};
    excep->scode = f.scode;
    excep->wCode = f.code;
    excep->bstrDescription = SysAllocString(f.text.c_str());
    excep->bstrSource = SysAllocString(L"HostSimulator");
  }
  return hr;
}

HRESULT AutomationObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count != 1) return E_INVALIDARG;
  // Names compare exactly: the add-in must call the host's members as named.
  for (std::size_t i = 0; i < members_.size(); ++i) {
    if (members_[i].name == names[0]) {
      ++members_[i].lookups;
      ids[0] = static_cast<DISPID>(i + 1);
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT AutomationObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT*) {
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  ++members_[id - 1].calls;
  const int number = ++totalCalls_;
  // Copied: a callback may define members, which moves them.
  const std::wstring name = members_[id - 1].name;
  if (beforeCall) beforeCall(name);
  if (beforeNumberedCall) beforeNumberedCall(name, number);
  if (number == failCallNumber_) {
    failCallNumber_ = 0;
    return fail(callFailure_, excep);
  }
  Member& m = members_[id - 1];
  if (m.failure.hr != S_OK) return fail(m.failure, excep);
  Args args;
  for (UINT i = params ? params->cArgs : 0; i-- > 0;) args.push_back(&params->rgvarg[i]);
  return m.handler(args, result, excep);
}

std::wstring argString(const VARIANTARG* a) {
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantChangeType(&v, const_cast<VARIANTARG*>(a), 0, VT_BSTR))) return L"<not a string>";
  std::wstring s(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
  VariantClear(&v);
  return s;
}

long argLong(const VARIANTARG* a) {
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantChangeType(&v, const_cast<VARIANTARG*>(a), 0, VT_I4))) return -999999;
  return V_I4(&v);
}

HRESULT excepFail(EXCEPINFO* excep, SCODE scode, const std::wstring& description) {
  if (excep) {
    *excep = EXCEPINFO{};
    excep->scode = scode;
    excep->bstrDescription = SysAllocString(description.c_str());
  }
  return DISP_E_EXCEPTION;
}

}  // namespace sim
