// Wrong script types and malformed argument arrays, as a careless host or a
// script may hand them to the add-in: every method and property call ends
// with a result or with a failure status carrying error information, never
// a crash, the argument array is never left locked, and the add-in still
// works afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "host_sim.h"
#include "memhost/memory_host.h"

namespace {

using namespace sim;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;

// Parameter counts by method number, and arguments that work.
constexpr long kParams[7] = {2, 4, 2, 1, 2, 2, 2};
constexpr long kRetValMark = 12345;

class HostileTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir = std::filesystem::path(temp) / (L"velmora_hostile_" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    // Converted values may name files such as "1" or "-1": they land here.
    GetCurrentDirectoryW(MAX_PATH, previousDir);
    SetCurrentDirectoryW(dir.c_str());
    std::string log;
    for (int k = 0; k < 30; ++k) {
      char line[128];
      std::snprintf(line, sizeof line, "20050101;10:%02d:00;%s;E;Docs;DocWrite;%d;rem;O%d;pres\r\n", k,
                    k % 2 ? "Ivanov" : "Petrov", k % 3 == 0 ? 5 : 1, k);
      log += line;
    }
    logSize = static_cast<long>(log.size());
    write(L"log.txt", log);
    write(L"list.txt", "20991231;23:59:59;1\r\n");
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    restore();
  }
  void TearDown() override {
    addin.initDone->Done();
    for (VARIANT& v : referents) VariantClear(&v);
    SysFreeString(referentText);
    SetCurrentDirectoryW(previousDir);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void write(const wchar_t* name, const std::string& bytes) {
    HANDLE h = CreateFileW((dir / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(h);
  }

  // The settings a working script would have; hostile calls may change any.
  void restore() {
    ASSERT_EQ(setProp(addin.ext.get(), 0, vstr((dir / L"log.txt").wstring())), S_OK);
    for (auto [n, text] : {std::pair{6L, L""}, {7L, L"0000"}, {8L, L""}, {9L, L""}, {11L, L"00000000"}}) {
      ASSERT_EQ(setProp(addin.ext.get(), n, vstr(text)), S_OK) << n;
    }
    ASSERT_EQ(setProp(addin.ext.get(), 12, vlong(0)), S_OK);
    ArgArray period{vstr(L"20050101"), vstr(L""), vstr(L"20050131"), vstr(L"")};
    ASSERT_EQ(addin.ext->CallAsProc(1, period.put()), S_OK);
    for (const wchar_t* name : {L"3", L"4", L"5", L"6", L"7"}) {
      ArgArray off{vstr(L""), vstr(name)};
      ASSERT_EQ(addin.ext->CallAsProc(2, off.put()), S_OK);
    }
    for (const wchar_t* name : {L"8", L"9", L"10"}) {
      ArgArray off{vstr(L""), vstr(name)};  // too few bars: the filter goes off
      ASSERT_EQ(addin.ext->CallAsProc(2, off.put()), S_OK);
    }
  }

  // An argument that works in position i of method m.
  VARIANT good(long m, long i) {
    switch (m) {
      case 0: return i == 0 ? vlong(0) : vobj(table.get());
      case 1: return vstr(i == 0 ? L"20050101" : i == 2 ? L"20050131" : L"");
      case 2: return vstr(i == 0 ? L"|Ivanov|" : L"FilterUsers");
      case 3: return vstr(L"FilterUsers");
      case 4: return i == 0 ? vlong(0) : vobj(list.get());
      case 5: return vstr(i == 0 ? L"keep.txt" : L"err.txt");
      default: return vstr(i == 0 ? L"out.txt" : L"list.txt");
    }
  }

  // A by-reference variant whose referent lives as long as the test.
  VARIANT byref(VARIANT referent) {
    referents.push_back(referent);
    VARIANT v;
    V_VT(&v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&v) = &referents.back();
    return v;
  }

  // Values of every kind a host variant can carry, made afresh per use.
  std::vector<std::pair<const char*, std::function<VARIANT()>>> hostileValues() {
    auto make = [](VARTYPE vt, auto setter) {
      return [vt, setter] {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = vt;
        setter(v);
        return v;
      };
    };
    return {
        {"Empty", [] { VARIANT v; VariantInit(&v); return v; }},
        {"Null", vnull},
        {"null IDispatch", [] { return vobj(nullptr); }},
        {"null IUnknown", make(VT_UNKNOWN, [](VARIANT& v) { V_UNKNOWN(&v) = nullptr; })},
        {"connection object", [this] { return vobj(conn.get()); }},
        {"value table", [this] { return vobj(table.get()); }},
        {"value list", [this] { return vobj(list.get()); }},
        {"nested array",
         [] {
           SAFEARRAY* inner = SafeArrayCreateVector(VT_VARIANT, 0, 2);
           SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 1);
           long i = 0;
           VARIANT s = vstr(L"внутри");
           SafeArrayPutElement(inner, &i, &s);
           VariantClear(&s);
           VARIANT a;
           V_VT(&a) = VT_ARRAY | VT_VARIANT;
           V_ARRAY(&a) = inner;
           SafeArrayPutElement(outer, &i, &a);
           VariantClear(&a);
           VARIANT v;
           V_VT(&v) = VT_ARRAY | VT_VARIANT;
           V_ARRAY(&v) = outer;
           return v;
         }},
        {"null array", make(VT_ARRAY | VT_VARIANT, [](VARIANT& v) { V_ARRAY(&v) = nullptr; })},
        {"missing argument", make(VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = DISP_E_PARAMNOTFOUND; })},
        {"null BSTR", make(VT_BSTR, [](VARIANT& v) { V_BSTR(&v) = nullptr; })},
        {"long text", [] { return vstr(std::wstring(100000, L'|')); }},
        {"huge double", make(VT_R8, [](VARIANT& v) { V_R8(&v) = 1e300; })},
        {"NaN", make(VT_R8, [](VARIANT& v) { V_R8(&v) = std::numeric_limits<double>::quiet_NaN(); })},
        {"64-bit", make(VT_I8, [](VARIANT& v) { V_I8(&v) = std::numeric_limits<LONGLONG>::min(); })},
        {"unsigned", make(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 0xFFFFFFFFu; })},
        {"int max", [] { return vlong(std::numeric_limits<long>::max()); }},
        {"int min", [] { return vlong(std::numeric_limits<long>::min()); }},
        {"date", make(VT_DATE, [](VARIANT& v) { V_DATE(&v) = -1e9; })},
        {"boolean", [] { return vbool(true); }},
        {"ref to Null", [this] { return byref(vnull()); }},
        {"ref to table", [this] { return byref(vobj(table.get())); }},
        {"ref to text", [this] { return byref(vstr(L"ссылка")); }},
        {"ref to ref", [this] { return byref(byref(vlong(3))); }},
        {"long by reference", [this] { return makeRef(VT_I4 | VT_BYREF, &referentLong); }},
        {"text by reference", [this] { return makeRef(VT_BSTR | VT_BYREF, &referentText); }},
        {"object by reference", [this] { return makeRef(VT_DISPATCH | VT_BYREF, &referentObject); }},
    };
  }
  VARIANT makeRef(VARTYPE vt, void* p) {
    VARIANT v;
    V_VT(&v) = vt;
    V_BYREF(&v) = p;
    return v;
  }

