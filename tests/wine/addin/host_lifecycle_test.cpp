// Init, Done and GetInfo as the host calls them, with the setting kept in
// the host's profile and failures reported through COM error information.
#include <gtest/gtest.h>

#include "host_sim.h"

namespace {

using namespace sim;

class Lifecycle : public ::testing::Test {
 protected:
  AddIn addin = createAddIn();
  com_ptr<Connection> conn = make<Connection>();

  bool enabled() {
    VARIANT_BOOL b = 7;
    com_ptr<_Velmora> v = addin.disp.query<_Velmora>(IID__Velmora);
    EXPECT_EQ(v->get_boolIsEnabled(&b), S_OK);
    return b == VARIANT_TRUE;
  }
  HRESULT readFilePath(std::wstring* out = nullptr) {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = addin.ext->GetPropVal(0, &v);
    if (out) *out = str(v);
    VariantClear(&v);
    return hr;
  }
};

TEST_F(Lifecycle, InitSelectsProfileReadsSettingAndCreatesReader) {
  V_VT(&conn->stored) = VT_BOOL;
  V_BOOL(&conn->stored) = VARIANT_TRUE;
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  EXPECT_EQ(conn->profile, L"Velmora AddIn");
  ASSERT_EQ(conn->readNames.size(), 1u);
  EXPECT_EQ(conn->readNames[0], L"Enabled:0");
  EXPECT_EQ(conn->readArgType, VT_VARIANT | VT_BYREF);
  EXPECT_EQ(conn->readValueType, VT_BOOL);
  EXPECT_TRUE(conn->errors.empty());
  EXPECT_TRUE(enabled());
  std::wstring path;
  EXPECT_EQ(readFilePath(&path), S_OK);
  EXPECT_EQ(path, L"0");
}

TEST_F(Lifecycle, DoneWritesSettingBackAndReleasesConnectionAndReader) {
  V_VT(&conn->stored) = VT_I4;  // converted by the automation rules
  V_I4(&conn->stored) = 1;
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  EXPECT_TRUE(enabled());
  ULONG held = conn->refs();
  EXPECT_GT(held, 1u);
  ASSERT_EQ(addin.initDone->Done(), S_OK);
  ASSERT_EQ(conn->writeNames.size(), 1u);
  EXPECT_EQ(conn->writeNames[0], L"Enabled");
  EXPECT_EQ(conn->writeArgType, VT_VARIANT | VT_BYREF);
  EXPECT_EQ(V_VT(&conn->written), VT_BOOL);
  EXPECT_EQ(V_BOOL(&conn->written), VARIANT_TRUE);
  EXPECT_EQ(conn->refs(), 1u);
  EXPECT_EQ(readFilePath(), E_UNEXPECTED);
  EXPECT_FALSE(errorDescription().empty());
}

TEST_F(Lifecycle, ProfileWithoutValueLeavesSettingFalseWithoutWarning) {
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  EXPECT_FALSE(enabled());
  EXPECT_TRUE(conn->errors.empty());
  ASSERT_EQ(addin.initDone->Done(), S_OK);
  EXPECT_EQ(V_BOOL(&conn->written), VARIANT_FALSE);
}

TEST_F(Lifecycle, UnreadableSettingWarnsThroughAddErrorAndInitGoesOn) {
  conn->stored = vstr(L"не число");
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  ASSERT_EQ(conn->errors.size(), 1u);
  const auto& e = conn->errors[0];
  EXPECT_EQ(e.types[0], VT_I2);
  EXPECT_EQ(e.code, 1006);
  EXPECT_EQ(e.source, L"Компонента");
  EXPECT_EQ(e.description, L"Ошибка при загрузке параметров");
  EXPECT_EQ(e.types[3], VT_I2);
  EXPECT_EQ(e.last, -1);
  EXPECT_FALSE(enabled());
  EXPECT_EQ(readFilePath(), S_OK);  // the reader exists all the same
}

TEST_F(Lifecycle, FailingReadWarnsAndInitGoesOn) {
  conn->failNext(L"Read", E_FAIL);
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  EXPECT_EQ(conn->errors.size(), 1u);
  EXPECT_EQ(readFilePath(), S_OK);
}

TEST_F(Lifecycle, FailingProfileSelectionFailsInitWithHostErrorAndNoReader) {
  conn->failNext(L"RegisterProfileAs", DISP_E_EXCEPTION, static_cast<SCODE>(0x800A0005), 0, L"Профиль недоступен");
  HRESULT hr = addin.initDone->Init(conn.get());
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800A0005));
  EXPECT_EQ(errorDescription(), L"Профиль недоступен");
  EXPECT_EQ(conn->calls(L"Read"), 0);
  EXPECT_EQ(readFilePath(), E_UNEXPECTED);
}

