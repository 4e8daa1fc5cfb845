// The typed reader's scans against one whole scan: a scan with a stop ends
// before the first line that starts at or after it, wherever the stop lies,
// the two-halves scan gives what one scan gives, and so do the stretches of
// a session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/reader.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;

struct Seen {
  std::int64_t pos;
  std::string id;
  bool operator==(const Seen&) const = default;
};

class Collect : public RecordSink {
 public:
  bool record(const Record& record) override {
    seen.push_back({record.position, std::string(record.fields[kObjectIdField])});
    return true;
  }
  std::vector<Seen> seen;
};

ReadQuery period(const std::string& begin, const std::string& end) {
  ReadQuery q;
  q.begin = begin;
  q.end = end;
  return q;
}

std::string key(int second) { return "20050317;" + test::clock(second) + ";"; }

// Records of one day, one a second, of uneven lengths; a few longer than
// a scan window; a stray line that is no record after every strayEvery-th.
std::string unevenLog(int records, std::vector<std::int64_t>& starts, std::size_t longEvery, int strayEvery = 0) {
  std::string log;
  for (int k = 0; k < records; ++k) {
    if (strayEvery != 0 && k % strayEvery == strayEvery - 1) log += "x\r\n";
    test::Rec r = test::at("20050317", test::clock(k), k % 7 == 3 ? "Щукин" : "Иванов");
    r.id = test::numbered("O", k);
    r.comment.assign(static_cast<std::size_t>(k * 37 % 150), 'c');
    if (longEvery != 0 && k % longEvery == longEvery / 2) r.comment.assign(Reader::kScanWindow + 300, 'L');
    starts.push_back(static_cast<std::int64_t>(log.size()) + 1);
    log += r.line();
  }
  return log;
}

TEST(ReaderScan, AStopEndsBeforeTheFirstLineStartingThere) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::vector<std::int64_t> starts;
  const std::string log = unevenLog(60, starts, 0);
  tmp.write("events.log", log);
  for (const bool filtered : {false, true}) {
    ReadQuery q = period(key(0), key(59));
    if (filtered) q.filters[kUserField] = {.on = true, .exact = true, .invert = false, .values = {u"щукин"}};
    Reader reader(tmp.u16("events.log"), q, CodePage::current());
    Collect whole;
    ASSERT_EQ(reader.scan(1, whole).next, static_cast<std::int64_t>(log.size()) + 1);
    for (std::int64_t stop = 2; stop <= static_cast<std::int64_t>(log.size()); ++stop) {
      // The lines that start before the stop are this scan's, a line that
      // runs over it included; the next scan begins at the first after.
      std::size_t mine = 0;
      while (mine < starts.size() && starts[mine] < stop) ++mine;
      std::vector<Seen> want;
      for (const Seen& s : whole.seen) {
        if (s.pos < stop) want.push_back(s);
      }
      Collect part;
      const ScanResult r = reader.scan(1, part, stop);
      ASSERT_FALSE(r.failure);
      EXPECT_EQ(part.seen, want) << "stop " << stop << (filtered ? " filtered" : "");
      if (mine < starts.size()) {
        EXPECT_TRUE(r.reachedStop) << "stop " << stop;
        EXPECT_EQ(r.next, starts[mine]) << "stop " << stop;
      }
    }
  }
}

