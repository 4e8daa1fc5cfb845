// Logs that the host keeps appending to between and during calls: every
// record is read exactly once, and never half-written.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::TempDir;

class GrowingLog : public ::testing::Test {
 protected:
  GrowingLog() {
    tmp.write("log.txt", "");
    j.SetFilePath(tmp.u16("log.txt"));
    EXPECT_TRUE(j.SetDateTimes(u"20050101", u"", u"20050131", u""));
  }
  // The next record, one second after the previous, of a random length.
  std::string nextRecord() {
    test::Rec r = test::at("20050110", test::clock(made), users[made % 3]);
    r.id = test::numbered("O", made);
    r.comment.assign(static_cast<std::size_t>(std::uniform_int_distribution<int>(0, 3000)(random)), 'c');
    ++made;
    return r.line();
  }
  // Appends whole records, noting their ids as complete.
  void appendRecords(int count) {
    std::string batch;
    for (int k = 0; k < count; ++k) {
      batch += nextRecord();
      complete.push_back(test::numbered("O", made - 1));
    }
    tmp.append("log.txt", batch);
  }

  TempDir tmp;
  Journal j;
  MemoryValueTable table;
  std::mt19937 random{20050317};
  int made = 0;
  std::vector<std::string> complete;  // ids of the records wholly in the log
  const char* users[3] = {"Иванов", "Петров", "Сидоров"};
};

TEST_F(GrowingLog, EachCallGetsExactlyTheRecordsAddedSince) {
  appendRecords(5);
  std::int32_t pos = 0;
  for (int round = 0; round < 40; ++round) {
    appendRecords(std::uniform_int_distribution<int>(0, 60)(random));
    // Every other round the host is still writing a record when the reader
    // comes: cut in its key, or further on.
    std::string rest;
    std::string restId;
    if (round % 2 == 1) {
      const std::string record = nextRecord();
      const std::size_t cut = round % 4 == 1 ? 10 : record.size() / 2;
      tmp.append("log.txt", record.substr(0, cut));
      rest = record.substr(cut);
      restId = test::numbered("O", made - 1);
    }
    const std::int32_t next = j.GetStartPos(pos, table);
    ASSERT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
    ASSERT_GT(next, 0);
    pos = next;
    ASSERT_EQ(test::column(table, 9), complete) << "round " << round;
    if (!rest.empty()) {
      tmp.append("log.txt", rest);
      complete.push_back(restId);
    }
  }
  EXPECT_GT(table.rowCount(), 500);
}

TEST_F(GrowingLog, RecordsAppendedDuringACallAreReadOnceOverall) {
  appendRecords(200);  // several windows
  std::string rest;
  std::string restId;
  j.setProgress([&](std::int64_t, std::int64_t) {
    // The host appends while the reader works: one whole record, and the
    // front of another.
    if (!rest.empty() || !restId.empty()) return;
    appendRecords(1);
    const std::string record = nextRecord();
    restId = test::numbered("O", made - 1);
    tmp.append("log.txt", record.substr(0, 30));
    rest = record.substr(30);
  });
  const std::int32_t first = j.GetStartPos(0, table);
  j.setProgress(nullptr);
  ASSERT_GT(first, 0);
  ASSERT_FALSE(rest.empty());
  const std::vector<std::string> seen = test::column(table, 9);
  ASSERT_LE(seen.size(), complete.size());  // never the unfinished record
  EXPECT_TRUE(std::equal(seen.begin(), seen.end(), complete.begin()));

  // The host finishes it; the next call reads what the first left, once.
  tmp.append("log.txt", rest);
  complete.push_back(restId);
  const std::int32_t second = j.GetStartPos(first, table);
  EXPECT_GT(second, first);
  EXPECT_EQ(test::column(table, 9), complete);
}

TEST_F(GrowingLog, UsersFromTheReturnedPositionAreTheNewOnesOnly) {
  appendRecords(30);
  MemoryValueList list;
  const std::int32_t pos = j.GetUsers(0, list);
  EXPECT_EQ(test::listValues(list), (std::vector<std::string>{"Иванов", "Петров", "Сидоров"}));
  tmp.append("log.txt", test::at("20050111", "10:00:00", "Новиков").line() +
                            test::at("20050111", "10:00:01", "Петров").line());
  EXPECT_EQ(j.GetUsers(pos, list), pos + static_cast<std::int32_t>(
                                             test::at("20050111", "10:00:00", "Новиков").line().size() +
                                             test::at("20050111", "10:00:01", "Петров").line().size()));
  EXPECT_EQ(test::listValues(list), (std::vector<std::string>{"Новиков", "Петров"}));
}

TEST_F(GrowingLog, CopiesTakeTheLogAsItWasWhenOpened) {
  appendRecords(200);
  const std::string log = tmp.read("log.txt");
  int calls = 0;
  j.setProgress([&](std::int64_t, std::int64_t) {
    if (++calls == 1) tmp.append("log.txt", nextRecord());
  });
  EXPECT_EQ(j.StoreErrRows(tmp.u16("keep.txt"), u""), 0);
  EXPECT_EQ(tmp.read("keep.txt"), log);
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>(log.size()));
}

TEST_F(GrowingLog, LogCutDuringACopyFailsIt) {
  appendRecords(200);  // several windows
  const std::string log = tmp.read("log.txt");
  auto cutAtFirstWindow = [&] {
    int calls = 0;
    j.setProgress([this, calls](std::int64_t, std::int64_t) mutable {
      if (++calls == 1) std::filesystem::resize_file(tmp.path("log.txt"), 1000);
    });
  };
  cutAtFirstWindow();
  EXPECT_EQ(j.StoreErrRows(tmp.u16("keep.txt"), u""), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::DeviceIo));
  EXPECT_NE(j.TextErr().find(u"log.txt"), U16String::npos);

  tmp.write("log.txt", log);
  tmp.write("list.txt", "20991231;23:59:59;150\r\n");
  cutAtFirstWindow();
  EXPECT_EQ(j.ReplaceDateTimes(tmp.u16("out.txt"), tmp.u16("list.txt")), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::DeviceIo));
}

}  // namespace
}  // namespace velmora
