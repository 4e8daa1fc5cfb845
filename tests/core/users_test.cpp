#include <gtest/gtest.h>

#include <filesystem>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::listValues;
using test::TempDir;
using Names = std::vector<std::string>;

class FailingList : public MemoryValueList {
 public:
  void AddValue(U16View value, U16View presentation) override {
    if (++adds == failAt) throw HostError(kMemoryHostError, u"Список недоступен");
    MemoryValueList::AddValue(value, presentation);
  }
  int adds = 0;
  int failAt = 0;
};

class GetUsers : public ::testing::Test {
 protected:
  void useLog(const std::string& bytes) {
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  static std::string users(std::initializer_list<const char*> names) {
    std::string log;
    for (const char* name : names) log += test::at("20050101", "10:00:00", name).line();
    return log;
  }

  TempDir tmp;
  Journal j;
  FailingList list;
};

TEST_F(GetUsers, DistinctUsersSorted) {
  const std::string log = users({"Петров", "Иванов", "Петров", "Админ"});
  useLog(log);
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Админ", "Иванов", "Петров"}));
  EXPECT_EQ(test::utf8(list.items()[0].presentation), "Админ");
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>(log.size()));
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(GetUsers, StartPositionsZeroAndOneScanTheWholeLog) {
  useLog(users({"Петров", "Иванов"}));
  j.GetUsers(1, list);
  EXPECT_EQ(listValues(list), (Names{"Иванов", "Петров"}));
  j.GetUsers(-5, list);
  EXPECT_EQ(listValues(list), (Names{"Иванов", "Петров"}));  // emptied first, not doubled
}

TEST_F(GetUsers, ScanFromAPositionSeesOnlyLaterRecords) {
  const std::string first = users({"Петров"});
  useLog(first + users({"Иванов", "Сидоров"}));
  j.GetUsers(static_cast<std::int32_t>(first.size()) + 1, list);
  EXPECT_EQ(listValues(list), (Names{"Иванов", "Сидоров"}));
}

TEST_F(GetUsers, PositionAtTheEndGivesItBackWithAnEmptyList) {
  const std::string log = users({"Петров"});
  useLog(log);
  list.AddValue(u"старое", u"старое");
  const auto size = static_cast<std::int32_t>(log.size());
  EXPECT_EQ(j.GetUsers(size, list), size);
  EXPECT_EQ(list.GetListSize(), 0);
  EXPECT_EQ(j.GetUsers(size + 1, list), size + 1);
  EXPECT_EQ(list.GetListSize(), 0);
}

TEST_F(GetUsers, ShortUnterminatedLastRecordIsNotLookedAt) {
  const std::string log = users({"Петров"});
  useLog(log + "20050101;10:00");  // 14 bytes, no line end
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Петров"}));
}

TEST_F(GetUsers, LongUnterminatedLastRecordEndsTheScanAtItsStart) {
  const std::string log = users({"Петров"});
  useLog(log + test::at("20050101", "11:00:00", "Незаконченный").text());
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Петров"}));
}

TEST_F(GetUsers, RecordsLongerThanTheWindowAreReadAndTheScanGoesOn) {
  test::Rec forty = test::at("20050101", "11:00:00", "Длинный");
  forty.comment.assign(40 * 1024, 'x');
  test::Rec twoHundred = test::at("20050101", "12:00:00", "Очень длинный");
  twoHundred.comment.assign(200 * 1024, 'x');
  const std::string log = users({"Петров"}) + forty.line() + users({"Иванов"}) + twoHundred.line() +
                          users({"Сидоров"});
  useLog(log);
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Длинный", "Иванов", "Очень длинный", "Петров", "Сидоров"}));
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(GetUsers, UserFieldOfALongRecordEndsBeforeItsLineEnd) {
  // No ";" after the user in the whole 100 KB line: no user, as for a short
  // record; a user field longer than the window is taken whole.
  const std::string noSemicolon = "20050101;10:00:00;" + std::string(100000, 'x') + "\r\n";
  const std::string longName(70000, 'n');
  const std::string log = noSemicolon + users({"Петров"}) + "20050101;10:00:00;" + longName + ";E\r\n" +
                          users({"Иванов"});
  useLog(log);
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{longName, "Иванов", "Петров"}));
}

TEST_F(GetUsers, UnterminatedLongLastRecordEndsTheScanAtItsStart) {
  const std::string head = users({"Петров"});
  test::Rec longRec = test::at("20050101", "11:00:00", "Незаконченный");
  longRec.comment.assign(70000, 'x');
  useLog(head + longRec.text());
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(head.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Петров"}));
}

TEST_F(GetUsers, BlankNamesAddNothingAndSpellingsDiffer) {
  useLog(users({"", "   ", "Иванов", "иванов", " Иванов", "Иванов"}) + "20050101;10:00:00\r\n" +
         "20050101;10:00:00;" + "\r\n");
  j.GetUsers(0, list);
  EXPECT_EQ(listValues(list), (Names{" Иванов", "Иванов", "иванов"}));
}

TEST_F(GetUsers, NamesOfMalformedKeysAreComparedWhole) {
  // The byte before the user is not ";" here: such a record must neither
  // repeat a known name nor hide a new name that is part of a known one.
  useLog(users({"Иванов"}) + test::cp1251("20050101;10:00:00XИванов;E\r\n20050101;10:00:00вИванов;E\r\n") +
         test::cp1251("20050101;10:00:00нов;E\r\n"));
  j.GetUsers(0, list);
  EXPECT_EQ(listValues(list), (Names{"Иванов", "ов"}));
}

TEST_F(GetUsers, MissingLogLeavesTheListAlone) {
  j.SetFilePath(tmp.u16("missing.txt"));
  list.AddValue(u"старое", u"старое");
  EXPECT_EQ(j.GetUsers(0, list), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(listValues(list), (Names{"старое"}));
}

TEST_F(GetUsers, FailingHostCallIsReportedAndTheLogClosed) {
  useLog(users({"Петров", "Иванов", "Сидоров"}));
  list.failAt = 2;
  EXPECT_EQ(j.GetUsers(0, list), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::AutomationError));
  EXPECT_EQ(test::utf8(j.TextErr()), "Список недоступен");
  EXPECT_EQ(listValues(list), (Names{"Петров"}));  // what was added before
  EXPECT_FALSE(test::heldOpen(tmp.path("log.txt")));
}

TEST_F(GetUsers, PositionPast2GiBFailsWithOverflow) {
  const std::int64_t first = (std::int64_t{1} << 31) - 100;
  {
    std::ofstream out(tmp.path("log.txt"), std::ios::binary);
  }
  std::error_code ec;
  std::filesystem::resize_file(tmp.path("log.txt"), static_cast<std::uintmax_t>(first - 1), ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  tmp.append("log.txt", users({"Петров", "Иванов", "Сидоров"}));
  j.SetFilePath(tmp.u16("log.txt"));
  EXPECT_EQ(j.GetUsers(static_cast<std::int32_t>(first), list), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::Overflow));
  EXPECT_EQ(listValues(list), (Names{"Иванов", "Петров", "Сидоров"}));
}

}  // namespace
}  // namespace velmora