  // One call of method m through CallAsFunc or CallAsProc: a result of the
  // method's type, or a failure with error information and retVal as it was;
  // the array is unlocked afterwards.
  void expectContained(long m, SAFEARRAY** params, bool asFunc, const std::string& what) {
    SCOPED_TRACE(what + (asFunc ? " CallAsFunc " : " CallAsProc ") + std::to_string(m));
    SetErrorInfo(0, nullptr);
    VARIANT r = vlong(kRetValMark);
    const HRESULT hr = asFunc ? addin.ext->CallAsFunc(m, &r, params) : addin.ext->CallAsProc(m, params);
    if (params != nullptr && *params != nullptr) {
      EXPECT_EQ((*params)->cLocks, 0u);
    }
    if (FAILED(hr)) {
      EXPECT_FALSE(errorDescription().empty()) << std::hex << hr;
      EXPECT_EQ(V_VT(&r), VT_I4);
      EXPECT_EQ(V_I4(&r), kRetValMark);
    } else if (asFunc) {
      const VARTYPE want = m < 0 || m > 6 ? VT_I4 : m == 1 || m == 2 ? VT_I2 : m == 3 ? VT_BSTR : VT_I4;
      EXPECT_EQ(V_VT(&r), want);
      if (m < 0 || m > 6) {
        EXPECT_EQ(V_I4(&r), kRetValMark);
      }
    }
    VariantClear(&r);
  }

