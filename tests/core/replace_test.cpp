#include <gtest/gtest.h>

#include <filesystem>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

const std::string kKey = "20991231;23:59:59;";

class ReplaceDateTimes : public ::testing::Test {
 protected:
  // n records, record k (from 1) with the user "U<k>".
  void useLog(int n, std::string extra = {}) {
    records.clear();
    std::string log;
    for (int k = 1; k <= n; ++k) {
      records.push_back(test::at("20050101", test::clock(k), test::numbered("U", k)).line());
      log += records.back();
    }
    tmp.write("log.txt", log + extra);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  // The log with the first 18 bytes of the given records replaced by kKey.
  std::string replaced(std::initializer_list<int> numbers) const {
    std::vector<std::string> copy = records;
    for (int k : numbers) copy[static_cast<std::size_t>(k - 1)].replace(0, 18, kKey);
    std::string out;
    for (const std::string& r : copy) out += r;
    return out;
  }
  void useList(const std::string& text) { tmp.write("list.txt", text); }
  std::int32_t run(const char* out = "out.txt", const char* list = "list.txt") {
    return j.ReplaceDateTimes(tmp.u16(out), tmp.u16(list));
  }

  TempDir tmp;
  Journal j;
  std::vector<std::string> records;
};

TEST_F(ReplaceDateTimes, ReplacesTheKeysOfTheListedRecords) {
  useLog(10);
  useList(kKey + "3\r\n" + kKey + "7\r\n" + kKey + "9\r\n");
  EXPECT_EQ(run(), 3);
  EXPECT_EQ(tmp.read("out.txt"), replaced({3, 7, 9}));
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>(replaced({}).size()));
}

TEST_F(ReplaceDateTimes, NumbersAreReadAsDecimalValuesRoundedToEven) {
  useLog(10);
  useList(kKey + " 1 \r\n" + kKey + "2.5\r\n" + kKey + "3.5\r\n" + kKey + "1e1x\r\n");
  EXPECT_EQ(run(), 4);  // 1, 2, 4, 10
  EXPECT_EQ(tmp.read("out.txt"), replaced({1, 2, 4, 10}));
}

TEST_F(ReplaceDateTimes, AnEntryOutOfOrderStopsTheLaterOnes) {
  useLog(10);
  useList(kKey + "3\r\n" + kKey + "2\r\n" + kKey + "8\r\n");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({3}));

  useList(kKey + "3\r\n" + kKey + "3\r\n" + kKey + "8\r\n");  // repeated
  EXPECT_EQ(run(), 1);
  useList(kKey + "3\r\n" + "short\r\n" + kKey + "8\r\n");  // a line of 18 or fewer
  EXPECT_EQ(run(), 1);
  useList(kKey + "3\r\n" + kKey + "\r\n" + kKey + "8\r\n");  // no number
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({3}));
}

TEST_F(ReplaceDateTimes, ThePendingLastEntryCountsEvenIfNeverReached) {
  useLog(5);
  useList(kKey + "99\r\n");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({}));
  useList(kKey + "2\r\n" + kKey + "99\r\n");
  EXPECT_EQ(run(), 2);
}

TEST_F(ReplaceDateTimes, EmptyListWritesNothing) {
  useLog(3);
  useList("");
  EXPECT_EQ(run(), 0);
  EXPECT_FALSE(tmp.exists("out.txt"));
  useList("no line end");
  EXPECT_EQ(run(), 0);
  EXPECT_FALSE(tmp.exists("out.txt"));
}

TEST_F(ReplaceDateTimes, OlderLongerOutputEndsWhereTheCopyEnds) {
  useLog(3);
  useList(kKey + "2\r\n");
  tmp.write("out.txt", std::string(10000, 'z'));
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({2}));
}

TEST_F(ReplaceDateTimes, UnterminatedLastLinesAreNotCopied) {
  useLog(3, "20050101;10:00");
  useList(kKey + "1\r\n");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({1}));
  useLog(3, test::at("20050102", "10:00:00").text());  // 19 bytes or more
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("out.txt"), replaced({1}));
}

