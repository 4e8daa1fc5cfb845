// The host platform's add-in interfaces, which Velmora implements. Their
// identifiers and slot order are fixed by the host; the host's own type
// library is not needed to build against them.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

namespace velmora {

// {AB634001-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IInitDone = {0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634003-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_ILanguageExtender = {
    0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};

struct IInitDone : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Done() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) = 0;
};

struct ILanguageExtender : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* bstrExtensionName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNProps(long* plProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR bstrPropName, long* plPropNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropName(long lPropNum, long lPropAlias, BSTR* pbstrPropName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropVal(long lPropNum, VARIANT* pvarPropVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropVal(long lPropNum, VARIANT* varPropVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropReadable(long lPropNum, long* pboolPropRead) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropWritable(long lPropNum, long* pboolPropWrite) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNMethods(long* plMethods) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, long* plMethodNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodName(long lMethodNum, long lMethodAlias, BSTR* pbstrMethodName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNParams(long lMethodNum, long* plParams) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(long lMethodNum, long lParamNum, VARIANT* pvarParamDefValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE HasRetVal(long lMethodNum, long* pboolRetValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsProc(long lMethodNum, SAFEARRAY** paParams) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsFunc(long lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) = 0;
};

}  // namespace velmora
