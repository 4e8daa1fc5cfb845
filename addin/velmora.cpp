#include "addin/velmora.h"

#include <algorithm>
#include <array>
#include <new>
#include <utility>
#include <vector>

#include "addin/bstr.h"
#include "addin/com_error.h"
#include "addin/extension_tables.h"
#include "addin/module.h"
#include "addin/safearray_lock.h"
#include "core/unique_resource.h"
#include "addin/variant.h"

namespace velmora {

namespace {

constexpr char16_t kExtensionName[] = u"Velmora";
constexpr char16_t kProfileName[] = u"Velmora AddIn";
constexpr char16_t kReadSetting[] = u"Enabled:0";
constexpr char16_t kWriteSetting[] = u"Enabled";
constexpr char16_t kInfo[] = u"2000";
constexpr std::int16_t kLoadErrorCode = 1006;
constexpr char16_t kLoadErrorSource[] = u"Компонента";
constexpr char16_t kLoadErrorText[] = u"Ошибка при загрузке параметров";
// A method called at an unexpected time (E_ILLEGAL_METHOD_CALL, which not
// every SDK's headers name).
constexpr HRESULT kBusy = static_cast<HRESULT>(0x8000000EL);
constexpr char16_t kBusyText[] = u"Компонента занята выполнением другого вызова";

// Reader property access, in the order of the property table. Read-only
// properties have no setter.
using Getter = void (*)(const Journal&, VARIANT*);
using StringSetter = void (*)(Journal&, U16View);

constexpr std::array<Getter, 13> kGetters{
    [](const Journal& j, VARIANT* v) { setString(v, j.FilePath()); },
    [](const Journal& j, VARIANT* v) { setLong(v, j.MyFileSize()); },
    [](const Journal& j, VARIANT* v) { setLong(v, j.ListStrSize()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.DateBegin()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.DateEnd()); },
    [](const Journal& j, VARIANT* v) { setShort(v, j.NumErr()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.InsertColumn()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.TransformStr()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.GroupBy()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.OrderBy()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.TextErr()); },
    [](const Journal& j, VARIANT* v) { setString(v, j.InvertFilters()); },
    [](const Journal& j, VARIANT* v) { setShort(v, j.CoincidenceObject()); },
};

constexpr std::array<StringSetter, 13> kStringSetters{
    [](Journal& j, U16View s) { j.SetFilePath(s); },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](Journal& j, U16View s) { j.SetInsertColumn(s); },
    [](Journal& j, U16View s) { j.SetTransformStr(s); },
    [](Journal& j, U16View s) { j.SetGroupBy(s); },
    [](Journal& j, U16View s) { j.SetOrderBy(s); },
    nullptr,
    [](Journal& j, U16View s) { j.SetInvertFilters(s); },
    nullptr,
};

bool inTable(long number, std::size_t size) { return number >= 0 && static_cast<std::size_t>(number) < size; }

void requirePointer(const void* p) {
  if (!p) throw ComError(E_POINTER, describeHresult(E_POINTER));
}

void requireStatus(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr, describeHresult(hr));
}

// The exception record of one Invoke, owned until it is handed to the
// caller: the type library fills it with a member's failure even when the
// caller passed none, so the description reaches the error information.
class ExcepRecord {
 public:
  ExcepRecord() = default;
  ExcepRecord(const ExcepRecord&) = delete;
  ExcepRecord& operator=(const ExcepRecord&) = delete;
  ~ExcepRecord() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  EXCEPINFO* get() { return &info_; }
  // The outcome of the call as error information; the record goes to the
  // caller, if it asked for one.
  HRESULT finish(HRESULT hr, EXCEPINFO* caller) {
    if (SUCCEEDED(hr)) return succeed();
    if (info_.pfnDeferredFillIn) {
      info_.pfnDeferredFillIn(&info_);
      info_.pfnDeferredFillIn = nullptr;
    }
    U16String text(bstrView(info_.bstrDescription));
    if (hr != DISP_E_EXCEPTION || text.empty()) text = describeHresult(hr);
    failWithInfo(hr, text, IID__Velmora);
    if (caller && hr == DISP_E_EXCEPTION) *caller = std::exchange(info_, EXCEPINFO{});
    return hr;
  }

