// regsvr32 on Velmora.dll: machine-wide and per-user registration, the
// ProgID, the type library, and unregistration removing what was written.
// Also the registration functions called in this process, with registry
// writes or heap allocations of the library made to fail halfway: a failed
// registration takes back exactly what it added, and nothing escapes as an
// exception.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "Velmora_h.h"
#include "addin_heap.h"
#include "host_sim.h"
#include "import_hook.h"

namespace {

using sim::com_ptr;

std::wstring regsvr32(const std::wstring& options) {
  return L"regsvr32.exe /s " + options + L" \"" + sim::addinPath() + L"\"";
}

bool keyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring readValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return L"<none>";
  return data;
}

std::wstring guid(REFGUID g) {
  wchar_t text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

const std::wstring kClasses = L"Software\\Classes\\";

std::wstring lower(std::wstring s) {
  for (auto& c : s) c = towlower(c);
  return s;
}

class Registration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  static void TearDownTestSuite() {
    // Leave the library registered machine-wide, as other tests expect.
    sim::run(regsvr32(L""));
    CoUninitialize();
  }
  void SetUp() override {
    sim::run(regsvr32(L"/u"));
    sim::run(regsvr32(L"/u /n /i:user"));
  }

  // Every tree that registration owns, under one Classes root.
  static std::vector<std::wstring> ownedKeys() {
    return {L"CLSID\\" + guid(CLSID_Velmora), L"AddIn.Velmora", L"TypeLib\\" + guid(LIBID_AddIn),
            L"Interface\\" + guid(IID__Velmora)};
  }
};

TEST_F(Registration, MachineWideWritesClassProgIdAndTypeLibrary) {
  ASSERT_EQ(sim::run(regsvr32(L"")), 0u);
  const std::wstring clsid = kClasses + L"CLSID\\" + guid(CLSID_Velmora);
  EXPECT_EQ(lower(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32")), lower(sim::addinPath()));
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid + L"\\ProgID"), L"AddIn.Velmora");
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kClasses + L"AddIn.Velmora\\CLSID"), guid(CLSID_Velmora));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClasses + L"AddIn.Velmora"));

  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(L"AddIn.Velmora", &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, CLSID_Velmora));

  com_ptr<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(LIBID_AddIn, 1, 0, 0x409, lib.put()), S_OK);
  com_ptr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID__Velmora, info.put()), S_OK);
  com_ptr<ITypeInfo> coclass;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(CLSID_Velmora, coclass.put()), S_OK);
}

TEST_F(Registration, TypeLibraryDescribesEnumerationsWithTableNumbers) {
  ASSERT_EQ(sim::run(regsvr32(L"")), 0u);
  com_ptr<ITypeLib> lib;
  ASSERT_EQ(LoadRegTypeLib(LIBID_AddIn, 1, 0, 0x409, lib.put()), S_OK);
  // Look the enumeration members up by name, as a script would.
  struct Expect {
    const wchar_t* name;
    long value;
  } expected[] = {{L"propFilePath", 0}, {L"propCoincidenceObject", 12}, {L"LastProp", 13},
                  {L"methGetStartPos", 0}, {L"methReplaceDateTimes", 6}, {L"LastMethod", 7}};
  for (const auto& e : expected) {
    com_ptr<ITypeInfo> info;
    MEMBERID id = 0;
    USHORT found = 1;
    std::wstring name = e.name;
    ASSERT_EQ(lib->FindName(name.data(), 0, info.put(), &id, &found), S_OK) << name;
    ASSERT_EQ(found, 1) << name;
    VARDESC* var = nullptr;
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    bool seen = false;
    for (UINT i = 0; i < attr->cVars; ++i) {
      ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
      if (var->memid == id) {
        seen = true;
        EXPECT_EQ(V_I4(var->lpvarValue), e.value) << name;
      }
      info->ReleaseVarDesc(var);
    }
    info->ReleaseTypeAttr(attr);
    EXPECT_TRUE(seen) << name;
  }
}

