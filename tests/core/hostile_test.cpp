// Hostile input for the four file methods: logs that are not what the host
// writes, positions and list numbers outside any sense, outputs that cannot
// be written, and logs that change under the reader. Every call must return,
// with -1 and NumErr/TextErr set or with its documented value, and a copy is
// never a partial one reported as success.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"
#include "log_builder.h"
#include "permission_checks.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velmora {
namespace {

using test::cell;
using test::listValues;
using test::TempDir;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// True when keep and errors together hold every complete line of log exactly
// once, each line whole and in log order, and nothing else.
bool splitIntoWholeLines(const std::string& log, const std::string& keep, const std::string& errors) {
  std::size_t at = 0, k = 0, e = 0;
  for (std::size_t end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::size_t n = end + 2 - at;
    if (keep.compare(k, n, log, at, n) == 0) {
      k += n;
    } else if (errors.compare(e, n, log, at, n) == 0) {
      e += n;
    } else {
      return false;
    }
  }
  return k == keep.size() && e == errors.size();
}

std::size_t lineCount(const std::string& bytes) {
  std::size_t n = 0;
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++n;
  return n;
}

// The log up to and including its last CR LF: what a copy holds.
std::string completeLines(const std::string& log) {
  const std::size_t last = log.rfind("\r\n");
  return last == std::string::npos ? std::string() : log.substr(0, last + 2);
}

class Hostile : public ::testing::Test {
 protected:
  void useLog(const std::string& bytes) {
    log = bytes;
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  void period(const char* date1, const char* date2) {
    ASSERT_TRUE(j.SetDateTimes(test::u16(date1), u"", test::u16(date2), u""));
  }
  std::int32_t storeErrRows(const char* keep = "keep.txt", const char* errors = "err.txt") {
    return j.StoreErrRows(tmp.u16(keep), tmp.u16(errors));
  }
  std::int32_t replace(const std::string& list, const char* out = "out.txt") {
    tmp.write("list.txt", list);
    return j.ReplaceDateTimes(tmp.u16(out), tmp.u16("list.txt"));
  }
  // GetData from position, then from each returned position while the
  // calls make progress: what a script polling the log collects.
  void collect(std::int32_t position) {
    for (int round = 0; round < 1000; ++round) {
      const std::int32_t next = j.GetStartPos(position, table);
      ASSERT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
      if (next == -1 || next == position) return;
      ASSERT_GT(next, position);
      position = next;
    }
    FAIL() << "GetData kept returning new positions";
  }
  // A failure as a script sees it: -1 with a number and a Russian text.
  void expectFailure(std::int32_t result, ErrorNumber number, const char* names) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(number)) << test::utf8(j.TextErr());
    EXPECT_NE(j.TextErr().find(test::u16(names)), U16String::npos) << test::utf8(j.TextErr());
    EXPECT_NE(j.TextErr().find_first_of(u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя"), U16String::npos);
    EXPECT_FALSE(test::heldOpen(tmp.path("log.txt")));
  }

  TempDir tmp;
  Journal j;
  std::string log;
  MemoryValueTable table;
  MemoryValueList list;
};

// ---- logs that are not what the host writes -------------------------------

TEST_F(Hostile, EmptyLogAndLogsWithoutCrLfHoldNoRecords) {
  period("20050101", "20050131");
  const std::string record = test::at("20050101", "10:00:00").text();
  std::string onlyCr, onlyLf;
  // Records ended by a lone CR or a lone LF, past the size read whole.
  while (onlyCr.size() < 100000) {
    onlyCr += record + "\r";
    onlyLf += record + "\n";
  }
  for (const std::string& bytes : {std::string(), onlyCr, onlyLf, onlyCr.substr(0, 2000), onlyLf.substr(0, 2000)}) {
    SCOPED_TRACE(bytes.size());
    useLog(bytes);
    EXPECT_EQ(j.GetStartPos(0, table), -1);
    EXPECT_EQ(j.NumErr(), 0);
    // Resuming at the first byte: nothing complete, so no progress.
    EXPECT_EQ(j.GetStartPos(1, table), 1);
    EXPECT_EQ(table.rowCount(), 0);

    EXPECT_EQ(j.GetUsers(0, list), bytes.empty() ? 0 : 1);
    EXPECT_EQ(list.GetListSize(), 0);
    EXPECT_EQ(j.NumErr(), 0);

    EXPECT_EQ(storeErrRows(), 0);
    EXPECT_EQ(j.NumErr(), 0);
    EXPECT_EQ(tmp.read("keep.txt"), "");
    EXPECT_EQ(tmp.read("err.txt"), "");

    // One list entry, never reached: it is the pending last slot.
    EXPECT_EQ(replace("20991231;23:59:59;1\r\n"), 1);
    EXPECT_EQ(j.NumErr(), 0);
    EXPECT_EQ(tmp.read("out.txt"), "");
    EXPECT_EQ(tmp.read("log.txt"), bytes);
  }
}

TEST_F(Hostile, NulBytesInsideRecordsAreKeptAsText) {
  test::Rec withNul = test::at("20050101", "10:00:00", "Пет");
  withNul.comment = std::string("до\0после", 13);
  withNul.presentation = std::string("\0\0", 2);
  test::Rec errorWithNul = withNul;
  errorWithNul.number = "5";
  const std::string a = withNul.line(), b = test::at("20050101", "11:00:00").line(), c = errorWithNul.line();
  useLog(a + b + c);
  period("20050101", "20050101");

  EXPECT_EQ(j.GetStartPos(0, table), static_cast<std::int32_t>(log.size()) + 1);
  ASSERT_EQ(table.rowCount(), 3);
  EXPECT_EQ(cell(table, 1, 8), std::string("до\0после", 13));
  EXPECT_EQ(cell(table, 1, 10), std::string("\0\0", 2));
  EXPECT_EQ(cell(table, 2, 3), "Иванов");  // the next record is cut where it should be

  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Иванов", "Пет"}));

  EXPECT_EQ(storeErrRows(), 1);
  EXPECT_EQ(tmp.read("keep.txt"), a + b);
  EXPECT_EQ(tmp.read("err.txt"), c);

  EXPECT_EQ(replace("20991231;23:59:59;3\r\n"), 1);
  EXPECT_EQ(tmp.read("out.txt"), a + b + "20991231;23:59:59;" + c.substr(18));
}

TEST_F(Hostile, BytesThatAreNotTextBetweenRecordsLoseNoRecord) {
  // Records, each followed by a line of random bytes whose first byte is
  // not a digit, so that it can never lie in the period; the bytes may hold
  // lone CRs, LFs and NULs.
  std::mt19937 random(20050317);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::string> ids;
  std::string bytes;
  for (int k = 0; k < 600; ++k) {
    test::Rec r = test::at("20050101", test::clock(k * 60), k % 2 ? "Петров" : "Иванов");
    r.id = test::numbered("R", k);
    ids.push_back(r.id);
    bytes += r.line();
    std::string junk(static_cast<std::size_t>(byte(random)) + 1, '\0');
    for (char& ch : junk) ch = static_cast<char>(byte(random));
    junk[0] = static_cast<char>(k % 3 == 0 ? 0x01 : 0xF0);  // below, or above, every date
    for (std::size_t p; (p = junk.find("\r\n")) != std::string::npos;) junk[p] = 'x';
    bytes += junk + "\r\n";
  }
  useLog(bytes + "\x01\xFF\r\r\n\n");  // ends with a lone LF
  period("20050101", "20050101");

  // A line above every date ends a call; the next call goes on after it.
  collect(0);
  ASSERT_EQ(table.rowCount(), static_cast<std::int32_t>(ids.size()));
  for (int row = 1; row <= table.rowCount(); ++row) EXPECT_EQ(cell(table, row, 9), ids[row - 1]) << row;

  // Junk lines that reach a ";" after their 19th byte name junk users;
  // every real user is there. The scan ends at the last, unterminated byte.
  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()));
  const Names users = listValues(list);
  EXPECT_NE(std::find(users.begin(), users.end(), "Петров"), users.end());
  EXPECT_NE(std::find(users.begin(), users.end(), "Иванов"), users.end());
  EXPECT_EQ(j.NumErr(), 0);