 private:
  EXCEPINFO info_{};
};

// Replaces an in/out BSTR: the new string is made before the old is freed.
void replaceBstr(BSTR* target, U16View text) {
  BSTR fresh = allocBstr(text);
  SysFreeString(*target);  // the caller's old string
  *target = fresh;
}

// A description that the type information lends, with the type information
// that takes it back.
template <class Description>
struct Lent {
  ITypeInfo* info = nullptr;
  Description* description = nullptr;
  bool operator==(const Lent&) const = default;
};
void releaseTypeAttr(Lent<TYPEATTR> t) noexcept { t.info->ReleaseTypeAttr(t.description); }
void releaseFuncDesc(Lent<FUNCDESC> f) noexcept { f.info->ReleaseFuncDesc(f.description); }
using UniqueTypeAttr = UniqueResource<Lent<TYPEATTR>, releaseTypeAttr>;
using UniqueFuncDesc = UniqueResource<Lent<FUNCDESC>, releaseFuncDesc>;

// Calls use with each description of member id reachable with flags, each
// held while it is used.
template <class Use>
void forEachFuncDesc(ITypeInfo* info, DISPID id, WORD flags, Use&& use) {
  TYPEATTR* lent = nullptr;
  requireStatus(info->GetTypeAttr(&lent));
  const UniqueTypeAttr attr({info, lent});
  for (UINT f = 0; f < lent->cFuncs; ++f) {
    FUNCDESC* d = nullptr;
    if (FAILED(info->GetFuncDesc(f, &d)) || d == nullptr) continue;
    const UniqueFuncDesc func({info, d});
    if (d->memid == id && (d->invkind & flags)) use(*d);
  }
}

// The arguments of an Invoke, checked before anything reads them: the
// counts must fit each other and the member called, and the arrays they
// count must be there. Anything else could make the type library read or
// write past the caller's arrays.
void checkArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params) {
  if (params.cNamedArgs > params.cArgs) throw ComError(E_INVALIDARG, describeHresult(E_INVALIDARG));
  if ((params.cArgs && !params.rgvarg) || (params.cNamedArgs && !params.rgdispidNamedArgs))
    throw ComError(E_POINTER, describeHresult(E_POINTER));
  bool found = false;
  UINT most = 0;
  forEachFuncDesc(info, id, flags, [&](const FUNCDESC& d) {
    found = true;
    most = std::max(most, static_cast<UINT>(d.cParams));
  });
  if (!found) throw ComError(DISP_E_MEMBERNOTFOUND, describeHresult(DISP_E_MEMBERNOTFOUND));
  if (params.cArgs > most) throw ComError(DISP_E_BADPARAMCOUNT, describeHresult(DISP_E_BADPARAMCOUNT));
}

