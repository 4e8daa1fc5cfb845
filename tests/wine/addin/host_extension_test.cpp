// The extension as the host's script language sees it: names in both
// languages, counts and flags, and property access routed to the reader.
#include <gtest/gtest.h>

#include "host_sim.h"

namespace {

using namespace sim;

class Extension : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK); }
  void TearDown() override { addin.initDone->Done(); }

  long findProp(const std::wstring& name) {
    velmora::unique_bstr b(velmora::allocBstr(std::u16string(name.begin(), name.end())));
    long n = 99;
    EXPECT_EQ(addin.ext->FindProp(b.get(), &n), S_OK);
    return n;
  }
  long findMethod(const std::wstring& name) {
    velmora::unique_bstr b(velmora::allocBstr(std::u16string(name.begin(), name.end())));
    long n = 99;
    EXPECT_EQ(addin.ext->FindMethod(b.get(), &n), S_OK);
    return n;
  }
  std::wstring propName(long n, long alias) {
    BSTR b = SysAllocString(L"old");
    EXPECT_EQ(addin.ext->GetPropName(n, alias, &b), S_OK);
    std::wstring s(b, SysStringLen(b));
    SysFreeString(b);
    return s;
  }
  std::wstring methodName(long n, long alias) {
    BSTR b = nullptr;
    EXPECT_EQ(addin.ext->GetMethodName(n, alias, &b), S_OK);
    std::wstring s(b, SysStringLen(b));
    SysFreeString(b);
    return s;
  }
  std::wstring propText(long n) {
    VARIANT v = getProp(addin.ext.get(), n);
    std::wstring s = str(v);
    VariantClear(&v);
    return s;
  }
  long propNumber(long n, VARTYPE expected) {
    VARIANT v = getProp(addin.ext.get(), n);
    EXPECT_EQ(V_VT(&v), expected) << "property " << n;
    return argLong(&v);
  }

  AddIn addin = createAddIn();
  com_ptr<Connection> conn = make<Connection>();
};

struct Names {
  const wchar_t* en;
  const wchar_t* ru;
};
const Names kProps[] = {{L"FilePath", L"ПутьКФайлу"},
                        {L"FileSize", L"РазмерФайла"},
                        {L"ListStrSize", L"РазмерСпискаСтрок"},
                        {L"DateBegin", L"НачалоПериода"},
                        {L"DateEnd", L"ОкончаниеПериода"},
                        {L"NumErr", L"НомерОшибки"},
                        {L"InsertColumn", L"ДобавитьСтолбец"},
                        {L"TransformStr", L"Преобразовывать"},
                        {L"GroupBy", L"Группировать"},
                        {L"OrderBy", L"Сортировать"},
                        {L"TextErr", L"ОписаниеОшибки"},
                        {L"InvertFilters", L"ИнвертироватьФильтры"},
                        {L"CoincidenceObject", L"СовпадениеОбъекта"}};
const Names kMethods[] = {{L"GetData", L"ПолучитьДанные"},       {L"SetDateTimes", L"УстановитьПериод"},
                          {L"SetFilter", L"УстановитьФильтр"},    {L"GetFilter", L"ПолучитьФильтр"},
                          {L"GetUsers", L"ПолучитьПользователей"}, {L"StoreErrRows", L"УбратьЗаписиОшибок"},
                          {L"ReplaceDateTimes", L"ЗаменаПериодов"}};

TEST_F(Extension, RegistersAsVelmoraWithThirteenPropertiesAndSevenMethods) {
  BSTR name = SysAllocString(L"previous");
  ASSERT_EQ(addin.ext->RegisterExtensionAs(&name), S_OK);
  EXPECT_STREQ(name, L"Velmora");
  SysFreeString(name);
  long n = 0;
  addin.ext->GetNProps(&n);
  EXPECT_EQ(n, 13);
  addin.ext->GetNMethods(&n);
  EXPECT_EQ(n, 7);
}

TEST_F(Extension, NamesInBothLanguagesFindTheirNumbersAndBack) {
  for (long i = 0; i < 13; ++i) {
    EXPECT_EQ(findProp(kProps[i].en), i);
    EXPECT_EQ(findProp(kProps[i].ru), i);
    EXPECT_EQ(propName(i, 0), kProps[i].en);
    EXPECT_EQ(propName(i, 1), kProps[i].ru);
    EXPECT_EQ(propName(i, -5), kProps[i].ru);
  }
  for (long i = 0; i < 7; ++i) {
    EXPECT_EQ(findMethod(kMethods[i].en), i);
    EXPECT_EQ(findMethod(kMethods[i].ru), i);
    EXPECT_EQ(methodName(i, 0), kMethods[i].en);
    EXPECT_EQ(methodName(i, 2), kMethods[i].ru);
  }
}

TEST_F(Extension, LookupIsExactAndOutOfTableGivesNothing) {
  EXPECT_EQ(findProp(L"filepath"), -1);
  EXPECT_EQ(findProp(L" FilePath"), -1);
  EXPECT_EQ(findProp(L"MyFileSize"), -1);
  EXPECT_EQ(findProp(L"FilePath,ПутьКФайлу"), -1);
  EXPECT_EQ(findMethod(L"GetStartPos"), -1);
  EXPECT_EQ(findMethod(L"getdata"), -1);
  EXPECT_EQ(findProp(L""), -1);
  EXPECT_EQ(propName(13, 0), L"");
  EXPECT_EQ(propName(-1, 1), L"");
  EXPECT_EQ(methodName(7, 0), L"");
}

