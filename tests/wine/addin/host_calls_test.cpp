// The add-in's calls on host objects, seen from the host's side: argument
// forms, one name lookup per object, and host failures turned into
// HostError. Also the small RAII types the add-in holds COM resources in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "addin/com_error.h"
#include "addin/host_objects.h"
#include "addin/safearray_lock.h"
#include "host_sim.h"

namespace {

using namespace sim;
using ::testing::_;
using ::testing::Eq;
using ::testing::Optional;

class MockTable : public velmora::ValueTable {
 public:
  MOCK_METHOD(std::int32_t, ColumnCount, (), (override));
  MOCK_METHOD(std::int32_t, LinesCnt, (), (override));
  MOCK_METHOD(void, DeleteLines, (), (override));
  MOCK_METHOD(void, DeleteColumn, (std::int32_t), (override));
  MOCK_METHOD(void, NewColumn, (velmora::U16View, velmora::U16View, std::optional<std::int16_t>), (override));
  MOCK_METHOD(void, NewLine, (), (override));
  MOCK_METHOD(void, SetValue, (std::int32_t, std::int16_t, velmora::U16View), (override));
  MOCK_METHOD(void, SetValue, (std::int32_t, velmora::U16View, std::int16_t), (override));
  MOCK_METHOD(void, GroupBy, (velmora::U16View, velmora::U16View), (override));
  MOCK_METHOD(void, Sort, (velmora::U16View), (override));
};

class MockList : public velmora::ValueList {
 public:
  MOCK_METHOD(void, RemoveAll, (), (override));
  MOCK_METHOD(void, AddValue, (velmora::U16View, velmora::U16View), (override));
  MOCK_METHOD(std::int32_t, GetListSize, (), (override));
  MOCK_METHOD(void, Sort, (), (override));
};

using velmora::U16View;

TEST(HostTable, ArgumentsArriveInTheHostsForms) {
  MockTable target;
  auto table = make<Table>(target);
  velmora::HostValueTable host(com_ptr<IDispatch>(table.get()));

  EXPECT_CALL(target, SetValue(7, std::int16_t{3}, U16View(u"Иванов")));
  host.SetValue(7, 3, u"Иванов");
  EXPECT_EQ(table->setValueTypes[0], VT_I4 | VT_BYREF);
  EXPECT_EQ(table->setValueTypes[1], VT_I2 | VT_BYREF);
  EXPECT_EQ(table->setValueTypes[2], VT_BSTR | VT_BYREF);

  EXPECT_CALL(target, SetValue(8, U16View(u"Чис"), std::int16_t{1}));
  host.SetValue(8, u"Чис", 1);
  EXPECT_EQ(table->setValueTypes[0], VT_I4 | VT_BYREF);
  EXPECT_EQ(table->setValueTypes[1], VT_BSTR);
  EXPECT_EQ(table->setValueTypes[2], VT_I2);

  EXPECT_CALL(target, GroupBy(U16View(u"Польз,Событ"), U16View(u"Чис")));
  host.GroupBy(u"Польз,Событ", u"Чис");
  EXPECT_EQ(table->groupByTypes[0], VT_BSTR | VT_BYREF);
  EXPECT_EQ(table->groupByTypes[1], VT_BSTR);

  EXPECT_CALL(target, Sort(U16View(u"Дата")));
  host.Sort(u"Дата");
  EXPECT_EQ(table->sortType, VT_BSTR | VT_BYREF);

  EXPECT_CALL(target, NewColumn(U16View(u"Дата"), U16View(u"Строка"), Optional(std::int16_t{8})));
  host.NewColumn(u"Дата", u"Строка", 8);
  EXPECT_CALL(target, NewColumn(U16View(u"Чис"), U16View(u"Число"), Eq(std::nullopt)));
  host.NewColumn(u"Чис", u"Число", std::nullopt);

  EXPECT_CALL(target, DeleteColumn(4));
  host.DeleteColumn(4);
  EXPECT_CALL(target, ColumnCount()).WillOnce(::testing::Return(11));
  EXPECT_EQ(host.ColumnCount(), 11);
  EXPECT_CALL(target, LinesCnt()).WillOnce(::testing::Return(0));
  EXPECT_EQ(host.LinesCnt(), 0);
}

TEST(HostTable, EachNameIsLookedUpOncePerObject) {
  MockTable target;
  EXPECT_CALL(target, NewLine()).Times(500);
  EXPECT_CALL(target, SetValue(_, ::testing::An<std::int16_t>(), ::testing::An<U16View>())).Times(5000);
  auto table = make<Table>(target);
  velmora::HostValueTable host(com_ptr<IDispatch>(table.get()));
  for (int row = 1; row <= 500; ++row) {
    host.NewLine();
    for (std::int16_t c = 1; c <= 10; ++c) host.SetValue(row, c, u"x");
  }
  EXPECT_EQ(table->lookups(L"NewLine"), 1);
  EXPECT_EQ(table->lookups(L"SetValue"), 1);
  EXPECT_EQ(table->calls(L"SetValue"), 5000);
}

TEST(HostTable, HostFailuresBecomeHostErrorsWithHostsNumberAndText) {
  MockTable target;
  auto table = make<Table>(target);
  velmora::HostValueTable host(com_ptr<IDispatch>(table.get()));

  table->failNext(L"NewLine", DISP_E_EXCEPTION, static_cast<SCODE>(0x800A0007), 0, L"Мало памяти");
  try {
    host.NewLine();
    FAIL() << "no error";
  } catch (const velmora::HostError& e) {
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(0x800A0007));
    EXPECT_EQ(e.description(), u"Мало памяти");
  }