// Script clients pass their variables by reference as variants, while
// several members take typed references (BSTR*, long*, an array). The
// standard Invoke refuses that pairing, so such an argument is passed as a
// typed copy and the result written back into the script's variable.
// The arguments must have passed checkArguments.
class ByRefArguments {
 public:
  ByRefArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& original)
      : args_(original.rgvarg, original.rgvarg + original.cArgs), params_(original), temps_(original.cArgs) {
    params_.rgvarg = args_.empty() ? nullptr : args_.data();
    // Reserved here, so that adapting, which holds a type description,
    // allocates nothing and cannot throw.
    writeBack_.reserve(original.cArgs);
    forEachFuncDesc(info, id, flags, [this](const FUNCDESC& d) { adapt(d); });
  }
  DISPPARAMS* params() { return &params_; }
  void writeBack() {
    for (const auto& [index, target] : writeBack_) VariantCopy(target, temps_[index].get());
  }

 private:
  void adapt(const FUNCDESC& func) noexcept {
    // Positional arguments only: argument i (script order) is rgvarg[n - 1 - i].
    UINT n = params_.cArgs - params_.cNamedArgs;
    for (UINT i = 0; i < n && i < static_cast<UINT>(func.cParams); ++i) {
      const TYPEDESC& type = func.lprgelemdescParam[i].tdesc;
      UINT slot = params_.cArgs - 1 - i;
      VARIANT& arg = args_[slot];
      if (type.vt != VT_PTR || V_VT(&arg) != (VT_VARIANT | VT_BYREF) || !V_VARIANTREF(&arg)) continue;
      VARTYPE target = type.lptdesc->vt;
      VARIANT* inner = V_VARIANTREF(&arg);
      if (target == VT_SAFEARRAY) {
        // The array itself is shared, so the callee's writes reach the script.
        if (V_VT(inner) == (VT_ARRAY | VT_VARIANT)) {
          V_VT(&arg) = VT_ARRAY | VT_VARIANT | VT_BYREF;
          V_ARRAYREF(&arg) = &V_ARRAY(inner);
        } else if (V_VT(inner) == (VT_ARRAY | VT_VARIANT | VT_BYREF)) {
          arg = *inner;
        }
        continue;
      }
      if (target != VT_BSTR && target != VT_I4 && target != VT_I2 && target != VT_BOOL) continue;
      if (FAILED(VariantChangeType(temps_[slot].put(), inner, 0, target))) continue;
      V_VT(&arg) = target | VT_BYREF;
      V_BYREF(&arg) = &V_I4(temps_[slot].get());  // the union's storage, whatever the type
      if (writeBack_.size() < writeBack_.capacity()) writeBack_.emplace_back(slot, inner);
    }
  }

  std::vector<VARIANT> args_;
  DISPPARAMS params_;
  std::vector<unique_variant> temps_;
  std::vector<std::pair<UINT, VARIANT*>> writeBack_;
};

// No member has more than three parameters: a longer list of names cannot
// name anything, and the caller's arrays may not even be that long.
constexpr UINT kMostNames = 16;

HRESULT loadTypeInfo(com_ptr<ITypeInfo>& info) {
  wchar_t path[MAX_PATH];
  HRESULT hr = modulePath(path);
  if (FAILED(hr)) return hr;
  com_ptr<ITypeLib> lib;
  hr = LoadTypeLibEx(path, REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(IID__Velmora, info.put());
}

}  // namespace

// ---- lifetime ----------------------------------------------------------------

HRESULT Velmora::create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  com_ptr<ITypeInfo> info;
  HRESULT hr = loadTypeInfo(info);
  if (FAILED(hr)) return hr;
  // The new object starts with one reference, which the holder drops: a
  // failed QueryInterface then frees it.
  const auto object = com_ptr<Velmora>::attach(new (std::nothrow) Velmora(std::move(info)));
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(iid, out);
}

Velmora::Velmora(com_ptr<ITypeInfo> typeInfo) : typeInfo_(std::move(typeInfo)) {}

Velmora::~Velmora() = default;

HRESULT Velmora::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Velmora)
    *out = static_cast<_Velmora*>(this);
  else if (iid == IID_IInitDone)
    *out = static_cast<IInitDone*>(this);
  else if (iid == IID_ILanguageExtender)
    *out = static_cast<ILanguageExtender*>(this);
  else if (iid == IID_ISupportErrorInfo)
    *out = static_cast<ISupportErrorInfo*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Velmora::AddRef() { return ++refs_; }

ULONG Velmora::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT Velmora::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__Velmora || iid == IID_IInitDone || iid == IID_ILanguageExtender ? S_OK : S_FALSE;
}