  long numErr() {
    VARIANT v = getProp(addin.ext.get(), 5);
    const long n = V_VT(&v) == VT_I2 ? V_I2(&v) : -99999;
    VariantClear(&v);
    return n;
  }

  AddIn addin = createAddIn();
  com_ptr<Connection> conn = make<Connection>();
  MemoryValueTable tableStore;
  MemoryValueList listStore;
  com_ptr<Table> table = make<Table>(tableStore);
  com_ptr<List> list = make<List>(listStore);
  std::filesystem::path dir;
  wchar_t previousDir[MAX_PATH] = {};
  long logSize = 0;
  std::deque<VARIANT> referents;
  long referentLong = 7;
  BSTR referentText = SysAllocString(L"7");
  IDispatch* referentObject = nullptr;
};

constexpr long kMethods[] = {0, 1, 2, 3, 4, 5, 6, -1, 7, 100, std::numeric_limits<long>::min()};

TEST_F(HostileTypes, EveryMethodTakesEveryKindOfValueInEveryPosition) {
  for (auto& [name, value] : hostileValues()) {
    for (long m : kMethods) {
      const long count = m >= 0 && m <= 6 ? kParams[m] : 2;
      for (long i = 0; i < count; ++i) {
        for (bool asFunc : {true, false}) {
          ArgArray args(count);
          for (long k = 0; k < count; ++k) args[k] = k == i ? value() : good(m >= 0 && m <= 6 ? m : 3, k);
          expectContained(m, args.put(), asFunc, std::string(name) + " at " + std::to_string(i));
        }
      }
    }
    restore();
  }
}

TEST_F(HostileTypes, ObjectArgumentThatIsNoTableOrListFailsInsideTheReader) {
  // GetData and GetUsers trap their own errors: -1, with NumErr and TextErr.
  for (auto& [name, value] : hostileValues()) {
    const std::string what = name;
    if (what == "value table" || what == "ref to table" || what == "value list") continue;
    for (long m : {0L, 4L}) {
      SCOPED_TRACE(what + " for method " + std::to_string(m));
      ArgArray args{vlong(0), value()};
      VARIANT r = vlong(kRetValMark);
      ASSERT_EQ(addin.ext->CallAsFunc(m, &r, args.put()), S_OK);
      EXPECT_EQ(V_VT(&r), VT_I4);
      EXPECT_EQ(V_I4(&r), -1);
      EXPECT_NE(numErr(), 0);
      VARIANT text = getProp(addin.ext.get(), 10);
      EXPECT_EQ(V_VT(&text), VT_BSTR);
      EXPECT_GT(SysStringLen(V_BSTR(&text)), 0u);
      VariantClear(&text);
    }
  }
  // A table where a list belongs, and the other way round.
  ArgArray swapped{vlong(0), vobj(table.get())};
  VARIANT r = vlong(kRetValMark);
  ASSERT_EQ(addin.ext->CallAsFunc(4, &r, swapped.put()), S_OK);
  EXPECT_EQ(V_I4(&r), -1);
  EXPECT_NE(numErr(), 0);
}