TEST_F(Registration, UnregisterRemovesEverythingRegistrationWrote) {
  ASSERT_EQ(sim::run(regsvr32(L"")), 0u);
  for (const auto& key : ownedKeys()) EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kClasses + key)) << key;
  ASSERT_EQ(sim::run(regsvr32(L"/u")), 0u);
  for (const auto& key : ownedKeys()) EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + key)) << key;
  CLSID found{};
  EXPECT_NE(CLSIDFromProgID(L"AddIn.Velmora", &found), S_OK);
  // Unregistering again finds nothing to remove and still succeeds.
  EXPECT_EQ(sim::run(regsvr32(L"/u")), 0u);
}

TEST_F(Registration, PerUserWritesUnderCurrentUserOnlyAndCreatesTheClass) {
  ASSERT_EQ(sim::run(regsvr32(L"/n /i:user")), 0u);
  for (const auto& key : ownedKeys()) {
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kClasses + key)) << key;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + key)) << key;
  }
  // Follow the user's entries as COM would: ProgID to class, class to
  // server, server to a new object. (Wine's classes root does not show the
  // user's classes, so the lookup is done here on the user's keys.)
  CLSID found{};
  ASSERT_EQ(CLSIDFromString(readValue(HKEY_CURRENT_USER, kClasses + L"AddIn.Velmora\\CLSID").c_str(), &found), S_OK);
  EXPECT_TRUE(IsEqualCLSID(found, CLSID_Velmora));
  std::wstring server = readValue(HKEY_CURRENT_USER, kClasses + L"CLSID\\" + guid(found) + L"\\InprocServer32");
  EXPECT_EQ(lower(server), lower(sim::addinPath()));
  HMODULE module = LoadLibraryW(server.c_str());
  ASSERT_TRUE(module);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  // Through void (*)(): the one function-pointer type that casts to any
  // other without a -Wcast-function-type report.
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_TRUE(get);
  com_ptr<IClassFactory> factory;
  ASSERT_EQ(get(found, IID_IClassFactory, factory.put_void()), S_OK);
  com_ptr<IDispatch> object;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
  object = nullptr;
  factory = nullptr;
  if (keyExists(HKEY_CLASSES_ROOT, L"AddIn.Velmora")) {
    // Where the classes root merges the user's classes, COM finds it too.
    ASSERT_EQ(CLSIDFromProgID(L"AddIn.Velmora", &found), S_OK);
    EXPECT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void()), S_OK);
    object = nullptr;
  }

  ASSERT_EQ(sim::run(regsvr32(L"/u /n /i:user")), 0u);
  for (const auto& key : ownedKeys()) EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClasses + key)) << key;
}

// ---- in this process, with failures injected ----------------------------------

// Every key and value below the trees registration touches, as text.
using Snapshot = std::map<std::wstring, std::wstring>;

void snapshotKey(HKEY root, const std::wstring& path, Snapshot& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out[path] = L"<key>";
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLen = 256, type = 0;
    BYTE data[2048];
    DWORD size = sizeof data;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    out[path + L" : " + name] =
        std::to_wstring(type) + L" " + std::wstring(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
  }
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLen = 256;
    if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.push_back(name);
  }
  RegCloseKey(key);
  for (const auto& sub : subkeys) snapshotKey(root, path + L"\\" + sub, out);
}

Snapshot snapshot(HKEY root) {
  Snapshot out;
  for (const auto& key : {L"CLSID\\" + guid(CLSID_Velmora), std::wstring(L"AddIn.Velmora"),
                          L"TypeLib\\" + guid(LIBID_AddIn), L"Interface\\" + guid(IID__Velmora)})
    snapshotKey(root, kClasses + key, out);
  return out;
}

void setValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

const wchar_t* const kOtherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";
const wchar_t* const kOwnPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

// What another version of the type library and the library built for the
// other platform would have written beside this one.
void writeForeignEntries(HKEY root) {
  const std::wstring lib = kClasses + L"TypeLib\\" + guid(LIBID_AddIn);
  setValue(root, lib + L"\\2.0", nullptr, L"AddIn 2");
  setValue(root, lib + L"\\2.0\\0\\win32", nullptr, L"C:\\Base\\Velmora2.dll");
  setValue(root, lib + L"\\1.0\\0\\" + kOtherPlatform, nullptr, L"C:\\Base\\Other\\Velmora.dll");
  setValue(root, lib + L"\\1.0", nullptr, L"AddIn");
  setValue(root, lib + L"\\1.0\\FLAGS", nullptr, L"0");
}

