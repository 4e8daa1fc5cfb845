// regsvr32 on Velmora.dll: machine-wide and per-user registration, the
// ProgID, the type library, and unregistration removing what was written.
#include <gtest/gtest.h>

#include <string>

#include "Velmora_h.h"
#include "host_sim.h"

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

TEST_F(Registration, UnknownInstallScopeIsRefused) {
  EXPECT_NE(sim::run(regsvr32(L"/n /i:everyone")), 0u);
  for (const auto& key : ownedKeys()) {
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClasses + key)) << key;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kClasses + key)) << key;
  }
}

}  // namespace