TEST(ReaderScan, TwoHalvesGiveWhatOneScanGives) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::vector<std::int64_t> starts;
  const int records = 1200;
  tmp.write("events.log", unevenLog(records, starts, 250));
  // Period ends all over the log, and densely about its middle, where the
  // split falls: before it, at it and after it.
  std::vector<int> ends;
  for (int k = 0; k < records; k += 97) ends.push_back(k);
  for (int k = records / 2 - 40; k <= records / 2 + 40; ++k) ends.push_back(k);
  ends.push_back(records + 5);
  int kept = 0, dropped = 0;
  for (const bool filtered : {false, true}) {
    for (const int begin : {0, 10}) {
      for (const int end : ends) {
        ReadQuery q = period(key(begin), key(end));
        if (filtered) q.filters[kCommentField] = {.on = true, .exact = false, .invert = false, .values = {u"ccc"}};
        Reader one(tmp.u16("events.log"), q, CodePage::current());
        Collect all;
        const ScanResult whole = one.scan(0, all);
        ASSERT_FALSE(whole.failure);

        Reader halves(tmp.u16("events.log"), q, CodePage::current());
        Collect first, second;
        const Reader::Halves h = halves.scanInHalves(0, first, second, 0);
        ASSERT_FALSE(h.failure);
        std::vector<Seen> merged = first.seen;
        if (h.secondKept) merged.insert(merged.end(), second.seen.begin(), second.seen.end());
        (h.secondKept ? kept : dropped) += 1;
        const std::string where = "period " + std::to_string(begin) + ".." + std::to_string(end);
        EXPECT_EQ(merged, all.seen) << where;
        EXPECT_EQ(h.next, whole.next) << where;
        EXPECT_EQ(halves.oversizeRecords(), one.oversizeRecords()) << where;
        EXPECT_EQ(halves.firstOversize(), one.firstOversize()) << where;
      }
    }
  }
  EXPECT_GT(kept, 0);
  EXPECT_GT(dropped, 0);
}

// A session read in stretches, each from where the last ended (as the SQL
// tables read), gives the records, positions and end of one scan: the
// log, windows and prefilter the first call opened carry over whole.
TEST(ReaderScan, StretchesOfASessionGiveOneScan) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::vector<std::int64_t> starts;
  const int records = 1500;
  tmp.write("events.log", unevenLog(records, starts, 300, 41));
  const std::vector<FieldFilter> filters{
      {},
      {.on = true, .exact = true, .invert = false, .values = {u"щукин"}},
      {.on = true, .exact = false, .invert = false, .values = {u"LLL", u"ccccc"}},
  };
  for (std::size_t f = 0; f < filters.size(); ++f) {
    for (const int end : {700, records + 5}) {
      for (const std::int64_t stretch : {std::int64_t{900}, std::int64_t{20000}, std::int64_t{300000}}) {
        ReadQuery q = period(key(40), key(end));
        q.filters[f == 2 ? kCommentField : kUserField] = filters[f];
        Reader one(tmp.u16("events.log"), q, CodePage::current());
        Collect all;
        const ScanResult whole = one.scan(0, all);
        ASSERT_FALSE(whole.failure);

        Reader reader(tmp.u16("events.log"), q, CodePage::current());
        reader.beginSession();
        Collect parts;
        ScanResult part = reader.findStart();
        int stretches = 0;
        while (part.next >= 1) {
          part = reader.scan(part.next, parts, part.next + stretch);
          ASSERT_FALSE(part.failure);
          ++stretches;
          if (!part.reachedStop) break;
        }
        const std::string where = "filter " + std::to_string(f) + ", end " + std::to_string(end) + ", stretch " +
                                  std::to_string(stretch);
        EXPECT_EQ(parts.seen, all.seen) << where;
        EXPECT_EQ(part.next, whole.next) << where;
        EXPECT_GT(stretches, stretch < 1000 ? 100 : 0) << where;
      }
    }
  }

  // The log stays open between the calls of a session, and only then.
  Reader reader(tmp.u16("events.log"), period(key(0), key(records)), CodePage::current());
  Collect some;
  ASSERT_FALSE(reader.scan(1, some, 5000).failure);
  EXPECT_FALSE(test::heldOpen(tmp.path("events.log")));
  reader.beginSession();
  ASSERT_FALSE(reader.scan(1, some, 5000).failure);
  EXPECT_TRUE(test::heldOpen(tmp.path("events.log")));
  reader.endSession();
  EXPECT_FALSE(test::heldOpen(tmp.path("events.log")));
}

}  // namespace
}  // namespace velmora
