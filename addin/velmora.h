// The add-in class Velmora: the host creates it, initialises it through
// IInitDone and drives it through ILanguageExtender; automation clients see
// the same members on the dual interface _Velmora.
#pragma once

#include <atomic>
#include <memory>

#include "Velmora_h.h"
#include "addin/addin_interfaces.h"
#include "addin/com_ptr.h"
#include "addin/host_objects.h"
#include "addin/module.h"
#include "script/journal.h"

namespace velmora {

class Velmora final : public _Velmora, public IInitDone, public ILanguageExtender, public ISupportErrorInfo {
 public:
  // The class factory's work: a new object answering iid.
  static HRESULT create(REFIID iid, void** out);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, answered from the embedded type library
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override;

  // _Velmora
  HRESULT STDMETHODCALLTYPE get_boolIsEnabled(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE put_boolIsEnabled(VARIANT_BOOL value) override;
  HRESULT STDMETHODCALLTYPE get_ConnectionObject(IDispatch** value) override;
  HRESULT STDMETHODCALLTYPE putref_ConnectionObject(IDispatch* value) override;
  HRESULT STDMETHODCALLTYPE LoadProperties(VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE SaveProperties() override;
  HRESULT STDMETHODCALLTYPE TermString(BSTR* strName, LONG* Alias, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE IInitDone_Init(IDispatch* Obj) override;
  HRESULT STDMETHODCALLTYPE IInitDone_Done() override;
  HRESULT STDMETHODCALLTYPE IInitDone_GetInfo(SAFEARRAY** pInfoItems) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_RegisterExtensionAs(BSTR* strExtName) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetNProps(LONG* lProps) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_FindProp(BSTR strPropName, LONG* lPropNum) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetPropName(LONG PropPos, LONG PropAlias, BSTR* strPropName) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetPropVal(LONG lPropNum, VARIANT* retVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_SetPropVal(LONG lPropNum, VARIANT* retVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_IsPropReadable(LONG lPropNum, LONG* retVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_IsPropWritable(LONG lPropNum, LONG* retVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetNMethods(LONG* Num) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_FindMethod(BSTR strPropName, LONG* lPropPos) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetMethodName(LONG MethPos, LONG MethAlias, BSTR* strMethName) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetNParams(LONG lMethodPos, LONG* lMethodParams) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_GetParamDefValue(LONG lMethPos, LONG lParamPos, VARIANT* retVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_HasRetVal(LONG lMethPos, LONG* boolRet) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_CallAsProc(LONG iMethodNum, SAFEARRAY** ParamVal) override;
  HRESULT STDMETHODCALLTYPE ILanguageExtender_CallAsFunc(LONG iMethodNum, VARIANT* retVal, SAFEARRAY** ParamVal) override;
  HRESULT STDMETHODCALLTYPE ReturnLong(VARIANT_BOOL* ValBool, VARIANT* result) override;

  // IInitDone
  HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) override;
  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) override;

  // ILanguageExtender
  HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetNProps(long* count) override;
  HRESULT STDMETHODCALLTYPE FindProp(BSTR name, long* number) override;
  HRESULT STDMETHODCALLTYPE GetPropName(long number, long alias, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetPropVal(long number, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE SetPropVal(long number, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE IsPropReadable(long number, long* flag) override;
  HRESULT STDMETHODCALLTYPE IsPropWritable(long number, long* flag) override;
  HRESULT STDMETHODCALLTYPE GetNMethods(long* count) override;
  HRESULT STDMETHODCALLTYPE FindMethod(BSTR name, long* number) override;
  HRESULT STDMETHODCALLTYPE GetMethodName(long number, long alias, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetNParams(long number, long* count) override;
  HRESULT STDMETHODCALLTYPE GetParamDefValue(long number, long param, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE HasRetVal(long number, long* flag) override;
  HRESULT STDMETHODCALLTYPE CallAsProc(long number, SAFEARRAY** params) override;
  HRESULT STDMETHODCALLTYPE CallAsFunc(long number, VARIANT* result, SAFEARRAY** params) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  explicit Velmora(com_ptr<ITypeInfo> typeInfo);
  ~Velmora();

  // Held by every call that changes the object or reaches its reader or its
  // connection. The host may call back while such a call runs (an
  // apartment-threaded host that pumps messages does); a nested call of that
  // kind is refused, so that the running call keeps its reader, its read
  // window and its connection, while reads are still answered. The call also
  // holds a reference to the object, so that a host dropping its own
  // meanwhile cannot destroy the object under it.
  class Exclusive;

  // The script class; throws when the host calls before Init or after Done.
  Journal& journal();
  HostConnection& connection();
  void setConnection(IDispatch* object);

  // The work of each member; these throw, the COM members catch.
  void init(IDispatch* object);
  void done();
  void getInfo(SAFEARRAY** items);
  bool loadProperties();
  void saveProperties();
  void getPropVal(long number, VARIANT* value);
  void setPropVal(long number, VARIANT* value);
  void callMethod(long number, SAFEARRAY** params, VARIANT* result);

  ModuleObject module_;  // first: released after every other member
  std::atomic<ULONG> refs_{1};
  com_ptr<ITypeInfo> typeInfo_;
  bool busy_ = false;  // an Exclusive call runs
  VARIANT_BOOL boolIsEnabled_ = VARIANT_FALSE;
  com_ptr<IDispatch> ConnectionObject_;
  std::unique_ptr<HostConnection> connection_;  // calls on ConnectionObject_, names looked up once
  std::unique_ptr<Journal> JournalObject_;
};

}  // namespace velmora
