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

std::string withNumber(const char* number, const char* user = "Иванов") {
  test::Rec r = test::at("20050101", "10:00:00", user);
  r.number = number;
  return r.line();
}

class StoreErrRows : public ::testing::Test {
 protected:
  void useLog(const std::string& bytes) {
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  std::int32_t run(const char* keep = "keep.txt", const char* errors = "err.txt") {
    return j.StoreErrRows(tmp.u16(keep), errors[0] != '\0' ? tmp.u16(errors) : U16String());
  }

  TempDir tmp;
  Journal j;
};

TEST_F(StoreErrRows, SplitsErrorRecordsFromTheRest) {
  const std::string a = withNumber("1"), b = withNumber("5"), c = withNumber("12");
  useLog(a + b + c);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("keep.txt"), a + c);
  EXPECT_EQ(tmp.read("err.txt"), b);
  EXPECT_EQ(tmp.read("log.txt"), a + b + c);  // only read
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>((a + b + c).size()));
}

TEST_F(StoreErrRows, OnlyExactlyFiveMarksAnError) {
  const std::string a = withNumber("05"), b = withNumber(" 5"), c = withNumber("5 "), d = withNumber("");
  useLog(a + b + c + d);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(tmp.read("keep.txt"), a + b + c + d);
}

TEST_F(StoreErrRows, RecordsWithoutAnEndedSeventhFieldAreErrors) {
  const std::string endsAtSeventh = test::cp1251("20050101;10:00:00;Иванов;E;Docs;DocWrite;1\r\n");
  const std::string shortLine = "20050101;10:00:00\r\n";
  const std::string empty = "\r\n";
  const std::string good = withNumber("2");
  useLog(endsAtSeventh + good + shortLine + empty);
  EXPECT_EQ(run(), 3);
  EXPECT_EQ(tmp.read("keep.txt"), good);
  EXPECT_EQ(tmp.read("err.txt"), endsAtSeventh + shortLine + empty);
}

TEST_F(StoreErrRows, ErrorRecordCommentWithSemicolonsIsStillOneRecord) {
  test::Rec r = test::at("20050101", "10:00:00");
  r.number = "5";
  r.comment = "Ошибка; строка 5; модуль";
  r.id = "";
  r.presentation = "";
  useLog(withNumber("1") + r.line());
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("err.txt"), r.line());
}

TEST_F(StoreErrRows, BlankErrorPathCountsWithoutWriting) {
  const std::string a = withNumber("1"), b = withNumber("5");
  useLog(a + b + b);
  EXPECT_EQ(j.StoreErrRows(tmp.u16("keep.txt"), u"   "), 2);
  EXPECT_EQ(tmp.read("keep.txt"), a);
  EXPECT_FALSE(tmp.exists("   "));
  EXPECT_EQ(run("keep2.txt", ""), 2);
  EXPECT_EQ(tmp.read("keep2.txt"), a);
}