  const std::int32_t removed = storeErrRows();
  const std::string keep = tmp.read("keep.txt"), errors = tmp.read("err.txt");
  EXPECT_TRUE(splitIntoWholeLines(log, keep, errors));
  EXPECT_EQ(static_cast<std::size_t>(removed), lineCount(errors));
  EXPECT_GE(lineCount(keep), ids.size());  // every real record is kept

  EXPECT_EQ(replace("20991231;23:59:59;99999\r\n"), 1);
  EXPECT_EQ(tmp.read("out.txt"), completeLines(log));
}

TEST_F(Hostile, LinesThatAreNotRecordsNeitherAddRowsNorEndACall) {
  const std::string r1 = test::at("20050101", "10:00:00", "Первый").line();
  const std::string r2 = test::at("20050102", "10:00:00", "Второй").line();
  const std::string r3 = test::at("20050103", "10:00:00", "Третий").line();
  const std::string letters = test::cp1251("abcdefgh;xx:yy:zz;Буквы;E;Docs;DocWrite;1;;;\r\n");   // above every date
  const std::string blanks = test::cp1251("        ;  :  :  ;Пробелы;E;Docs;DocWrite;1;;;\r\n");  // below every date
  const std::string badDay = test::cp1251("20050199;99:99:99;День;E;Docs;DocWrite;1;;;\r\n");     // after the end date
  useLog(r1 + letters + r2 + blanks + badDay + r3 + "2005\r\n");
  period("20050101", "20050131");

  // Only the record past the end date ends the call; the next goes on.
  const auto afterBadDay = static_cast<std::int32_t>((r1 + letters + r2 + blanks + badDay).size()) + 1;
  EXPECT_EQ(j.GetStartPos(0, table), afterBadDay);
  EXPECT_EQ(table.rowCount(), 2);
  collect(afterBadDay);
  EXPECT_EQ(test::column(table, 3), (Names{"Первый", "Второй", "Третий"}));

  EXPECT_EQ(j.GetUsers(0, list), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(listValues(list), (Names{"Буквы", "Второй", "День", "Первый", "Пробелы", "Третий"}));
}

TEST_F(Hostile, RecordsOutOfTimeOrderStayInsideThePeriod) {
  // Whole days out of order, large enough for the windowed start search.
  std::vector<test::Rec> recs3, recs1, recs2;
  const std::string day3 = test::dailyLog(3, 3, 400, 100, nullptr, &recs3);
  const std::string day1 = test::dailyLog(1, 1, 400, 100, nullptr, &recs1);
  const std::string day2 = test::dailyLog(2, 2, 400, 100, nullptr, &recs2);
  useLog(day3 + day1 + day2 + day1);

  for (const char* day : {"20050101", "20050102", "20050103"}) {
    SCOPED_TRACE(day);
    period(day, day);
    MemoryValueTable table;
    const std::int32_t next = j.GetStartPos(0, table);
    EXPECT_EQ(j.NumErr(), 0);
    EXPECT_TRUE(next == -1 || (next >= 1 && next <= static_cast<std::int32_t>(log.size()) + 1)) << next;
    for (int row = 1; row <= table.rowCount(); ++row) ASSERT_EQ(cell(table, row, 1), day) << row;
  }
  // Polled from the first byte over the whole month, every record comes once.
  period("20050101", "20050131");
  MemoryValueTable all;
  std::int32_t position = 1;
  for (int round = 0; round < 100; ++round) {
    const std::int32_t next = j.GetStartPos(position, all);
    if (next == position) break;
    position = next;
  }
  EXPECT_EQ(all.rowCount(), 1600);
  EXPECT_EQ(position, static_cast<std::int32_t>(log.size()) + 1);
}

TEST_F(Hostile, LineOfSeveralMegabytes) {
  // Its CR lies on the last byte of the third 1 MiB piece; a lone CR ends
  // the second piece and a lone LF stands in it.
  const std::string head = test::dailyLog(1, 1, 50);
  test::Rec huge = test::at("20050101", "23:00:00", "Огромный");
  const std::size_t piece = std::size_t{1} << 20;
  huge.comment.assign(3 * piece - 1 - (huge.text().size() - test::cp1251(huge.comment).size()), 'x');
  std::string hugeLine = huge.line();
  ASSERT_EQ(hugeLine.size(), 3 * piece + 1);
  hugeLine[2 * piece - 1] = '\r';
  hugeLine[piece + 5] = '\n';
  const std::string tail = test::dailyLog(2, 2, 50);
  useLog(head + hugeLine + tail);
  const auto hugeAt = static_cast<std::int32_t>(head.size()) + 1;

  period("20050101", "20050131");
  const auto end = static_cast<std::int32_t>(log.size()) + 1;
  // Read whole, as a row of its own, from the start and when resuming at it.
  EXPECT_EQ(j.GetStartPos(0, table), end);
  ASSERT_EQ(table.rowCount(), 101);
  EXPECT_EQ(cell(table, 51, 3), "Огромный");
  const std::size_t commentAt = huge.text().find(huge.comment);
  EXPECT_TRUE(cell(table, 51, 8) == hugeLine.substr(commentAt, huge.comment.size()));  // lone CR and LF kept
  EXPECT_EQ(cell(table, 52, 1), "20050102");
  table.DeleteLines();
  EXPECT_EQ(j.GetStartPos(hugeAt, table), end);
  EXPECT_EQ(table.rowCount(), 51);
  EXPECT_EQ(j.NumErr(), 0);

  EXPECT_EQ(j.GetUsers(0, list), end);
  EXPECT_EQ(list.GetListSize(), 5);

  // Copies carry it whole.
  EXPECT_EQ(storeErrRows(), 0);
  EXPECT_EQ(tmp.read("keep.txt"), log);
  EXPECT_EQ(tmp.read("err.txt"), "");
  EXPECT_EQ(replace("20991231;23:59:59;51\r\n20991231;23:59:59;52\r\n"), 2);
  std::string expected = log;
  expected.replace(head.size(), 18, "20991231;23:59:59;");
  expected.replace(head.size() + hugeLine.size(), 18, "20991231;23:59:59;");
  EXPECT_EQ(tmp.read("out.txt"), expected);
  EXPECT_EQ(j.NumErr(), 0);
}

// ---- positions outside any sense --------------------------------------------

TEST_F(Hostile, GetDataPositionsNegativeHugeOrInsideALine) {
  std::vector<std::int64_t> starts;
  std::vector<test::Rec> recs;
  useLog(test::dailyLog(1, 1, 20, 100, &starts, &recs));
  period("20050101", "20050101");
  const auto end = static_cast<std::int32_t>(log.size()) + 1;

  EXPECT_EQ(j.GetStartPos(kMin, table), end);  // like 0: from the start of the period
  EXPECT_EQ(table.rowCount(), 20);
  EXPECT_EQ(j.GetStartPos(-1, table), end);
  EXPECT_EQ(table.rowCount(), 40);
  EXPECT_EQ(j.GetStartPos(kMax, table), kMax);  // past the end: unchanged
  EXPECT_EQ(table.rowCount(), 40);
  EXPECT_EQ(j.NumErr(), 0);

  // Five bytes into record 3: the rest of its line sorts below the period
  // and is passed over; records 4 on follow.
  MemoryValueTable fromInside;
  EXPECT_EQ(j.GetStartPos(static_cast<std::int32_t>(starts[2]) + 5, fromInside), end);
  EXPECT_EQ(fromInside.rowCount(), 17);
  EXPECT_EQ(cell(fromInside, 1, 9), recs[3].id);

  // Inside the presentation of record 5: the rest of that line is no
  // record, so it neither adds a row nor ends the call; records 6 on follow.
  const auto inText = static_cast<std::int32_t>(starts[5]) - 6;
  MemoryValueTable fromText;
  EXPECT_EQ(j.GetStartPos(inText, fromText), end);
  EXPECT_EQ(fromText.rowCount(), 15);
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(Hostile, GetUsersPositionsNegativeHugeOrInsideALine) {
  std::vector<std::int64_t> starts;
  useLog(test::dailyLog(1, 1, 8, 100, &starts));
  const auto end = static_cast<std::int32_t>(log.size()) + 1;
  const Names everyone{"Админ", "Иванов", "Петров", "Сидоров"};

  EXPECT_EQ(j.GetUsers(kMin, list), end);
  EXPECT_EQ(listValues(list), everyone);
  EXPECT_EQ(j.GetUsers(kMax, list), kMax);
  EXPECT_EQ(list.GetListSize(), 0);  // emptied, nothing read
  EXPECT_EQ(j.NumErr(), 0);

  // From inside record 2 (of Петров): its tail may name a junk user; the
  // users of records 3 on are all there.
  EXPECT_EQ(j.GetUsers(static_cast<std::int32_t>(starts[1]) + 3, list), end);
  const Names found = listValues(list);
  for (const char* name : {"Админ", "Иванов", "Петров", "Сидоров"}) {
    EXPECT_NE(std::find(found.begin(), found.end(), name), found.end()) << name;
  }
  EXPECT_EQ(j.NumErr(), 0);
}

// ---- filter texts of thousands of bars ---------------------------------------

TEST_F(Hostile, FilterTextsOfThousandsOfBars) {
  test::Rec noUser = test::at("20050101", "09:00:00", "");
  test::Rec barUser = test::at("20050101", "09:30:00", std::string(1000, '|'));
  test::Rec blankComment = test::at("20050101", "09:45:00");
  blankComment.comment = "с пробелом";
  useLog(noUser.line() + barUser.line() + blankComment.line() + test::dailyLog(1, 1, 10));
  period("20050101", "20050101");
  const std::string bars(10000, '|');

  // The exact test on a text of bars alone: only values between two
  // neighbouring bars, the empty one and one made of bars, match.
  ASSERT_TRUE(j.SetFilter(test::u16(bars), u"FilterUsers"));
  EXPECT_EQ(j.GetFilter(u"3"), test::u16(bars));
  j.GetStartPos(0, table);
  EXPECT_EQ(test::column(table, 3), (Names{"", std::string(1000, '|')}));
  ASSERT_TRUE(j.SetFilter(u"", u"FilterUsers"));

  // An item list of bars alone has no item: the filter goes off.
  EXPECT_FALSE(j.SetFilter(test::u16(bars), u"FilterRem"));
  EXPECT_EQ(j.GetFilter(u"FilterRem"), u"");
  // Thousands of one-blank items: every comment with a blank matches.
  std::string blanks;
  for (int k = 0; k < 5000; ++k) blanks += "| ";
  ASSERT_TRUE(j.SetFilter(test::u16(blanks + "|"), u"FilterRem"));
  MemoryValueTable withBlank;
  j.GetStartPos(0, withBlank);
  EXPECT_EQ(test::column(withBlank, 8), (Names{"с пробелом"}));
  EXPECT_EQ(j.NumErr(), 0);

  // The identifier as a whole value, among thousands of empty places.
  EXPECT_FALSE(j.SetFilter(u"", u"FilterRem"));
  j.SetCoincidenceObject(1);
  ASSERT_TRUE(j.SetFilter(test::u16(bars + "O3" + bars), u"FilterIdObj"));
  MemoryValueTable byId;
  j.GetStartPos(0, byId);
  EXPECT_EQ(test::column(byId, 9), (Names{"O3"}));
}

// ---- replacement lists with numbers outside any sense ---------------------------

TEST_F(Hostile, ListNumbersNegativeHugeOrMalformed) {
  std::string recs;
  for (int k = 1; k <= 5; ++k) recs += test::at("20050101", test::clock(k)).line();
  useLog(recs);
  const std::string key = "20991231;23:59:59;";
  auto withKey = [&](std::initializer_list<int> numbers) {
    std::string out = log;
    for (int k : numbers) out.replace(static_cast<std::size_t>(k - 1) * (log.size() / 5), 18, key);
    return out;
  };

  // A negative number is never reached and stops every later entry.
  EXPECT_EQ(replace(key + "-3\r\n" + key + "2\r\n"), 0);
  EXPECT_EQ(tmp.read("out.txt"), log);
  EXPECT_EQ(replace(key + "-2147483648\r\n"), 1);  // the last slot counts once pending
  EXPECT_EQ(tmp.read("out.txt"), log);
  EXPECT_EQ(replace(key + "2\r\n" + key + "2147483647\r\n"), 2);
  EXPECT_EQ(tmp.read("out.txt"), withKey({2}));
  // Leading zeros by the thousand, blanks inside, a fraction rounded.
  EXPECT_EQ(replace(key + std::string(5000, '0') + "1\r\n" + key + " 3 \r\n" + key + "4.5\r\n"), 3);
  EXPECT_EQ(tmp.read("out.txt"), withKey({1, 3, 4}));
  EXPECT_EQ(j.NumErr(), 0);

  // Beyond 32 bits either way, or beyond any floating number: an error
  // naming the list, and no copy.
  for (const char* number : {"-2147483649", "2147483648", "1e308", "1e999", "9999999999999999999999999"}) {
    SCOPED_TRACE(number);
    fs::remove(tmp.path("out.txt"));
    expectFailure(replace(key + "1\r\n" + key + number + "\r\n"), ErrorNumber::Overflow, "list.txt");
    EXPECT_FALSE(tmp.exists("out.txt"));
  }
}

TEST_F(Hostile, ListFileTooLargeToReadIsRefusedWithAnError) {
  useLog(test::at("20050101", "10:00:00").line());
  tmp.write("list.txt", "");
  std::error_code ec;
  fs::resize_file(tmp.path("list.txt"), (std::uintmax_t{1} << 30) + 1, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  expectFailure(j.ReplaceDateTimes(tmp.u16("out.txt"), tmp.u16("list.txt")), ErrorNumber::OutOfMemory, "list.txt");
  EXPECT_FALSE(tmp.exists("out.txt"));
}

// ---- outputs that cannot be written --------------------------------------------

TEST_F(Hostile, OutputsInMissingFoldersOrOnFolders) {
  std::string recs = test::at("20050101", "10:00:00").line();
  test::Rec error = test::at("20050101", "11:00:00");
  error.number = "5";
  useLog(recs + error.line());

  expectFailure(storeErrRows("keep.txt", "нет-папки/err.txt"), ErrorNumber::PathNotFound, "err.txt");
  fs::create_directory(tmp.path("папка"));
#ifdef _WIN32
  const ErrorNumber onFolder = ErrorNumber::PermissionDenied;  // the system says "access denied"
#else
  const ErrorNumber onFolder = ErrorNumber::PathFileAccess;
#endif
  expectFailure(storeErrRows("папка", "err.txt"), onFolder, "папка");
  expectFailure(replace("20991231;23:59:59;1\r\n", "папка"), onFolder, "папка");
  expectFailure(replace("20991231;23:59:59;1\r\n", "нет/папки/out.txt"), ErrorNumber::PathNotFound, "out.txt");
  EXPECT_EQ(tmp.read("log.txt"), log);
}

TEST_F(Hostile, ReadOnlyOutputsKeepTheirContent) {
  test::PermissionChecks checks;
  if (!checks.apply()) GTEST_SKIP() << "root writes into read-only files, and may not drop that right here";
  useLog(test::dailyLog(1, 1, 5));
  for (const char* name : {"keep.txt", "err.txt", "out.txt"}) {
    tmp.write(name, "старое содержимое");
    fs::permissions(tmp.path(name), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  expectFailure(storeErrRows("keep.txt", "new-err.txt"), ErrorNumber::PermissionDenied, "keep.txt");
  expectFailure(storeErrRows("new-keep.txt", "err.txt"), ErrorNumber::PermissionDenied, "err.txt");
  expectFailure(replace("20991231;23:59:59;1\r\n"), ErrorNumber::PermissionDenied, "out.txt");
  for (const char* name : {"keep.txt", "err.txt", "out.txt"}) {
    EXPECT_EQ(tmp.read(name), "старое содержимое") << name;
    fs::permissions(tmp.path(name), fs::perms::owner_write, fs::perm_options::add);
  }
}

#ifndef _WIN32
TEST_F(Hostile, FullDiskFailsTheCopyInsteadOfCountingIt) {
  std::string recs;
  for (int k = 0; k < 3000; ++k) {  // more than one 64 KiB block each way
    test::Rec r = test::at("20050101", test::clock(k));
    r.number = k % 2 ? "5" : "1";
    recs += r.line();
  }
  useLog(recs);
  const std::u16string full = u"/dev/full";
  expectFailure(j.StoreErrRows(full, tmp.u16("err.txt")), ErrorNumber::DiskFull, "/dev/full");
  expectFailure(j.StoreErrRows(tmp.u16("keep.txt"), full), ErrorNumber::DiskFull, "/dev/full");
  tmp.write("list.txt", "20991231;23:59:59;1\r\n");
  expectFailure(j.ReplaceDateTimes(full, tmp.u16("list.txt")), ErrorNumber::DiskFull, "/dev/full");
  // A small copy, written only at its end, fails the same way.
  useLog(test::at("20050101", "10:00:00").line());
  expectFailure(j.StoreErrRows(full, u""), ErrorNumber::DiskFull, "/dev/full");
}
#endif

// ---- logs that change between and during calls ---------------------------------

TEST_F(Hostile, LogReplacedOrCutBetweenCalls) {
  useLog(test::dailyLog(1, 1, 40));
  period("20050101", "20050131");
  const std::int32_t next = j.GetStartPos(0, table);
  ASSERT_EQ(next, static_cast<std::int32_t>(log.size()) + 1);
  ASSERT_EQ(j.GetUsers(0, list), next);

  // Cut to a few records: the old position lies beyond the new end and is
  // handed back unchanged.
  useLog(test::dailyLog(1, 1, 3));
  EXPECT_EQ(j.GetStartPos(next, table), next);
  EXPECT_EQ(table.rowCount(), 40);
  EXPECT_EQ(j.GetUsers(next, list), next);
  EXPECT_EQ(list.GetListSize(), 0);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>(log.size()));

  // Emptied, then removed.
  useLog("");
  EXPECT_EQ(j.GetStartPos(next, table), next);
  EXPECT_EQ(j.GetStartPos(0, table), -1);
  fs::remove(tmp.path("log.txt"));
  EXPECT_EQ(j.GetStartPos(next, table), -1);
  EXPECT_EQ(j.GetUsers(0, list), -1);
  EXPECT_EQ(storeErrRows(), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(table.rowCount(), 40);

  // Replaced by a longer log: resuming in it reads the records of the period
  // that start at or after the old position.
  std::vector<std::int64_t> starts;
  useLog(test::dailyLog(1, 2, 100, 100, &starts));
  collect(next);
  EXPECT_EQ(j.NumErr(), 0);
  const auto after = starts.end() - std::lower_bound(starts.begin(), starts.end(), next);
  EXPECT_EQ(table.rowCount(), 40 + static_cast<std::int32_t>(after));
}

TEST_F(Hostile, LogCutDuringGetDataGivesOnlyWholeRecords) {
  std::vector<test::Rec> recs;
  useLog(test::dailyLog(1, 1, 3000, 100, nullptr, &recs));  // 300 KB: several windows
  period("20050101", "20050101");
  const std::size_t keep = 100 * 1000 + 50;  // the cut falls inside record 1001
  int windows = 0;
  j.setProgress([&](std::int64_t, std::int64_t) {
    if (++windows == 2) fs::resize_file(tmp.path("log.txt"), keep);
  });
  const std::int32_t next = j.GetStartPos(1, table);
  EXPECT_EQ(j.NumErr(), 0);
  ASSERT_LE(table.rowCount(), 1000);
  for (int row = 1; row <= table.rowCount(); ++row) ASSERT_EQ(cell(table, row, 9), recs[row - 1].id) << row;
  EXPECT_EQ(next, 100 * table.rowCount() + 1);  // where the first record not read starts
}

// The log shrinks while a copy is being written: the copy cannot be whole,
// so the method must not report it as done.
TEST_F(Hostile, LogCutDuringACopyIsReportedNotCounted) {
  useLog(test::dailyLog(1, 1, 3000));  // 300 KB: several windows
  const auto cutAfterFirstWindow = [&] {
    int windows = 0;
    j.setProgress([this, windows](std::int64_t, std::int64_t) mutable {
      if (++windows == 1) fs::resize_file(tmp.path("log.txt"), 1000);
    });
  };
  cutAfterFirstWindow();
  const std::int32_t removed = storeErrRows();
  EXPECT_EQ(removed, -1) << "copy of " << tmp.read("keep.txt").size() << " bytes of " << log.size();
  EXPECT_NE(j.NumErr(), 0);
  EXPECT_FALSE(j.TextErr().empty());

  tmp.write("log.txt", log);
  cutAfterFirstWindow();
  const std::int32_t replaced = replace("20991231;23:59:59;1\r\n");
  EXPECT_EQ(replaced, -1) << "copy of " << tmp.read("out.txt").size() << " bytes of " << log.size();
  EXPECT_NE(j.NumErr(), 0);
  EXPECT_FALSE(j.TextErr().empty());
}

}  // namespace
}  // namespace velmora