TEST_F(Lifecycle, FailingWriteFailsDoneBeforeReleasing) {
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  conn->failNext(L"Write", DISP_E_EXCEPTION, 0, 77, L"Запись невозможна");
  EXPECT_EQ(addin.initDone->Done(), static_cast<HRESULT>(0x800A004D));  // script error 77
  EXPECT_EQ(errorDescription(), L"Запись невозможна");
  EXPECT_EQ(readFilePath(), S_OK);
  EXPECT_GT(conn->refs(), 1u);
  // Releasing the object releases what Done left.
  addin = AddIn{};
  EXPECT_EQ(conn->refs(), 1u);
}

TEST_F(Lifecycle, CallsBeforeInitOrAfterDoneFailCleanly) {
  VARIANT keep = vlong(42);
  ArgArray args{vstr(L"20050101"), vstr(L""), vstr(L"20050102"), vstr(L"")};
  EXPECT_EQ(addin.ext->CallAsFunc(1, &keep, args.put()), E_UNEXPECTED);
  EXPECT_EQ(V_VT(&keep), VT_I4);
  EXPECT_EQ(V_I4(&keep), 42);
  EXPECT_EQ(setProp(addin.ext.get(), 0, vstr(L"x")), E_UNEXPECTED);
  EXPECT_EQ(addin.initDone->Done(), static_cast<HRESULT>(0x800A01A8));  // no connection to write to
  long n = 0;
  EXPECT_EQ(addin.ext->GetNProps(&n), S_OK);
  EXPECT_EQ(n, 13);

  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  ASSERT_EQ(addin.initDone->Done(), S_OK);
  EXPECT_EQ(addin.ext->CallAsProc(1, args.put()), E_UNEXPECTED);
  EXPECT_EQ(addin.initDone->Init(nullptr), static_cast<HRESULT>(0x800A01A8));
  EXPECT_FALSE(errorDescription().empty());
}

TEST_F(Lifecycle, GetInfoWritesVersionStringIntoElementZeroOnly) {
  ArgArray info{vlong(5), vlong(6)};
  ASSERT_EQ(addin.initDone->GetInfo(info.put()), S_OK);
  EXPECT_EQ(V_VT(&info[0]), VT_BSTR);
  EXPECT_EQ(str(info[0]), L"2000");
  EXPECT_EQ(V_I4(&info[1]), 6);
  // After Done it still answers.
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  ASSERT_EQ(addin.initDone->Done(), S_OK);
  ArgArray again(1);
  ASSERT_EQ(addin.initDone->GetInfo(again.put()), S_OK);
  EXPECT_EQ(str(again[0]), L"2000");
}

TEST_F(Lifecycle, GetInfoRefusesArraysItCannotWriteSafely) {
  SAFEARRAYBOUND twoD[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* matrix = SafeArrayCreate(VT_VARIANT, 2, twoD);
  EXPECT_NE(addin.initDone->GetInfo(&matrix), S_OK);
  SafeArrayDestroy(matrix);

  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  EXPECT_NE(addin.initDone->GetInfo(&strings), S_OK);
  SafeArrayDestroy(strings);

  SAFEARRAY* fromOne = SafeArrayCreateVector(VT_VARIANT, 1, 2);  // no element 0
  EXPECT_EQ(addin.initDone->GetInfo(&fromOne), DISP_E_BADINDEX);
  SafeArrayDestroy(fromOne);

  SAFEARRAY* none = nullptr;
  EXPECT_EQ(addin.initDone->GetInfo(&none), E_POINTER);
  EXPECT_EQ(addin.initDone->GetInfo(nullptr), E_POINTER);
}

TEST_F(Lifecycle, HostInterfacesSupportErrorInfo) {
  auto support = addin.disp.query<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(velmora::IID_IInitDone), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(velmora::IID_ILanguageExtender), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Velmora), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IStream), S_FALSE);
}

TEST_F(Lifecycle, ConnectionNamesAreLookedUpOncePerObject) {
  ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
  com_ptr<_Velmora> v = addin.disp.query<_Velmora>(IID__Velmora);
  VARIANT_BOOL ok = 0;
  ASSERT_EQ(v->LoadProperties(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  ASSERT_EQ(v->SaveProperties(), S_OK);
  ASSERT_EQ(addin.initDone->Done(), S_OK);
  EXPECT_EQ(conn->calls(L"Read"), 2);
  EXPECT_EQ(conn->lookups(L"Read"), 1);
  EXPECT_EQ(conn->calls(L"Write"), 2);
  EXPECT_EQ(conn->lookups(L"Write"), 1);
}

}  // namespace
