// IDispatch calls that a careless or hostile client makes: more named
// arguments than arguments, missing arrays, argument counts no array can
// hold, unknown members and flags. Each ends with a failure status and
// error information, never a crash or a write outside the caller's arrays,
// and the object answers correctly afterwards.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "host_sim.h"

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

}  // namespace