// ---- IDispatch ---------------------------------------------------------------

HRESULT Velmora::GetTypeInfoCount(UINT* count) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(count);
    *count = 1;
  });
}

HRESULT Velmora::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(info);
    *info = nullptr;
    if (index != 0) throw ComError(DISP_E_BADINDEX, describeHresult(DISP_E_BADINDEX));
    *info = com_ptr<ITypeInfo>(typeInfo_).detach();
  });
}

HRESULT Velmora::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return comBoundary(IID__Velmora, [&] {
    requireStatus(iid == IID_NULL ? S_OK : DISP_E_UNKNOWNINTERFACE);
    requireStatus(count == 0 || count > kMostNames ? E_INVALIDARG : S_OK);
    requirePointer(names);
    requirePointer(ids);
    for (UINT i = 0; i < count; ++i) requirePointer(names[i]);
    requireStatus(typeInfo_->GetIDsOfNames(names, count, ids));
  });
}

HRESULT Velmora::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) {
  try {
    requireStatus(iid == IID_NULL ? S_OK : DISP_E_UNKNOWNINTERFACE);
    // Held for the call: the member may release the object's last
    // reference, and the type information still runs after it returns.
    const com_ptr<ITypeInfo> info(typeInfo_);
    // No arguments at all stands for an empty list.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    checkArguments(info.get(), id, flags, *params);
    ExcepRecord record;
    ByRefArguments adapted(info.get(), id, flags, *params);
    HRESULT hr = info->Invoke(static_cast<_Velmora*>(this), id, flags, adapted.params(), result, record.get(), argErr);
    if (SUCCEEDED(hr)) adapted.writeBack();
    return record.finish(hr, excep);
  } catch (...) {
    return failFromCurrentException(IID__Velmora);
  }
}

// ---- state -------------------------------------------------------------------

class Velmora::Exclusive {
 public:
  explicit Exclusive(Velmora& object) : object_(object) {
    if (object.busy_) throw ComError(kBusy, kBusyText);
    object.busy_ = true;
    object.AddRef();
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() {
    object_.busy_ = false;
    object_.Release();  // may be the last reference: the call touches the object no more
  }

 private:
  Velmora& object_;
};

Journal& Velmora::journal() {
  if (!JournalObject_) throw ComError(E_UNEXPECTED, describeHresult(E_UNEXPECTED));
  return *JournalObject_;
}

HostConnection& Velmora::connection() {
  if (!connection_) connection_ = std::make_unique<HostConnection>(ConnectionObject_);
  return *connection_;
}

void Velmora::setConnection(IDispatch* object) {
  connection_.reset();
  ConnectionObject_ = com_ptr<IDispatch>(object);
}

// ---- lifecycle ---------------------------------------------------------------

void Velmora::init(IDispatch* object) {
  setConnection(object);
  connection().RegisterProfileAs(kProfileName);
  if (!loadProperties()) connection().AddError(kLoadErrorCode, kLoadErrorSource, kLoadErrorText, -1);
  JournalObject_ = std::make_unique<Journal>();
}

void Velmora::done() {
  saveProperties();
  setConnection(nullptr);
  JournalObject_.reset();
}

void Velmora::getInfo(SAFEARRAY** items) {
  VariantArray array(items);
  const UniqueSafeArrayLock lock = lockSafeArray(array.get());
  setString(&array.at(0), kInfo);
}

bool Velmora::loadProperties() {
  unique_variant value;
  V_VT(value.get()) = VT_BOOL;
  V_BOOL(value.get()) = VARIANT_FALSE;
  try {
    connection().Read(kReadSetting, *value.get());
    boolIsEnabled_ = variantToBool(*value.get()) ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  } catch (const HostError&) {
    return false;
  } catch (const ComError&) {
    return false;
  }
}

void Velmora::saveProperties() {
  unique_variant value;
  V_VT(value.get()) = VT_BOOL;
  V_BOOL(value.get()) = boolIsEnabled_;
  connection().Write(kWriteSetting, *value.get());
}

HRESULT Velmora::Init(IDispatch* pConnection) {
  return comBoundary(IID_IInitDone, [&] {
    Exclusive call(*this);
    init(pConnection);
  });
}
HRESULT Velmora::Done() {
  return comBoundary(IID_IInitDone, [&] {
    Exclusive call(*this);
    done();
  });
}
HRESULT Velmora::GetInfo(SAFEARRAY** pInfo) {
  return comBoundary(IID_IInitDone, [&] { getInfo(pInfo); });
}

// ---- own members -------------------------------------------------------------

HRESULT Velmora::get_boolIsEnabled(VARIANT_BOOL* value) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(value);
    *value = boolIsEnabled_;
  });
}

