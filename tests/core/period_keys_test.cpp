// Periods left open at an end: every record on that side is in them, one
// dated by a wrong clock included, and the start search finds it.
#include <gtest/gtest.h>

#include "core/reader.h"
#include "text/codepage.h"
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

TEST(PeriodKeys, OpenKeysHoldEveryRecordOnTheirSide) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::string log;
  for (int k = 0; k < 50; ++k) log += test::at("20050103", test::clock(k * 60)).line();
  log += test::at("20990101", "12:00:00").line();  // dated by a wrong clock, appended last
  tmp.write("log.txt", log);
  const struct {
    std::string begin, end;
    std::size_t records;
    const char *first, *last;
  } cases[] = {
      {openBeginKey(), openEndKey(), 51, "20050103 00:00:00", "20990101 12:00:00"},
      {"20050103;00:30:00;", openEndKey(), 21, "20050103 00:30:00", "20990101 12:00:00"},
      {openBeginKey(), "20050103;00:30:00;", 31, "20050103 00:00:00", "20050103 00:30:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ReadQuery q;
    q.begin = c.begin;
    q.end = c.end;
    Reader reader(tmp.u16("log.txt"), q, CodePage::current());
    Keys sink;
    const ScanResult scan = reader.scan(0, sink);
    EXPECT_FALSE(scan.failure);
    if (c.records == 51) {
      EXPECT_EQ(scan.next, static_cast<std::int64_t>(log.size()) + 1) << "found by the start search";
    }
    ASSERT_EQ(sink.keys.size(), c.records);
    EXPECT_EQ(sink.keys.front(), c.first);
    EXPECT_EQ(sink.keys.back(), c.last);
  }
}

}  // namespace
}  // namespace velmora