// Registry calls of the library that fail at the k-th call.
struct RegistryFaults {
  static inline int countdown = 0;
  static inline int calls = 0;
  static inline void* originalSet = nullptr;
  static inline void* originalCreate = nullptr;
  static bool fail() {
    ++calls;
    return countdown > 0 && --countdown == 0;
  }
  static LSTATUS WINAPI set(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (fail()) return ERROR_ACCESS_DENIED;
    using Fn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
    return reinterpret_cast<Fn>(originalSet)(key, name, reserved, type, data, size);
  }
  static LSTATUS WINAPI create(HKEY key, LPCWSTR sub, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                               const SECURITY_ATTRIBUTES* sa, PHKEY out, LPDWORD disposition) {
    if (fail()) return ERROR_ACCESS_DENIED;
    using Fn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*, PHKEY,
                                LPDWORD);
    return reinterpret_cast<Fn>(originalCreate)(key, sub, reserved, cls, options, sam, sa, out, disposition);
  }

  RegistryFaults() {
    originalSet = setHook.original();
    originalCreate = createHook.original();
  }
  sim::ImportHook setHook{sim::addinModule(), "advapi32.dll", "RegSetValueExW", reinterpret_cast<void*>(&set)};
  sim::ImportHook createHook{sim::addinModule(), "advapi32.dll", "RegCreateKeyExW",
                             reinterpret_cast<void*>(&create)};
};

using Entry = HRESULT(STDAPICALLTYPE*)();
using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

// Runs one of the library's exported functions; an exception that escapes
// it counts as a failure of the test.
HRESULT exported(const std::function<HRESULT()>& call) {
  try {
    return call();
  } catch (...) {
    ADD_FAILURE() << "an exception escaped an exported function";
    return E_UNEXPECTED;
  }
}

class RegistrationInProcess : public Registration {
 protected:
  // Entries written by hand would outlive the test in the prefix.
  void TearDown() override {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      for (const auto& key : ownedKeys()) RegDeleteTreeW(root, (kClasses + key).c_str());
  }
  Entry registerServer = sim::addinExport<Entry>("DllRegisterServer");
  Entry unregisterServer = sim::addinExport<Entry>("DllUnregisterServer");
  Install install = sim::addinExport<Install>("DllInstall");

  // For every k: the k-th registry write (or key creation) fails. The call
  // fails with that status and the registry is as it was before; once k is
  // past the last write, registration succeeds.
  void everyWriteFails(HKEY root, const std::function<HRESULT()>& call) {
    const Snapshot before = snapshot(root);
    int k = 1;
    for (;; ++k) {
      SCOPED_TRACE("registry call " + std::to_string(k));
      RegistryFaults faults;
      RegistryFaults::countdown = k;
      RegistryFaults::calls = 0;
      const HRESULT hr = exported(call);
      if (RegistryFaults::countdown != 0) {
        ASSERT_EQ(hr, S_OK) << "no registry call failed, yet the registration did";
        break;
      }
      EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
      EXPECT_EQ(snapshot(root), before);
      ASSERT_LT(k, 200);
    }
    EXPECT_GT(k, 17) << "each value and key was made to fail";
  }
};

TEST_F(RegistrationInProcess, FailedRegistrationKeepsTheRegistrationThatWasThere) {
  ASSERT_EQ(sim::run(regsvr32(L"")), 0u);
  writeForeignEntries(HKEY_LOCAL_MACHINE);
  setValue(HKEY_LOCAL_MACHINE, kClasses + L"CLSID\\" + guid(CLSID_Velmora), L"AppID", L"{kept}");
  everyWriteFails(HKEY_LOCAL_MACHINE, [this] { return registerServer(); });
  CLSID found{};
  EXPECT_EQ(CLSIDFromProgID(L"AddIn.Velmora", &found), S_OK);
  com_ptr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(LIBID_AddIn, 1, 0, 0x409, lib.put()), S_OK);
}

TEST_F(RegistrationInProcess, FailedFreshRegistrationLeavesOnlyWhatWasThere) {
  writeForeignEntries(HKEY_LOCAL_MACHINE);
  everyWriteFails(HKEY_LOCAL_MACHINE, [this] { return registerServer(); });
  writeForeignEntries(HKEY_CURRENT_USER);
  everyWriteFails(HKEY_CURRENT_USER, [this] { return install(TRUE, L"user"); });
}