HRESULT Velmora::put_boolIsEnabled(VARIANT_BOOL value) {
  return comBoundary(IID__Velmora, [&] {
    Exclusive call(*this);
    boolIsEnabled_ = value ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Velmora::get_ConnectionObject(IDispatch** value) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(value);
    *value = com_ptr<IDispatch>(ConnectionObject_).detach();
  });
}

HRESULT Velmora::putref_ConnectionObject(IDispatch* value) {
  return comBoundary(IID__Velmora, [&] {
    Exclusive call(*this);
    setConnection(value);
  });
}

HRESULT Velmora::LoadProperties(VARIANT_BOOL* result) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(result);
    Exclusive call(*this);
    *result = loadProperties() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT Velmora::SaveProperties() {
  return comBoundary(IID__Velmora, [&] {
    Exclusive call(*this);
    saveProperties();
  });
}

HRESULT Velmora::TermString(BSTR* strName, LONG* Alias, BSTR* result) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(strName);
    requirePointer(Alias);
    requirePointer(result);
    *result = allocBstr(termString(bstrView(*strName), *Alias));
  });
}

HRESULT Velmora::ReturnLong(VARIANT_BOOL* ValBool, VARIANT* result) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(ValBool);
    requirePointer(result);
    VariantInit(result);
    V_VT(result) = VT_I2;
    V_I2(result) = *ValBool == VARIANT_TRUE ? 1 : 0;
  });
}

