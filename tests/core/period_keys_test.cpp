// SetPeriodKeys: the tool's period from two keys as they stand, beyond the
// year bound of SetDateTimes, read by GetRecords and GetData alike.
#include <gtest/gtest.h>

#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::TempDir;

class Keys : public RecordSink {
 public:
  bool record(const Record& record) override {
    const RecordFields& f = record.fields;
    keys.push_back(std::string(f[1]) + " " + std::string(f[2]));
    return true;
  }
  std::vector<std::string> keys;
};

TEST(PeriodKeys, AcceptsOrderedKeysOfEighteenBytesOnly) {
  Journal j;
  EXPECT_FALSE(j.SetPeriodKeys("20050101;00:00:00;", "20050101;00:00:00"));
  EXPECT_FALSE(j.SetPeriodKeys("20050102;00:00:00;", "20050101;23:59:59;")) << "begin after end";
  EXPECT_TRUE(j.DateBegin().empty()) << "a refusal changes nothing";
  ASSERT_TRUE(j.SetPeriodKeys("20050101;00:00:00;", "20990101;23:59:59;")) << "a year past the current one";
  EXPECT_EQ(j.DateBegin(), u"20050101;00:00:00;");
  EXPECT_EQ(j.DateEnd(), u"20990101;23:59:59;");
  ASSERT_TRUE(j.SetPeriodKeys(std::string(18, '\0'), std::string(18, '\xFF')));
  EXPECT_EQ(j.DateEnd().size(), 18u);
  EXPECT_EQ(j.DateEnd()[0], u'\u00FF') << "bytes widened one to one";
}

TEST(PeriodKeys, OpenKeysHoldEveryRecordOfTheLogInGetRecordsAndGetData) {
  TempDir tmp;
  std::string log;
  for (int k = 0; k < 50; ++k) log += test::at("20050103", test::clock(k * 60)).line();
  log += test::at("20990101", "12:00:00").line();  // dated by a wrong clock, appended last
  tmp.write("log.txt", log);
  Journal j;
  j.SetFilePath(tmp.u16("log.txt"));
  ASSERT_TRUE(j.SetPeriodKeys(std::string(18, '\0'), std::string(18, '\xFF')));
  Keys sink;
  EXPECT_EQ(j.GetRecords(0, sink), static_cast<std::int64_t>(log.size()) + 1) << "found by the start search";
  ASSERT_EQ(sink.keys.size(), 51u);
  EXPECT_EQ(sink.keys.front(), "20050103 00:00:00");
  EXPECT_EQ(sink.keys.back(), "20990101 12:00:00");

  MemoryValueTable table;
  EXPECT_EQ(j.GetStartPos(0, table), static_cast<std::int32_t>(log.size()) + 1);
  EXPECT_EQ(table.rowCount(), 51);

  ASSERT_TRUE(j.SetPeriodKeys("20050103;00:30:00;", std::string(18, '\xFF')));
  Keys tail;
  j.GetRecords(0, tail);
  ASSERT_EQ(tail.keys.size(), 21u);
  EXPECT_EQ(tail.keys.front(), "20050103 00:30:00");
}

}  // namespace
}  // namespace velmora