TEST_F(Extension, FlagsAndParameterDescriptions) {
  const long writable[] = {1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 1};
  for (long i = -2; i < 16; ++i) {
    long r = 7, w = 7;
    addin.ext->IsPropReadable(i, &r);
    addin.ext->IsPropWritable(i, &w);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(w, i >= 0 && i < 13 ? writable[i] : 0) << i;
  }
  const long params[] = {2, 4, 2, 1, 2, 2, 2};
  for (long i = -1; i < 9; ++i) {
    long p = 7, ret = 7;
    addin.ext->GetNParams(i, &p);
    addin.ext->HasRetVal(i, &ret);
    EXPECT_EQ(p, i >= 0 && i < 7 ? params[i] : 0) << i;
    EXPECT_EQ(ret, 1);
    VARIANT def = vlong(3);
    EXPECT_EQ(addin.ext->GetParamDefValue(i, 0, &def), S_OK);
    EXPECT_EQ(V_VT(&def), VT_NULL);
  }
}

TEST_F(Extension, NewReaderPropertiesWithTheirTypes) {
  EXPECT_EQ(propText(0), L"0");
  EXPECT_EQ(propNumber(1, VT_I4), 0);
  EXPECT_EQ(propNumber(2, VT_I4), 0);
  EXPECT_EQ(propText(3), L"");
  EXPECT_EQ(propText(4), L"");
  EXPECT_EQ(propNumber(5, VT_I2), 0);
  EXPECT_EQ(propText(6), L"1111111111");
  EXPECT_EQ(propText(7), L"0000");
  EXPECT_EQ(propText(8), L"");
  EXPECT_EQ(propText(9), L"");
  EXPECT_EQ(propText(10), L"");
  EXPECT_EQ(propText(11), L"00000000");
  EXPECT_EQ(propNumber(12, VT_I2), 0);
}

TEST_F(Extension, OutOfTableReadGivesNullAndWritesToReadOnlyChangeNothing) {
  for (long n : {13L, -1L, 1000L}) {
    VARIANT v = vlong(9);
    EXPECT_EQ(addin.ext->GetPropVal(n, &v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_NULL);
  }
  EXPECT_EQ(setProp(addin.ext.get(), 1, vlong(500)), S_OK);
  EXPECT_EQ(setProp(addin.ext.get(), 10, vstr(L"текст")), S_OK);
  EXPECT_EQ(setProp(addin.ext.get(), 13, vstr(L"x")), S_OK);
  EXPECT_EQ(propNumber(1, VT_I4), 0);
  EXPECT_EQ(propText(10), L"");
}

TEST_F(Extension, WrittenValuesAreConvertedByAutomationRules) {
  EXPECT_EQ(setProp(addin.ext.get(), 0, vlong(123)), S_OK);
  EXPECT_EQ(propText(0), L"123");
  EXPECT_EQ(setProp(addin.ext.get(), 0, vstr(L"  C:\\Base\\Logs\\events.log ")), S_OK);
  EXPECT_EQ(propText(0), L"  C:\\Base\\Logs\\events.log ");  // kept as written
  EXPECT_EQ(setProp(addin.ext.get(), 12, vlong(5)), S_OK);
  EXPECT_EQ(propNumber(12, VT_I2), 1);
  EXPECT_EQ(setProp(addin.ext.get(), 12, vlong(-3)), S_OK);
  EXPECT_EQ(propNumber(12, VT_I2), 0);
  EXPECT_EQ(setProp(addin.ext.get(), 12, vstr(L"7")), S_OK);
  EXPECT_EQ(propNumber(12, VT_I2), 1);
}

TEST_F(Extension, UnconvertibleValueFailsAndPropertyKeepsItsValue) {
  ASSERT_EQ(setProp(addin.ext.get(), 12, vlong(1)), S_OK);
  EXPECT_EQ(setProp(addin.ext.get(), 12, vstr(L"много")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(errorDescription(), L"Несоответствие типа");
  EXPECT_EQ(setProp(addin.ext.get(), 12, vnull()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(propNumber(12, VT_I2), 1);
  ASSERT_EQ(setProp(addin.ext.get(), 0, vstr(L"a.log")), S_OK);
  EXPECT_EQ(setProp(addin.ext.get(), 0, vnull()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(propText(0), L"a.log");
}

TEST_F(Extension, WrittenReferenceIsReadNotChanged) {
  VARIANT inner = vlong(101);
  VARIANT ref;
  V_VT(&ref) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&ref) = &inner;
  ASSERT_EQ(addin.ext->SetPropVal(6, &ref), S_OK);
  EXPECT_EQ(V_VT(&inner), VT_I4);
  EXPECT_EQ(V_I4(&inner), 101);
  EXPECT_EQ(propText(6), L"1010000000");
}

TEST_F(Extension, MaskPropertiesAreNormalisedByTheReader) {
  ASSERT_EQ(setProp(addin.ext.get(), 7, vstr(L"2 0a")), S_OK);
  EXPECT_EQ(propText(7), L"1001");
  ASSERT_EQ(setProp(addin.ext.get(), 11, vstr(L"0 1")), S_OK);
  EXPECT_EQ(propText(11), L"00100000");
  ASSERT_EQ(setProp(addin.ext.get(), 8, vstr(L"  Польз  ")), S_OK);
  EXPECT_EQ(propText(8), L"Польз");
}

}  // namespace