// The host interfaces, also published on _Velmora under prefixed names.
HRESULT Velmora::IInitDone_Init(IDispatch* Obj) {
  return comBoundary(IID__Velmora, [&] {
    Exclusive call(*this);
    init(Obj);
  });
}
HRESULT Velmora::IInitDone_Done() {
  return comBoundary(IID__Velmora, [&] {
    Exclusive call(*this);
    done();
  });
}
HRESULT Velmora::IInitDone_GetInfo(SAFEARRAY** pInfoItems) {
  return comBoundary(IID__Velmora, [&] { getInfo(pInfoItems); });
}
HRESULT Velmora::ILanguageExtender_RegisterExtensionAs(BSTR* strExtName) { return RegisterExtensionAs(strExtName); }
HRESULT Velmora::ILanguageExtender_GetNProps(LONG* lProps) { return GetNProps(lProps); }
HRESULT Velmora::ILanguageExtender_FindProp(BSTR strPropName, LONG* lPropNum) {
  return FindProp(strPropName, lPropNum);
}
HRESULT Velmora::ILanguageExtender_GetPropName(LONG PropPos, LONG PropAlias, BSTR* strPropName) {
  return GetPropName(PropPos, PropAlias, strPropName);
}
HRESULT Velmora::ILanguageExtender_GetPropVal(LONG lPropNum, VARIANT* retVal) {
  return comBoundary(IID__Velmora, [&] { getPropVal(lPropNum, retVal); });
}
HRESULT Velmora::ILanguageExtender_SetPropVal(LONG lPropNum, VARIANT* retVal) {
  return comBoundary(IID__Velmora, [&] { setPropVal(lPropNum, retVal); });
}
HRESULT Velmora::ILanguageExtender_IsPropReadable(LONG lPropNum, LONG* retVal) {
  return IsPropReadable(lPropNum, retVal);
}
HRESULT Velmora::ILanguageExtender_IsPropWritable(LONG lPropNum, LONG* retVal) {
  return IsPropWritable(lPropNum, retVal);
}
HRESULT Velmora::ILanguageExtender_GetNMethods(LONG* Num) { return GetNMethods(Num); }
HRESULT Velmora::ILanguageExtender_FindMethod(BSTR strPropName, LONG* lPropPos) {
  return FindMethod(strPropName, lPropPos);
}
HRESULT Velmora::ILanguageExtender_GetMethodName(LONG MethPos, LONG MethAlias, BSTR* strMethName) {
  return GetMethodName(MethPos, MethAlias, strMethName);
}
HRESULT Velmora::ILanguageExtender_GetNParams(LONG lMethodPos, LONG* lMethodParams) {
  return GetNParams(lMethodPos, lMethodParams);
}
HRESULT Velmora::ILanguageExtender_GetParamDefValue(LONG lMethPos, LONG lParamPos, VARIANT* retVal) {
  return GetParamDefValue(lMethPos, lParamPos, retVal);
}
HRESULT Velmora::ILanguageExtender_HasRetVal(LONG lMethPos, LONG* boolRet) { return HasRetVal(lMethPos, boolRet); }
HRESULT Velmora::ILanguageExtender_CallAsProc(LONG iMethodNum, SAFEARRAY** ParamVal) {
  return comBoundary(IID__Velmora, [&] { callMethod(iMethodNum, ParamVal, nullptr); });
}
HRESULT Velmora::ILanguageExtender_CallAsFunc(LONG iMethodNum, VARIANT* retVal, SAFEARRAY** ParamVal) {
  return comBoundary(IID__Velmora, [&] {
    requirePointer(retVal);
    callMethod(iMethodNum, ParamVal, retVal);
  });
}

// ---- extension: description --------------------------------------------------

HRESULT Velmora::RegisterExtensionAs(BSTR* name) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(name);
    replaceBstr(name, kExtensionName);
  });
}

HRESULT Velmora::GetNProps(long* count) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(count);
    *count = static_cast<long>(propertyTable().size());
  });
}

HRESULT Velmora::FindProp(BSTR name, long* number) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(number);
    *number = findProperty(bstrView(name));
  });
}

HRESULT Velmora::GetPropName(long number, long alias, BSTR* name) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(name);
    auto table = propertyTable();
    replaceBstr(name, inTable(number, table.size()) ? termString(table[number].names, alias) : U16View());
  });
}

HRESULT Velmora::IsPropReadable(long, long* flag) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(flag);
    *flag = 1;
  });
}

HRESULT Velmora::IsPropWritable(long number, long* flag) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(flag);
    auto table = propertyTable();
    *flag = inTable(number, table.size()) && table[number].write != WriteAs::ReadOnly ? 1 : 0;
  });
}

HRESULT Velmora::GetNMethods(long* count) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(count);
    *count = static_cast<long>(methodTable().size());
  });
}

HRESULT Velmora::FindMethod(BSTR name, long* number) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(number);
    *number = findMethod(bstrView(name));
  });
}

HRESULT Velmora::GetMethodName(long number, long alias, BSTR* name) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(name);
    auto table = methodTable();
    replaceBstr(name, inTable(number, table.size()) ? termString(table[number].names, alias) : U16View());
  });
}

HRESULT Velmora::GetNParams(long number, long* count) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(count);
    auto table = methodTable();
    *count = inTable(number, table.size()) ? table[number].params : 0;
  });
}

HRESULT Velmora::GetParamDefValue(long, long, VARIANT* value) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(value);
    setNull(value);
  });
}