TEST_F(HostileTypes, MalformedArgumentArrays) {
  for (long m : kMethods) {
    const long count = m >= 0 && m <= 6 ? kParams[m] : 2;
    const long real = m >= 0 && m <= 6 ? m : 3;
    for (bool asFunc : {true, false}) {
      ArgArray none(0);
      expectContained(m, none.put(), asFunc, "empty array");
      ArgArray shorter(count - 1);
      for (long k = 0; k + 1 < count; ++k) shorter[k] = good(real, k);
      expectContained(m, shorter.put(), asFunc, "one element short");

      SAFEARRAYBOUND square[2] = {{static_cast<ULONG>(count), 0}, {static_cast<ULONG>(count), 0}};
      SAFEARRAY* matrix = SafeArrayCreate(VT_VARIANT, 2, square);
      expectContained(m, &matrix, asFunc, "two dimensions");
      SafeArrayDestroy(matrix);

      // Elements from index 1: element 0 is missing.
      SAFEARRAYBOUND fromOne{static_cast<ULONG>(count), 1};
      SAFEARRAY* shifted = SafeArrayCreate(VT_VARIANT, 1, &fromOne);
      for (long k = 1; k <= count; ++k) {
        VARIANT v = good(real, k - 1);
        SafeArrayPutElement(shifted, &k, &v);
        VariantClear(&v);
      }
      expectContained(m, &shifted, asFunc, "bounds from 1");
      SafeArrayDestroy(shifted);

      // Elements that are not variants.
      SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(count));
      for (long k = 0; k < count; ++k) {
        BSTR s = SysAllocString(L"20050101");
        SafeArrayPutElement(texts, &k, s);
        SysFreeString(s);
      }
      expectContained(m, &texts, asFunc, "array of texts");
      SafeArrayDestroy(texts);

      SAFEARRAY* nothing = nullptr;
      expectContained(m, &nothing, asFunc, "null array");
      expectContained(m, nullptr, asFunc, "no array at all");
    }
  }
  // A null result pointer for a function call.
  ArgArray args{vstr(L"FilterUsers")};
  SetErrorInfo(0, nullptr);
  const HRESULT hr = addin.ext->CallAsFunc(3, nullptr, args.put());
  EXPECT_TRUE(SUCCEEDED(hr) || !errorDescription().empty()) << std::hex << hr;
}

TEST_F(HostileTypes, EveryPropertyTakesEveryKindOfValue) {
  constexpr long kProps[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1, 13, 1000, std::numeric_limits<long>::min()};
  for (auto& [name, value] : hostileValues()) {
    for (long n : kProps) {
      SCOPED_TRACE(std::string(name) + " property " + std::to_string(n));
      SetErrorInfo(0, nullptr);
      VARIANT v = value();
      const HRESULT hr = addin.ext->SetPropVal(n, &v);
      if (FAILED(hr)) {
        EXPECT_FALSE(errorDescription().empty()) << std::hex << hr;
      }
      VariantClear(&v);

      // A read replaces whatever the host's variant held.
      VARIANT out = value();
      ASSERT_EQ(addin.ext->GetPropVal(n, &out), S_OK);
      if (n < 0 || n > 12) {
        EXPECT_EQ(V_VT(&out), VT_NULL);
      } else {
        const VARTYPE want = n == 1 || n == 2 ? VT_I4 : n == 5 || n == 12 ? VT_I2 : VT_BSTR;
        EXPECT_EQ(V_VT(&out), want);
      }
      VariantClear(&out);
    }
    restore();
  }
  for (long n : kProps) {
    SetErrorInfo(0, nullptr);
    HRESULT hr = addin.ext->SetPropVal(n, nullptr);
    EXPECT_TRUE(SUCCEEDED(hr) || !errorDescription().empty()) << n;
    hr = addin.ext->GetPropVal(n, nullptr);
    EXPECT_TRUE(FAILED(hr)) << n;
  }
}

TEST_F(HostileTypes, AddInStillWorksAfterEveryHostileCall) {
  for (auto& [name, value] : hostileValues()) {
    for (long m = 0; m <= 6; ++m) {
      ArgArray args(kParams[m]);
      for (long k = 0; k < kParams[m]; ++k) args[k] = k == kParams[m] - 1 ? value() : good(m, k);
      VARIANT r;
      VariantInit(&r);
      addin.ext->CallAsFunc(m, &r, args.put());
      VariantClear(&r);
    }
    for (long n = 0; n <= 12; ++n) {
      VARIANT v = value();
      addin.ext->SetPropVal(n, &v);
      VariantClear(&v);
    }
  }
  restore();
  MemoryValueTable fresh;
  auto freshTable = make<Table>(fresh);
  ArgArray args{vlong(0), vobj(freshTable.get())};
  VARIANT r;
  VariantInit(&r);
  ASSERT_EQ(addin.ext->CallAsFunc(0, &r, args.put()), S_OK);
  EXPECT_EQ(V_VT(&r), VT_I4);
  EXPECT_EQ(V_I4(&r), logSize + 1);
  EXPECT_EQ(fresh.rowCount(), 30);
  EXPECT_EQ(numErr(), 0);
  EXPECT_EQ(args[0].vt, VT_I4);
  EXPECT_EQ(V_I4(&args[0]), 0);  // the script's position is not written back
}

}  // namespace
