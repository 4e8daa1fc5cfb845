// IDispatch calls that a careless or hostile client makes: more named
// arguments than arguments, missing arrays, argument counts no array can
// hold, unknown members and flags. Each ends with a failure status and
// error information, never a crash or a write outside the caller's arrays,
// and the object answers correctly afterwards.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "addin_heap.h"
#include "host_sim.h"
#include "import_hook.h"

namespace {

using namespace sim;

constexpr DISPID kTermString = 5;
constexpr DISPID kBoolIsEnabled = 1;

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    // Guards on each side of the argument array catch writes outside it.
    for (VARIANT& v : guarded) {
      VariantInit(&v);
      V_VT(&v) = VT_I4;
      V_I4(&v) = 0x5EED;
    }
  }
  void TearDown() override { addin.initDone->Done(); }

  HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result = nullptr) {
    SetErrorInfo(0, nullptr);
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr = addin.disp->Invoke(id, IID_NULL, 0, flags, params, result, &excep, &argErr);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
  }
  void expectFailedCleanly(HRESULT hr, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_FALSE(errorDescription().empty());
    for (std::size_t i = 0; i < std::size(guarded); ++i) {
      if (i >= 1 && i <= 3) continue;  // the arguments themselves
      EXPECT_EQ(V_VT(&guarded[i]), VT_I4) << "element " << i;
      EXPECT_EQ(V_I4(&guarded[i]), 0x5EED) << "element " << i;
    }
  }
  // The object still answers a well-formed call.
  void expectStillAnswers() {
    VARIANT name = vstr(L"FilePath,ПутьКФайлу");
    VARIANT alias = vlong(1);
    VARIANT args[2] = {alias, name};  // reversed
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT r;
    VariantInit(&r);
    ASSERT_EQ(invoke(kTermString, DISPATCH_METHOD, &params, &r), S_OK);
    EXPECT_EQ(str(r), L"ПутьКФайлу");
    VariantClear(&r);
    VariantClear(&name);
  }

  AddIn addin = createAddIn();
  com_ptr<Connection> conn = make<Connection>();
  VARIANT guarded[5];  // elements 1 to 3 are handed over as arguments
};

TEST_F(Dispatch, MoreNamedArgumentsThanArguments) {
  DISPID named[4] = {DISPID_PROPERTYPUT, 0, 1, 2};
  for (UINT args : {0u, 1u, 2u}) {
    for (UINT namedCount = args + 1; namedCount <= 4; ++namedCount) {
      DISPPARAMS p{&guarded[1], named, args, namedCount};
      for (DISPID id : {kTermString, kBoolIsEnabled}) {
        for (WORD flags : {WORD{DISPATCH_METHOD}, WORD{DISPATCH_PROPERTYPUT}}) {
          expectFailedCleanly(invoke(id, flags, &p), "args " + std::to_string(args) + " named " +
                                                         std::to_string(namedCount));
        }
      }
    }
  }
  expectStillAnswers();
}

TEST_F(Dispatch, MissingArrays) {
  DISPPARAMS noArgs{nullptr, nullptr, 2, 0};
  expectFailedCleanly(invoke(kTermString, DISPATCH_METHOD, &noArgs), "null rgvarg");
  DISPPARAMS noNames{&guarded[1], nullptr, 1, 1};
  expectFailedCleanly(invoke(kBoolIsEnabled, DISPATCH_PROPERTYPUT, &noNames), "null named ids");
  // No DISPPARAMS at all stands for no arguments.
  expectFailedCleanly(invoke(kTermString, DISPATCH_METHOD, nullptr), "null DISPPARAMS for a method with arguments");
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(invoke(kBoolIsEnabled, DISPATCH_PROPERTYGET, nullptr, &r), S_OK);
  EXPECT_EQ(V_VT(&r), VT_BOOL);
  expectStillAnswers();
}