TEST_F(RegistrationInProcess, UnregistrationLeavesWhatItDidNotWrite) {
  ASSERT_EQ(exported([this] { return registerServer(); }), S_OK);
  writeForeignEntries(HKEY_LOCAL_MACHINE);
  const std::wstring clsid = kClasses + L"CLSID\\" + guid(CLSID_Velmora);
  const std::wstring lib = kClasses + L"TypeLib\\" + guid(LIBID_AddIn);
  setValue(HKEY_LOCAL_MACHINE, clsid, L"AppID", L"{kept}");
  ASSERT_EQ(exported([this] { return unregisterServer(); }), S_OK);

  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, clsid, L"AppID"), L"{kept}");
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, clsid + L"\\InprocServer32"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + L"AddIn.Velmora"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, lib + L"\\1.0\\0\\" + kOwnPlatform));
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, lib + L"\\1.0\\0\\" + kOtherPlatform),
            L"C:\\Base\\Other\\Velmora.dll");
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, lib + L"\\2.0\\0\\win32"), L"C:\\Base\\Velmora2.dll");
  // The other platform's library still needs the version's name and flags
  // and the interface's entries.
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, lib + L"\\1.0"), L"AddIn");
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, lib + L"\\1.0\\FLAGS"), L"0");
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kClasses + L"Interface\\" + guid(IID__Velmora) + L"\\TypeLib"));

  // Once the other platform's library is gone too, so is what they shared;
  // the other version stays.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, (lib + L"\\1.0\\0\\" + kOtherPlatform).c_str());
  ASSERT_EQ(exported([this] { return unregisterServer(); }), S_OK);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, lib + L"\\1.0"));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + L"Interface\\" + guid(IID__Velmora)));
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, lib + L"\\2.0"), L"AddIn 2");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, lib.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, clsid.c_str());
}

TEST_F(RegistrationInProcess, UnregistrationLeavesAnotherCopysRegistration) {
  ASSERT_EQ(exported([this] { return registerServer(); }), S_OK);
  const std::wstring server = kClasses + L"CLSID\\" + guid(CLSID_Velmora) + L"\\InprocServer32";
  setValue(HKEY_LOCAL_MACHINE, server, nullptr, L"C:\\Base\\Other\\Velmora.dll");
  ASSERT_EQ(exported([this] { return unregisterServer(); }), S_OK);
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, server), L"C:\\Base\\Other\\Velmora.dll");
  EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kClasses + L"AddIn.Velmora\\CLSID"), guid(CLSID_Velmora));
}

TEST_F(RegistrationInProcess, OutOfMemoryFailsTheCallWithoutAnEscapingException) {
  struct Case {
    const char* what;
    HKEY root;
    std::function<HRESULT()> prepare, call;
  };
  const std::vector<Case> cases = {
      {"register over a registration", HKEY_LOCAL_MACHINE, registerServer, registerServer},
      {"register afresh", HKEY_LOCAL_MACHINE, unregisterServer, registerServer},
      {"register for the user", HKEY_CURRENT_USER, [this] { return install(FALSE, L"user"); },
       [this] { return install(TRUE, L"user"); }},
      {"unregister", HKEY_LOCAL_MACHINE, registerServer, unregisterServer},
      {"unregister for the user", HKEY_CURRENT_USER, [this] { return install(TRUE, L"user"); },
       [this] { return install(FALSE, L"user"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::AddinHeapWatch heap;
    for (std::int64_t k = 1;; ++k) {
      SCOPED_TRACE("allocation " + std::to_string(k));
      exported(c.prepare);
      const Snapshot before = snapshot(c.root);
      heap.failAllocation(k);
      const HRESULT hr = exported(c.call);
      const bool refused = heap.failed();
      heap.failAllocation(0);
      if (!refused) {
        EXPECT_EQ(hr, S_OK);
        break;
      }
      EXPECT_EQ(hr, E_OUTOFMEMORY);
      EXPECT_EQ(snapshot(c.root), before);
      ASSERT_LT(k, 10000);
    }
  }
}

TEST_F(Registration, UnknownInstallScopeIsRefused) {
  EXPECT_NE(sim::run(regsvr32(L"/n /i:everyone")), 0u);
  for (const auto& key : ownedKeys()) {
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClasses + key)) << key;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + key)) << key;
  }
}

}  // namespace