TEST_F(StoreErrRows, EqualPathsAreRefused) {
  useLog(withNumber("5"));
  EXPECT_EQ(j.StoreErrRows(u"", u""), -1);
  EXPECT_EQ(run("out.txt", "out.txt"), -1);
  EXPECT_EQ(run("log.txt", "err.txt"), -1);
  EXPECT_EQ(run("keep.txt", "log.txt"), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_FALSE(tmp.exists("out.txt"));
  EXPECT_FALSE(tmp.exists("keep.txt"));
  EXPECT_FALSE(tmp.exists("err.txt"));
}

TEST_F(StoreErrRows, OtherSpellingsOfTheSameFileAreRefused) {
  const std::string log = withNumber("1") + withNumber("5");
  useLog(log);
  fs::create_directory(tmp.path("sub"));
  EXPECT_EQ(run("sub/../log.txt", "err.txt"), -1);
  EXPECT_EQ(run("keep.txt", "./log.txt"), -1);
  EXPECT_EQ(run("keep.txt", "sub/../keep.txt"), -1);  // both outputs one new file
#ifndef _WIN32
  fs::create_symlink(tmp.path("log.txt"), tmp.path("link.txt"));
  EXPECT_EQ(run("link.txt", "err.txt"), -1);
#else
  EXPECT_EQ(run("LOG.TXT", "err.txt"), -1);
#endif
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(tmp.read("log.txt"), log);
  EXPECT_FALSE(tmp.exists("keep.txt"));
  EXPECT_FALSE(tmp.exists("err.txt"));
}

TEST_F(StoreErrRows, MissingLogIsRefusedWithoutOutput) {
  j.SetFilePath(tmp.u16("missing.txt"));
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_FALSE(tmp.exists("keep.txt"));
}

TEST_F(StoreErrRows, OlderLongerOutputsEndWhereTheCopyEnds) {
  const std::string a = withNumber("1"), b = withNumber("5");
  useLog(a + b);
  tmp.write("keep.txt", std::string(5000, 'z'));
  tmp.write("err.txt", std::string(5000, 'z'));
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(tmp.read("keep.txt"), a);
  EXPECT_EQ(tmp.read("err.txt"), b);
}

TEST_F(StoreErrRows, UnterminatedLastLinesAreNoRecords) {
  const std::string a = withNumber("1");
  useLog(a + "20050101;10:00");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(tmp.read("keep.txt"), a);
  // One of 19 bytes or more could not end the copy either.
  useLog(a + withNumber("5").substr(0, 40));
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(tmp.read("keep.txt"), a);
  EXPECT_EQ(tmp.read("err.txt"), "");
}

TEST_F(StoreErrRows, RecordsLongerThanTheWindowAreCopiedWhole) {
  test::Rec longGood = test::at("20050101", "10:00:00");
  longGood.comment.assign(100000, 'x');
  test::Rec longError = longGood;
  longError.number = "5";
  longError.comment.assign(140000, 'y');
  const std::string a = withNumber("1"), b = withNumber("5");
  useLog(a + longGood.line() + b + longError.line() + a);
  EXPECT_EQ(run(), 2);
  EXPECT_EQ(tmp.read("keep.txt"), a + longGood.line() + a);
  EXPECT_EQ(tmp.read("err.txt"), b + longError.line());
}

TEST_F(StoreErrRows, LargeLogCopiesEveryRecordOnce) {
  // About 600 KB: many windows and many 64 KiB blocks of output.
  std::string log, keep, errors;
  std::int32_t count = 0;
  for (int n = 0; n < 6000; ++n) {
    const bool error = n % 7 == 3;
    const std::string line = withNumber(error ? "5" : "1", n % 2 ? "Петров" : "Иванов");
    log += line;
    (error ? errors : keep) += line;
    count += error ? 1 : 0;
  }
  useLog(log);
  EXPECT_EQ(run(), count);
  EXPECT_EQ(tmp.read("keep.txt"), keep);
  EXPECT_EQ(tmp.read("err.txt"), errors);
}

TEST_F(StoreErrRows, OutputThatCannotBeCreatedIsReportedAndTheLogClosed) {
  useLog(withNumber("1"));
  EXPECT_EQ(run("no-such-folder/keep.txt", "err.txt"), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::PathNotFound));
  EXPECT_NE(j.TextErr().find(u"keep.txt"), U16String::npos);
  EXPECT_FALSE(test::heldOpen(tmp.path("log.txt")));
}

// Both copies walk a log past 2 GiB whole. Records, then a sparse hole of
// zero bytes that ends with CR LF (one huge line without fields, so an error
// record), then records past 2 GiB. The hole is read once from disk; the
// second walk finds it cached.
TEST_F(StoreErrRows, CopiesOfALogPast2GiBAreWhole) {
  const std::string head = withNumber("1") + withNumber("5");
  const std::string tail = withNumber("5", "Петров") + withNumber("7", "Петров");
  const std::int64_t holeEnd = (std::int64_t{1} << 31) + 1000;
  tmp.write("log.txt", head);
  std::error_code ec;
  fs::resize_file(tmp.path("log.txt"), static_cast<std::uintmax_t>(holeEnd), ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  tmp.append("log.txt", "\r\n" + tail);
  j.SetFilePath(tmp.u16("log.txt"));

  EXPECT_EQ(j.StoreErrRows(tmp.u16("keep.txt"), u""), 3);
  EXPECT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
  EXPECT_EQ(tmp.read("keep.txt"), withNumber("1") + withNumber("7", "Петров"));

  // Records 1 and 2, the hole as record 3, records 4 and 5: the list names
  // record 1, record 5 and one past the end. Only when record 5 is found
  // does the third entry become pending, which makes the result 3.
  const std::string key = "20991231;23:59:59;";
  tmp.write("list.txt", key + "1\r\n" + key + "5\r\n" + key + "6\r\n");
#ifdef _WIN32
  const U16String nowhere = u"NUL";
#else
  const U16String nowhere = u"/dev/null";
#endif
  EXPECT_EQ(j.ReplaceDateTimes(nowhere, tmp.u16("list.txt")), 3);
  EXPECT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
}

}  // namespace
}  // namespace velmora