TEST_F(ReplaceDateTimes, ARecordShorterThanAKeyIsCopiedAsItIs) {
  // Record 2 is 5 bytes: it has no key, and writing 18 key bytes would eat
  // its line end and the start of record 3. Its entry is used all the same.
  const std::string a = test::at("20050101", "10:00:00").line(), c = test::at("20050101", "12:00:00").line();
  tmp.write("log.txt", a + "short\r\n" + c);
  j.SetFilePath(tmp.u16("log.txt"));
  useList(kKey + "2\r\n" + kKey + "3\r\n");
  EXPECT_EQ(run(), 2);
  EXPECT_EQ(tmp.read("out.txt"), a + "short\r\n" + kKey + c.substr(18));
}

TEST_F(ReplaceDateTimes, RecordsLongerThanTheWindowAreCopiedAndCounted) {
  test::Rec longRec = test::at("20050101", "10:30:00");
  longRec.comment.assign(150000, 'x');
  const std::string a = test::at("20050101", "10:00:00").line(), c = test::at("20050101", "11:00:00").line();
  tmp.write("log.txt", a + longRec.line() + c);
  j.SetFilePath(tmp.u16("log.txt"));
  useList(kKey + "2\r\n" + kKey + "3\r\n" + kKey + "4\r\n");
  EXPECT_EQ(run(), 3);
  std::string expectedLong = longRec.line();
  expectedLong.replace(0, 18, kKey);
  std::string expectedC = c;
  expectedC.replace(0, 18, kKey);
  EXPECT_EQ(tmp.read("out.txt"), a + expectedLong + expectedC);
}

TEST_F(ReplaceDateTimes, RefusalsLeaveNoOutputAndNoError) {
  useLog(3);
  useList(kKey + "1\r\n");
  EXPECT_EQ(run("out.txt", "missing.txt"), -1);
  EXPECT_EQ(run("list.txt", "list.txt"), -1);
  EXPECT_EQ(run("log.txt", "list.txt"), -1);
  fs::create_directory(tmp.path("sub"));
  EXPECT_EQ(run("sub/../log.txt", "list.txt"), -1);
  EXPECT_EQ(run("./list.txt", "list.txt"), -1);
#ifndef _WIN32
  fs::create_hard_link(tmp.path("log.txt"), tmp.path("hard.txt"));
  EXPECT_EQ(run("hard.txt", "list.txt"), -1);
#endif
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(tmp.read("log.txt"), replaced({}));
  EXPECT_EQ(tmp.read("list.txt"), kKey + "1\r\n");
  j.SetFilePath(tmp.u16("missing-log.txt"));
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_FALSE(tmp.exists("out.txt"));
}

TEST_F(ReplaceDateTimes, NumberBeyond32BitsIsAnError) {
  useLog(3);
  useList(kKey + "1\r\n" + kKey + "99999999999\r\n");
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::Overflow));
  EXPECT_NE(j.TextErr().find(u"list.txt"), U16String::npos);
  EXPECT_FALSE(tmp.exists("out.txt"));
}

TEST_F(ReplaceDateTimes, OutputThatCannotBeCreatedIsReportedAndTheLogClosed) {
  useLog(3);
  useList(kKey + "1\r\n");
  EXPECT_EQ(run("no-such-folder/out.txt"), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::PathNotFound));
  EXPECT_NE(j.TextErr().find(u"out.txt"), U16String::npos);
  EXPECT_FALSE(test::heldOpen(tmp.path("log.txt")));
}

TEST_F(ReplaceDateTimes, LargeLogKeepsEveryOtherByte) {
  useLog(8000);  // several windows
  useList(kKey + "1\r\n" + kKey + "4000\r\n" + kKey + "8000\r\n");
  EXPECT_EQ(run(), 3);
  EXPECT_EQ(tmp.read("out.txt"), replaced({1, 4000, 8000}));
}

}  // namespace
}  // namespace velmora
