// Lines that are not records (a stray "x", a bare key, a damaged date, a
// long garbage line) among records in time order: neither in a period nor
// past its end, so every period finds exactly its records, through the
// typed reader and through GetData alike, with the start search's binary
// search (a long log) and without it (a short one).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "script/journal.h"
#include "core/reader.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

struct Line {
  std::string bytes;  // without CR LF
  std::string date;   // a record's date; empty for a stray line
  std::string id;
};

std::vector<Line> strayLog(std::mt19937& rng, int days, int perDay, std::size_t commentSize) {
  const std::vector<std::string> strays{"x", "short", "", "Z long garbage line " + std::string(300, 'g'),
                                        "20050110;10:00:00;", "2005011a;10:00:00;U;E;C;X;1;c;;",
                                        "99999999", std::string(70000, 'Q')};
  std::vector<Line> out;
  int n = 0;
  for (int d = 0; d < days; ++d) {
    const std::string date = "200501" + std::string(d < 9 ? "0" : "") + std::to_string(d + 1);
    for (int k = 0; k < perDay; ++k) {
      if (rng() % 9 == 0) out.push_back({strays[rng() % strays.size()], "", ""});
      test::Rec r = test::at(date, test::clock(k * 60));
      r.id = test::numbered("O", n++);
      r.comment.assign(commentSize, 'c');
      out.push_back({r.text(), date, r.id});
    }
  }
  out.push_back({"x", "", ""});
  // The log's last line a record, so that its end margin holds no record.
  test::Rec last = test::at("20050301", "00:00:00");
  last.id = "last";
  out.push_back({last.text(), "20050301", "last"});
  return out;
}

class Ids : public RecordSink {
 public:
  bool record(const Record& r) override {
    ids.emplace_back(r.fields[kObjectIdField]);
    return true;
  }
  std::vector<std::string> ids;
};

TEST(StrayLines, NeverEndAPeriodNorHideItsRecords) {
  std::mt19937 rng(17);
  struct Shape {
    int days, perDay;
    std::size_t comment;
  };
  // A short log (read whole) and a long one (probed by binary search).
  for (const Shape shape : {Shape{20, 8, 20}, Shape{28, 40, 300}}) {
    const std::vector<Line> lines = strayLog(rng, shape.days, shape.perDay, shape.comment);
    std::string bytes;
    for (const Line& l : lines) bytes += l.bytes + "\r\n";
    test::TempDir tmp;
    tmp.write("events.log", bytes);
    for (int trial = 0; trial < 40; ++trial) {
      const int a = 1 + static_cast<int>(rng() % 31), b = std::min(31, a + static_cast<int>(rng() % 4));
      const auto day = [](int d) { return "200501" + std::string(d < 10 ? "0" : "") + std::to_string(d); };
      std::vector<std::string> expected;
      for (const Line& l : lines) {
        if (!l.date.empty() && l.date >= day(a) && l.date <= day(b)) expected.push_back(l.id);
      }
      SCOPED_TRACE(day(a) + ".." + day(b) + " of a log of " + std::to_string(bytes.size()) + " bytes");

      ReadQuery q;
      q.begin = day(a) + ";00:00:00;";
      q.end = day(b) + ";23:59:59;";
      Reader reader(tmp.u16("events.log"), q, CodePage::current());
      Ids sink;
      const ScanResult scan = reader.scan(0, sink);
      ASSERT_FALSE(scan.failure);
      EXPECT_EQ(sink.ids, expected);

      Journal j;
      j.SetFilePath(tmp.u16("events.log"));
      ASSERT_TRUE(j.SetDateTimes(test::u16(day(a)), u"", test::u16(day(b)), u""));
      MemoryValueTable table;
      j.GetStartPos(0, table);
      EXPECT_EQ(j.NumErr(), 0);
      EXPECT_EQ(test::column(table, kObjectIdField), expected);
    }
  }
}

}  // namespace
}  // namespace velmora