TEST_F(Dispatch, ArgumentCountsNoArrayHolds) {
  for (UINT count : {4u, 100u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    DISPPARAMS p{&guarded[1], nullptr, count, 0};
    expectFailedCleanly(invoke(kTermString, DISPATCH_METHOD, &p), "cArgs " + std::to_string(count));
    DISPPARAMS q{&guarded[1], nullptr, count, count};
    expectFailedCleanly(invoke(kTermString, DISPATCH_METHOD, &q), "cArgs and cNamedArgs " + std::to_string(count));
  }
  expectStillAnswers();
}

TEST_F(Dispatch, UnknownMembersAndFlags) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  for (DISPID id : {DISPID(0), DISPID(-1), DISPID(-4), DISPID(26), DISPID(999), DISPID(INT_MIN), DISPID(INT_MAX)}) {
    for (WORD flags : {WORD{DISPATCH_METHOD}, WORD{DISPATCH_PROPERTYGET}, WORD{DISPATCH_PROPERTYPUT}}) {
      expectFailedCleanly(invoke(id, flags, &none), "id " + std::to_string(id));
    }
  }
  for (WORD flags : {WORD{0}, WORD{0x10}, WORD{0x100}, WORD{0xFFF0}}) {
    expectFailedCleanly(invoke(kTermString, flags, &none), "flags " + std::to_string(flags));
  }
  // A method called as a property write, a property read called with
  // arguments it does not take.
  V_VT(&guarded[1]) = VT_I4;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS asPut{&guarded[1], &put, 1, 1};
  expectFailedCleanly(invoke(kTermString, DISPATCH_PROPERTYPUT, &asPut), "method as property write");
  DISPPARAMS extra{&guarded[1], nullptr, 2, 0};
  expectFailedCleanly(invoke(kBoolIsEnabled, DISPATCH_PROPERTYGET, &extra), "property read with arguments");
  EXPECT_EQ(addin.disp->Invoke(kTermString, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_FALSE(errorDescription().empty());
  expectStillAnswers();
}

TEST_F(Dispatch, NamesThatCannotBeLookedUp) {
  DISPID ids[4] = {7, 7, 7, 7};
  LPOLESTR good[] = {const_cast<LPOLESTR>(L"TermString"), const_cast<LPOLESTR>(L"strName")};
  LPOLESTR nulls[] = {nullptr};
  LPOLESTR secondNull[] = {good[0], nullptr};
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
  struct Case {
    const char* what;
    LPOLESTR* names;
    UINT count;
    DISPID* out;
  };
  const std::vector<Case> cases = {
      {"null names", nullptr, 1, ids},   {"null ids", good, 1, nullptr},
      {"null name", nulls, 1, ids},      {"null second name", secondNull, 2, ids},
      {"huge count", good, 0x7FFFFFFF, ids}, {"no names", good, 0, ids},
      {"unknown", unknown, 1, ids},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetErrorInfo(0, nullptr);
    EXPECT_TRUE(FAILED(addin.disp->GetIDsOfNames(IID_NULL, c.names, c.count, 0, c.out)));
    EXPECT_FALSE(errorDescription().empty());
  }
  EXPECT_EQ(ids[2], 7) << "nothing written past the names asked for";
  EXPECT_EQ(addin.disp->GetIDsOfNames(IID_IDispatch, good, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  ASSERT_EQ(addin.disp->GetIDsOfNames(IID_NULL, good, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], kTermString);
  expectStillAnswers();
}

TEST_F(Dispatch, ByReferenceScriptVariablesStillWork) {
  // What the adapter is for: a script passes its variables by reference.
  VARIANT nameValue = vstr(L"GetData,ПолучитьДанные");
  VARIANT aliasValue = vshort(0);
  VARIANT args[2];
  V_VT(&args[0]) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&args[0]) = &aliasValue;
  V_VT(&args[1]) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&args[1]) = &nameValue;
  DISPPARAMS p{args, nullptr, 2, 0};
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(invoke(kTermString, DISPATCH_METHOD, &p, &r), S_OK);
  EXPECT_EQ(str(r), L"GetData");
  EXPECT_EQ(str(nameValue), L"GetData,ПолучитьДанные");
  VariantClear(&r);
  VariantClear(&nameValue);
}

// ---- type descriptions under allocation failures -------------------------------

// The type information the add-in answers IDispatch from, wrapped so that
// the descriptions it takes and gives back are counted.
int g_typeAttrs = 0;
int g_funcDescs = 0;

class CountingTypeInfo final : public ITypeInfo {
 public:
  explicit CountingTypeInfo(ITypeInfo* inner) : inner_(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
      *out = static_cast<ITypeInfo*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) override {
    HRESULT hr = inner_->GetTypeAttr(attr);
    if (SUCCEEDED(hr)) ++g_typeAttrs;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override { return inner_->GetTypeComp(comp); }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) override {
    HRESULT hr = inner_->GetFuncDesc(index, desc);
    if (SUCCEEDED(hr)) ++g_funcDescs;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** desc) override { return inner_->GetVarDesc(index, desc); }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
    return inner_->GetNames(id, names, max, count);
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override {
    return inner_->GetRefTypeOfImplType(index, ref);
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) override {
    return inner_->GetImplTypeFlags(index, flags);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    return inner_->GetIDsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override {
    return inner_->Invoke(instance, id, flags, params, result, excep, argErr);
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* context,
                                             BSTR* helpFile) override {
    return inner_->GetDocumentation(id, name, doc, context, helpFile);
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal) override {
    return inner_->GetDllEntry(id, kind, dll, name, ordinal);
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override {
    return inner_->GetRefTypeInfo(ref, info);
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID id, INVOKEKIND kind, PVOID* address) override {
    return inner_->AddressOfMember(id, kind, address);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, PVOID* out) override {
    return inner_->CreateInstance(outer, iid, out);
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID id, BSTR* mops) override { return inner_->GetMops(id, mops); }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
    return inner_->GetContainingTypeLib(lib, index);
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override {
    --g_typeAttrs;
    inner_->ReleaseTypeAttr(attr);
  }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override {
    --g_funcDescs;
    inner_->ReleaseFuncDesc(desc);
  }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* desc) override { inner_->ReleaseVarDesc(desc); }

 private:
  com_ptr<ITypeInfo> inner_{};
  ULONG refs_ = 1;
};

// The add-in's LoadTypeLibEx hands back the real library; the one type
// information it asks the library for comes wrapped.
class CountingTypeLib final : public ITypeLib {
 public:
  explicit CountingTypeLib(ITypeLib* inner) : inner_(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ITypeLib) {
      *out = static_cast<ITypeLib*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return inner_->GetTypeInfoCount(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, info);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    return inner_->GetTypeInfoType(index, kind);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    com_ptr<ITypeInfo> real;
    HRESULT hr = inner_->GetTypeInfoOfGuid(guid, real.put());
    *info = SUCCEEDED(hr) ? new CountingTypeInfo(real.get()) : nullptr;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) override { return inner_->GetLibAttr(attr); }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override { return inner_->GetTypeComp(comp); }
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context,
                                             BSTR* helpFile) override {
    return inner_->GetDocumentation(index, name, doc, context, helpFile);
  }
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG hash, BOOL* found) override {
    return inner_->IsName(name, hash, found);
  }
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids,
                                     USHORT* found) override {
    return inner_->FindName(name, hash, infos, ids, found);
  }
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { inner_->ReleaseTLibAttr(attr); }

 private:
  com_ptr<ITypeLib> inner_{};
  ULONG refs_ = 1;
};