HRESULT Velmora::HasRetVal(long, long* flag) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(flag);
    *flag = 1;
  });
}

// ---- extension: properties ---------------------------------------------------

void Velmora::getPropVal(long number, VARIANT* value) {
  requirePointer(value);
  setNull(value);
  if (!inTable(number, kGetters.size())) return;
  kGetters[number](journal(), value);
}

void Velmora::setPropVal(long number, VARIANT* value) {
  requirePointer(value);
  auto table = propertyTable();
  if (!inTable(number, table.size())) return;
  if (table[number].write == WriteAs::ReadOnly) return;
  Exclusive call(*this);
  Journal& j = journal();
  if (table[number].write == WriteAs::Long) {
    j.SetCoincidenceObject(variantToLong(*value));
  } else {
    U16String text = variantToString(*value);
    kStringSetters[number](j, text);
  }
}

HRESULT Velmora::GetPropVal(long number, VARIANT* value) {
  return comBoundary(IID_ILanguageExtender, [&] { getPropVal(number, value); });
}

HRESULT Velmora::SetPropVal(long number, VARIANT* value) {
  return comBoundary(IID_ILanguageExtender, [&] { setPropVal(number, value); });
}

// ---- extension: methods ------------------------------------------------------

void Velmora::callMethod(long number, SAFEARRAY** params, VARIANT* result) {
  if (!inTable(number, methodTable().size())) return;
  Exclusive call(*this);
  Journal& j = journal();
  VariantArray args(params);
  unique_variant value;
  {
    // Held across the reader call: the reader works on the host object in
    // one of these elements.
    const UniqueSafeArrayLock lock = lockSafeArray(args.get());
    switch (static_cast<Methods>(number)) {
      case methGetStartPos: {
        std::int32_t position = variantToLong(args.at(0));
        HostValueTable table(dispatchOf(args.at(1)));
        setLong(value.get(), j.GetStartPos(position, table));
        break;
      }
      case methSetDateTimes: {
        U16String d1 = variantToString(args.at(0)), t1 = variantToString(args.at(1));
        U16String d2 = variantToString(args.at(2)), t2 = variantToString(args.at(3));
        setShort(value.get(), j.SetDateTimes(d1, t1, d2, t2) ? 1 : 0);
        break;
      }
      case methSetFilter: {
        U16String text = variantToString(args.at(0)), name = variantToString(args.at(1));
        setShort(value.get(), j.SetFilter(text, name) ? 1 : 0);
        break;
      }
      case methGetFilter: {
        U16String name = variantToString(args.at(0));
        setString(value.get(), j.GetFilter(name));
        break;
      }
      case methGetUsers: {
        std::int32_t position = variantToLong(args.at(0));
        HostValueList list(dispatchOf(args.at(1)));
        setLong(value.get(), j.GetUsers(position, list));
        break;
      }
      case methStoreErrRows: {
        U16String path = variantToString(args.at(0)), errPath = variantToString(args.at(1));
        setLong(value.get(), j.StoreErrRows(path, errPath));
        break;
      }
      case methReplaceDateTimes: {
        U16String path = variantToString(args.at(0)), listPath = variantToString(args.at(1));
        setLong(value.get(), j.ReplaceDateTimes(path, listPath));
        break;
      }
      default:
        return;
    }
  }
  if (result) {
    VariantClear(result);
    value.moveTo(result);
  }
}

HRESULT Velmora::CallAsProc(long number, SAFEARRAY** params) {
  return comBoundary(IID_ILanguageExtender, [&] { callMethod(number, params, nullptr); });
}

HRESULT Velmora::CallAsFunc(long number, VARIANT* result, SAFEARRAY** params) {
  return comBoundary(IID_ILanguageExtender, [&] {
    requirePointer(result);
    callMethod(number, params, result);
  });
}

}  // namespace velmora