  table->failNext(L"Sort", DISP_E_EXCEPTION, 0, 1004, L"Колонка не найдена");
  try {
    host.Sort(u"Нет");
    FAIL() << "no error";
  } catch (const velmora::HostError& e) {
    EXPECT_EQ(e.number(), 1004);
    EXPECT_EQ(e.description(), u"Колонка не найдена");
  }

  table->failNext(L"DeleteLines", E_ACCESSDENIED);
  try {
    host.DeleteLines();
    FAIL() << "no error";
  } catch (const velmora::HostError& e) {
    EXPECT_EQ(e.number(), E_ACCESSDENIED);
    EXPECT_NE(e.description().find(u"DeleteLines"), std::u16string::npos);
  }
}

TEST(HostTable, MissingMemberOrMissingObjectFailsWithoutCrashing) {
  MockList target;  // a list where a table is expected: no NewLine
  auto list = make<List>(target);
  velmora::HostValueTable wrong(com_ptr<IDispatch>(list.get()));
  try {
    wrong.NewLine();
    FAIL() << "no error";
  } catch (const velmora::HostError& e) {
    EXPECT_EQ(e.number(), DISP_E_UNKNOWNNAME);
  }
  velmora::HostValueTable none{com_ptr<IDispatch>()};
  EXPECT_THROW(none.ColumnCount(), velmora::HostError);
}

TEST(HostList, AddValuePassesValueAndPresentationByReference) {
  MockList target;
  auto list = make<List>(target);
  velmora::HostValueList host(com_ptr<IDispatch>(list.get()));
  EXPECT_CALL(target, RemoveAll());
  EXPECT_CALL(target, AddValue(U16View(u"Петров"), U16View(u"Петров")));
  EXPECT_CALL(target, GetListSize()).WillOnce(::testing::Return(1));
  EXPECT_CALL(target, Sort());
  host.RemoveAll();
  host.AddValue(u"Петров", u"Петров");
  EXPECT_EQ(list->addValueTypes[0], VT_BSTR | VT_BYREF);
  EXPECT_EQ(list->addValueTypes[1], VT_BSTR | VT_BYREF);
  EXPECT_EQ(host.GetListSize(), 1);
  host.Sort();
}

TEST(HostObjects, ObjectIsFoundThroughReferences) {
  MockList target;
  auto list = make<List>(target);
  VARIANT direct = vobj(list.get());
  VARIANT ref;
  V_VT(&ref) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&ref) = &direct;
  EXPECT_EQ(velmora::dispatchOf(ref).get(), static_cast<IDispatch*>(list.get()));
  VARIANT text = vstr(L"не объект");
  EXPECT_FALSE(velmora::dispatchOf(text));
  VariantClear(&text);
  VariantClear(&direct);
}

// ---- RAII types ----------------------------------------------------------------

TEST(ComRaii, ComPtrHoldsExactlyOneReference) {
  MockList target;
  auto list = make<List>(target);
  {
    com_ptr<IDispatch> a(list.get());
    EXPECT_EQ(list->refs(), 2u);
    com_ptr<IDispatch> b = a;
    EXPECT_EQ(list->refs(), 3u);
    com_ptr<IDispatch> c = std::move(b);
    EXPECT_EQ(list->refs(), 3u);
    a = nullptr;
    EXPECT_EQ(list->refs(), 2u);
    auto unknown = c.query<IUnknown>(IID_IUnknown);
    EXPECT_EQ(list->refs(), 3u);
    EXPECT_FALSE(c.query<IStream>(IID_IStream));
  }
  EXPECT_EQ(list->refs(), 1u);
}

TEST(ComRaii, LockScopeHoldsTheArrayLockedUntilItEnds) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  {
    const velmora::UniqueSafeArrayLock lock = velmora::lockSafeArray(array);
    EXPECT_EQ(array->cLocks, 1u);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  }
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(ComRaii, VariantArrayAcceptsOnlyOneDimensionOfVariants) {
  SAFEARRAY* ok = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  EXPECT_NO_THROW(velmora::VariantArray{&ok});
  velmora::VariantArray args(&ok);
  EXPECT_THROW(args.at(1), velmora::ComError);
  EXPECT_THROW(args.at(-1), velmora::ComError);
  SafeArrayDestroy(ok);
  SAFEARRAY* ints = SafeArrayCreateVector(VT_I4, 0, 4);
  EXPECT_THROW(velmora::VariantArray{&ints}, velmora::ComError);
  SafeArrayDestroy(ints);
  SAFEARRAY* none = nullptr;
  EXPECT_THROW(velmora::VariantArray{&none}, velmora::ComError);
}

TEST(ComRaii, ConversionReadsThroughReferencesWithoutChangingTheSource) {
  VARIANT inner = vstr(L"42");
  VARIANT ref;
  V_VT(&ref) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&ref) = &inner;
  EXPECT_EQ(velmora::variantToLong(ref), 42);
  EXPECT_EQ(V_VT(&inner), VT_BSTR);
  VARIANT null = vnull();
  EXPECT_THROW(velmora::variantToString(null), velmora::ComError);
  VARIANT big = vstr(L"99999999999");
  EXPECT_THROW(velmora::variantToLong(big), velmora::ComError);
  VariantClear(&big);
  VariantClear(&inner);
}

}  // namespace
