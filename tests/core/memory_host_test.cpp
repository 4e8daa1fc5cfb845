#include <gtest/gtest.h>

#include "memhost/memory_host.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::cell;
using test::column;

// A table with the columns Имя (string), Город (string, 3 characters) and
// Чис (number), and the given rows of name and city, each counted 1.
MemoryValueTable people(std::vector<std::pair<std::string, std::string>> rows) {
  MemoryValueTable t;
  t.NewColumn(u"Имя", u"Строка", std::nullopt);
  t.NewColumn(u"Город", u"Строка", std::int16_t{3});
  t.NewColumn(u"Чис", u"Число", std::int16_t{10});
  for (const auto& [name, city] : rows) {
    t.NewLine();
    t.SetValue(t.LinesCnt(), 1, test::u16(name));
    t.SetValue(t.LinesCnt(), 2, test::u16(city));
    t.SetValue(t.LinesCnt(), u"Чис", 1);
  }
  return t;
}

TEST(MemoryHost, ColumnsRowsAndCells) {
  MemoryValueTable t = people({{"Анна", "Москва"}, {"Борис", "Тверь"}});
  EXPECT_EQ(t.ColumnCount(), 3);
  EXPECT_EQ(t.LinesCnt(), 2);
  EXPECT_EQ(cell(t, 1, 1), "Анна");
  EXPECT_EQ(cell(t, 1, 2), "Мос");  // cut to the column's length
  EXPECT_EQ(cell(t, 2, 3), "1");
  EXPECT_EQ(t.number(2, 3), 1);
  t.SetValue(1, 1, u"Алла");  // overwrite, shorter than before
  EXPECT_EQ(cell(t, 1, 1), "Алла");
  EXPECT_EQ(cell(t, 1, 2), "Мос");
  t.NewLine();
  EXPECT_EQ(cell(t, 3, 1), "");
}

TEST(MemoryHost, DeleteColumnMovesLaterColumnsDown) {
  MemoryValueTable t = people({{"Анна", "Москва"}, {"Борис", "Тверь"}});
  t.DeleteColumn(1);
  ASSERT_EQ(t.ColumnCount(), 2);
  EXPECT_EQ(test::utf8(t.columns()[0].name), "Город");
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"Мос", "Тве"}));
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"1", "1"}));
  t.DeleteLines();
  EXPECT_EQ(t.LinesCnt(), 0);
  EXPECT_EQ(t.ColumnCount(), 2);
}

TEST(MemoryHost, BadRowsAndColumnsFailAsHostCalls) {
  MemoryValueTable t = people({{"Анна", "Москва"}});
  EXPECT_THROW(t.SetValue(2, 1, u"x"), HostError);
  EXPECT_THROW(t.SetValue(0, 1, u"x"), HostError);
  EXPECT_THROW(t.SetValue(1, 4, u"x"), HostError);
  EXPECT_THROW(t.SetValue(1, u"Нет", 1), HostError);
  EXPECT_THROW(t.DeleteColumn(4), HostError);
  EXPECT_THROW(t.Sort(u"Нет"), HostError);
  try {
    t.GroupBy(u"Нет", u"Чис");
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), kMemoryHostError);
    EXPECT_NE(e.description().find(u"Нет"), U16String::npos);
  }
}

TEST(MemoryHost, GroupBySumsTheCountAndDropsOtherColumns) {
  MemoryValueTable t = people({{"Анна", "Москва"}, {"Борис", "Тверь"}, {"Анна", "Тверь"}, {"Анна", "Омск"}});
  t.GroupBy(u"Имя", u"Чис");
  ASSERT_EQ(t.ColumnCount(), 2);
  EXPECT_EQ(test::utf8(t.columns()[0].name), "Имя");
  EXPECT_EQ(test::utf8(t.columns()[1].name), "Чис");
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"Анна", "Борис"}));  // order of first rows
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"3", "1"}));
}

TEST(MemoryHost, GroupByOnSeveralColumns) {
  MemoryValueTable t = people({{"Анна", "Москва"}, {"Анна", "Тверь"}, {"Анна", "Москва"}});
  t.GroupBy(u" Город , Имя ", u"Чис");
  ASSERT_EQ(t.ColumnCount(), 3);
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"Мос", "Тве"}));
  EXPECT_EQ(column(t, 3), (std::vector<std::string>{"2", "1"}));
}

TEST(MemoryHost, SortByAColumnListWithDescendingMarks) {
  MemoryValueTable t = people({{"Борис", "Тверь"}, {"Анна", "Тверь"}, {"Вера", "Омск"}, {"Анна", "Омск"}});
  t.Sort(u"Город, Имя desc");
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"Вера", "Анна", "Борис", "Анна"}));
  t.Sort(u"2-, 1");
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"Анна", "Борис", "Анна", "Вера"}));
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"Тве", "Тве", "Омс", "Омс"}));
}

TEST(MemoryHost, NumbersSortAsNumbers) {
  MemoryValueTable t = people({{"a", "x"}, {"b", "x"}, {"b", "x"}, {"c", "x"}, {"c", "x"}, {"c", "x"}});
  for (int i = 0; i < 9; ++i) {
    t.NewLine();
    t.SetValue(t.LinesCnt(), 1, u"c");
    t.SetValue(t.LinesCnt(), u"Чис", 1);
  }
  t.GroupBy(u"Имя", u"Чис");  // a 1, b 2, c 12
  t.Sort(u"Чис desc");
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"12", "2", "1"}));
}

TEST(MemoryHost, ValueListAddsSortsAndEmpties) {
  MemoryValueList l;
  l.AddValue(u"Петров", u"Петров");
  l.AddValue(u"Иванов", u"Иванов (админ)");
  l.AddValue(u"Админ", u"Админ");
  EXPECT_EQ(l.GetListSize(), 3);
  l.Sort();
  EXPECT_EQ(test::listValues(l), (std::vector<std::string>{"Админ", "Иванов", "Петров"}));
  EXPECT_EQ(test::utf8(l.items()[1].presentation), "Иванов (админ)");
  l.RemoveAll();
  EXPECT_EQ(l.GetListSize(), 0);
}

}  // namespace
}  // namespace velmora
