// COM error information on the interfaces that say they support it: every
// failing call leaves its own description, every successful call leaves
// none, so that a host never shows an earlier failure's text.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host_sim.h"

namespace {

using namespace sim;

const std::wstring kStale = L"прежняя ошибка";
const std::wstring kNullPointer = L"Недопустимый указатель";

void leaveStaleInfo() {
  com_ptr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(kStale.c_str()));
  auto info = create.query<IErrorInfo>(IID_IErrorInfo);
  ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

bool noErrorInfo() {
  com_ptr<IErrorInfo> info;
  return GetErrorInfo(0, info.put()) == S_FALSE;
}

struct Case {
  const char* name;
  std::function<HRESULT()> call;
};

class ErrorInfo : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK); }
  void TearDown() override { addin.initDone->Done(); }

  AddIn addin = createAddIn();
  com_ptr<_Velmora> v = addin.disp.query<_Velmora>(IID__Velmora);
  com_ptr<Connection> conn = make<Connection>();
};

TEST_F(ErrorInfo, EveryNullPointerFailureSetsItsOwnDescription) {
  ILanguageExtender* ext = addin.ext.get();
  _Velmora* vel = v.get();
  IDispatch* disp = addin.disp.get();
  BSTR name = SysAllocString(L"FilePath");
  VARIANT_BOOL flag = VARIANT_TRUE;
  const std::vector<Case> cases = {
      {"GetNProps", [=] { return ext->GetNProps(nullptr); }},
      {"FindProp", [=] { return ext->FindProp(name, nullptr); }},
      {"GetPropName", [=] { return ext->GetPropName(0, 0, nullptr); }},
      {"GetPropVal", [=] { return ext->GetPropVal(0, nullptr); }},
      {"IsPropReadable", [=] { return ext->IsPropReadable(0, nullptr); }},
      {"IsPropWritable", [=] { return ext->IsPropWritable(0, nullptr); }},
      {"GetNMethods", [=] { return ext->GetNMethods(nullptr); }},
      {"FindMethod", [=] { return ext->FindMethod(name, nullptr); }},
      {"GetMethodName", [=] { return ext->GetMethodName(0, 0, nullptr); }},
      {"GetNParams", [=] { return ext->GetNParams(0, nullptr); }},
      {"GetParamDefValue", [=] { return ext->GetParamDefValue(0, 0, nullptr); }},
      {"HasRetVal", [=] { return ext->HasRetVal(0, nullptr); }},
      {"RegisterExtensionAs", [=] { return ext->RegisterExtensionAs(nullptr); }},
      {"CallAsFunc", [=] { return ext->CallAsFunc(3, nullptr, nullptr); }},
      {"get_boolIsEnabled", [=] { return vel->get_boolIsEnabled(nullptr); }},
      {"get_ConnectionObject", [=] { return vel->get_ConnectionObject(nullptr); }},
      {"LoadProperties", [=] { return vel->LoadProperties(nullptr); }},
      {"TermString", [=] { return vel->TermString(nullptr, nullptr, nullptr); }},
      {"ReturnLong", [=, &flag] { return vel->ReturnLong(&flag, nullptr); }},
      {"ILanguageExtender_GetNProps", [=] { return vel->ILanguageExtender_GetNProps(nullptr); }},
      {"ILanguageExtender_FindMethod", [=] { return vel->ILanguageExtender_FindMethod(name, nullptr); }},
      {"ILanguageExtender_HasRetVal", [=] { return vel->ILanguageExtender_HasRetVal(0, nullptr); }},
      {"GetTypeInfoCount", [=] { return disp->GetTypeInfoCount(nullptr); }},
      {"GetTypeInfo", [=] { return disp->GetTypeInfo(0, 0, nullptr); }},
      {"GetInfo", [this] { return addin.initDone->GetInfo(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    leaveStaleInfo();
    EXPECT_EQ(c.call(), E_POINTER);
    EXPECT_EQ(errorDescription(), kNullPointer);
  }
  SysFreeString(name);
}

TEST_F(ErrorInfo, EverySuccessClearsIt) {
  ILanguageExtender* ext = addin.ext.get();
  _Velmora* vel = v.get();
  IDispatch* disp = addin.disp.get();
  BSTR name = SysAllocString(L"FilePath");
  long n = 0;
  BSTR text = nullptr;
  VARIANT value;
  VariantInit(&value);
  VARIANT_BOOL flag = VARIANT_TRUE;
  UINT count = 0;
  const std::vector<Case> cases = {
      {"GetNProps", [&] { return ext->GetNProps(&n); }},
      {"FindProp", [&] { return ext->FindProp(name, &n); }},
      {"GetPropName", [&] { return ext->GetPropName(0, 0, &text); }},
      {"GetPropVal", [&] { return ext->GetPropVal(0, &value); }},
      {"SetPropVal", [&] { return setProp(ext, 9, vstr(L"Дата")); }},
      {"IsPropReadable", [&] { return ext->IsPropReadable(0, &n); }},
      {"IsPropWritable", [&] { return ext->IsPropWritable(0, &n); }},
      {"GetNMethods", [&] { return ext->GetNMethods(&n); }},
      {"FindMethod", [&] { return ext->FindMethod(name, &n); }},
      {"GetMethodName", [&] { return ext->GetMethodName(0, 0, &text); }},
      {"GetNParams", [&] { return ext->GetNParams(0, &n); }},
      {"GetParamDefValue", [&] { return ext->GetParamDefValue(0, 0, &value); }},
      {"HasRetVal", [&] { return ext->HasRetVal(0, &n); }},
      {"RegisterExtensionAs", [&] { return ext->RegisterExtensionAs(&text); }},
      {"CallAsFunc", [&] {
         ArgArray args{vstr(L"FilterUsers")};
         return ext->CallAsFunc(3, &value, args.put());
       }},
      {"CallAsProc", [&] {
         ArgArray args{vstr(L"FilterUsers")};
         return ext->CallAsProc(3, args.put());
       }},
      {"get_boolIsEnabled", [&] { return vel->get_boolIsEnabled(&flag); }},
      {"put_boolIsEnabled", [&] { return vel->put_boolIsEnabled(VARIANT_TRUE); }},
      {"LoadProperties", [&] { return vel->LoadProperties(&flag); }},
      {"SaveProperties", [&] { return vel->SaveProperties(); }},
      {"ReturnLong", [&] { return vel->ReturnLong(&flag, &value); }},
      {"GetTypeInfoCount", [&] { return disp->GetTypeInfoCount(&count); }},
      {"GetInfo", [&] {
         ArgArray info(1);
         return addin.initDone->GetInfo(info.put());
       }},
      {"Invoke", [&] {
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         return disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
       }},
      {"GetIDsOfNames", [&] {
         LPOLESTR names[] = {const_cast<LPOLESTR>(L"TermString")};
         DISPID id = 0;
         return disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    leaveStaleInfo();
    EXPECT_EQ(c.call(), S_OK);
    EXPECT_TRUE(noErrorInfo()) << "an earlier failure's text is still there";
    VariantClear(&value);
    SysFreeString(text);
    text = nullptr;
  }
  SysFreeString(name);
}

TEST_F(ErrorInfo, FailuresOfEveryKindSetIt) {
  ILanguageExtender* ext = addin.ext.get();
  const std::vector<Case> cases = {
      {"conversion", [&] { return setProp(ext, 12, vstr(L"не число")); }},
      {"argument array", [&] { return ext->CallAsProc(1, nullptr); }},
      {"Invoke of an unknown member", [&] {
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         return addin.disp->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
       }},
      {"Invoke with too few arguments", [&] {
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         return addin.disp->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
       }},
      {"GetIDsOfNames of an unknown name", [&] {
         LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
         DISPID id = 0;
         return addin.disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
       }},
      {"after Done", [&] {
         EXPECT_EQ(addin.initDone->Done(), S_OK);
         return setProp(ext, 0, vstr(L"x"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    leaveStaleInfo();
    EXPECT_TRUE(FAILED(c.call()));
    const std::wstring d = errorDescription();
    EXPECT_FALSE(d.empty());
    EXPECT_NE(d, kStale);
  }
}

}  // namespace