void* g_loadTypeLibEx = nullptr;

HRESULT WINAPI countingLoadTypeLibEx(LPCOLESTR file, REGKIND kind, ITypeLib** lib) {
  using Fn = HRESULT(WINAPI*)(LPCOLESTR, REGKIND, ITypeLib**);
  com_ptr<ITypeLib> real;
  HRESULT hr = reinterpret_cast<Fn>(g_loadTypeLibEx)(file, kind, real.put());
  *lib = SUCCEEDED(hr) ? new CountingTypeLib(real.get()) : nullptr;
  return hr;
}

TEST(DispatchOutOfMemory, EveryAllocationOfAByReferenceCallFailsCleanlyAndReleasesTheDescriptions) {
  ImportHook hook(addinModule(), "oleaut32.dll", "LoadTypeLibEx", reinterpret_cast<void*>(&countingLoadTypeLibEx));
  g_loadTypeLibEx = hook.original();
  AddIn addin = createAddIn();  // answers IDispatch from the wrapped library
  AddinHeapWatch heap;
  // The first exception thrown in the library sets up the runtime's state
  // for this thread, which stays: one failed call before counting.
  for (std::int64_t k = 0; k <= 1000; ++k) {
    const bool warmUp = k == 0;
    SCOPED_TRACE("allocation " + std::to_string(k));
    // A script's variables by reference: the adapter's path.
    VARIANT nameValue = vstr(L"GetData,ПолучитьДанные");
    VARIANT aliasValue = vshort(1);
    VARIANT args[2];
    V_VT(&args[0]) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&args[0]) = &aliasValue;
    V_VT(&args[1]) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&args[1]) = &nameValue;
    DISPPARAMS p{args, nullptr, 2, 0};
    VARIANT r;
    VariantInit(&r);
    const std::int64_t blocks = heap.figures().liveBlocks;
    heap.failAllocation(warmUp ? 1 : k);
    const HRESULT hr = addin.disp->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &p, &r, nullptr, nullptr);
    const bool refused = heap.failed();
    heap.failAllocation(0);
    EXPECT_EQ(g_typeAttrs, 0) << "type attributes not released";
    EXPECT_EQ(g_funcDescs, 0) << "function descriptions not released";
    if (!warmUp) {
      EXPECT_EQ(heap.figures().liveBlocks, blocks) << "heap blocks left behind";
    }
    VariantClear(&nameValue);
    if (!refused) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(str(r), L"ПолучитьДанные");
      VariantClear(&r);
      EXPECT_GT(k, 3) << "the adapter allocates";
      return;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(errorDescription(), L"Недостаточно памяти");
    VariantClear(&r);
  }
  ADD_FAILURE() << "the call never succeeded";
}

}  // namespace
