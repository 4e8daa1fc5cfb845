// The run-time choice between the SSE2 routines and the portable ones: each
// routine of both forms against a plain loop on the same bytes, and whole
// scans with either forced, which must give the same rows and positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/filter_names.h"
#include "core/filter_text.h"
#include "core/lines.h"
#include "core/reader.h"
#include "core/simd.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

// Restores the choice made at load, whatever a test forced.
struct ForcedPath {
  ~ForcedPath() { simd::forceSse2(true); }
};

TEST(Simd, ByteSearchesOfBothFormsFindWhatAPlainLoopFinds) {
  std::mt19937 random(17);
  const std::string alphabet = "\r\n;;ab\x80\xff\x7f";
  for (int round = 0; round < 300; ++round) {
    std::string text(1 + random() % 200, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    text.append(lines::kCutBlock, ' ');  // the block reads' room
    const char* p = text.data();
    const std::size_t n = text.size() - lines::kCutBlock;
    for (char c : {'\r', ';', '\x80', '\xff'}) {
      for (std::size_t from = 0; from <= n; from += 1 + random() % 5) {
        const char* want = nullptr;
        for (std::size_t i = from; i < n && want == nullptr; ++i) want = p[i] == c ? p + i : nullptr;
        ASSERT_EQ(lines::findByteWords(p + from, p + n, c), want) << round << " " << from;
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < 64; ++i) mask |= std::uint64_t{p[from + i] == c} << i;
        ASSERT_EQ(lines::byteMask64Words(p + from, c), mask);
#if VELMORA_SSE2_CODE
        if (simd::sse2Available()) {
          ASSERT_EQ(lines::findByteSse2(p + from, p + n, c), want);
          ASSERT_EQ(lines::byteMask64Sse2(p + from, c), mask);
        }
#endif
      }
    }
  }
}

class Row : public std::vector<std::string> {};

class Collect : public RecordSink {
 public:
  bool record(const Record& record) override {
    const RecordFields& fields = record.fields;
    Row row;
    for (int k = 1; k <= 10; ++k) row.emplace_back(fields[k]);
    rows.push_back(std::move(row));
    return true;
  }
  std::vector<Row> rows;
};

// Logs of Latin and Cyrillic users and codes, lines of many lengths (so that
// matches fall at every place of a search step and of a window), read with
// filters that the prefilter searches for and with some it passes to the
// plain loop; the portable path must give the SSE2 path's rows and positions.
TEST(Simd, ScansGiveTheSameRowsOnEitherPath) {
  ASSERT_TRUE(CodePage::select(1251));
  const ForcedPath restore;
  std::mt19937 random(1251);
  static const char* const kUsers[] = {"Иванов", "Петров", "Admin", "admin", "Щукин", "Kladovshik", "ЩУКИН", "Oleg"};
  static const char* const kEvents[] = {"DocWrite", "Docs", "RefWrite", "Ошибка", "Session"};
  struct Query {
    const char16_t* filter;
    const char16_t* name;
    const char16_t* invert;
    bool (*passes)(const test::Rec&);  // a record-by-record reading
  };
  static const Query kQueries[] = {
      {u"|Щукин|", u"FilterUsers", u"00000000", [](const test::Rec& r) { return r.user == "Щукин" || r.user == "ЩУКИН"; }},
      {u"|admin|", u"FilterUsers", u"00000000", [](const test::Rec& r) { return r.user == "Admin" || r.user == "admin"; }},
      {u"|Oleg|Щукин|", u"FilterUsers", u"00000000",
       [](const test::Rec& r) { return r.user == "Oleg" || r.user == "Щукин" || r.user == "ЩУКИН"; }},
      {u"|ОСТАТ|", u"FilterRem", u"00000000", [](const test::Rec& r) { return r.comment.ends_with("остатков"); }},
      {u"|Docs|", u"FilterOperation", u"00000000", [](const test::Rec& r) { return r.event == "Docs"; }},
      {u"|Иванов|", u"FilterUsers", u"10000000", [](const test::Rec& r) { return r.user != "Иванов"; }},
      {u"|Никто|", u"FilterUsers", u"00000000", [](const test::Rec&) { return false; }},
  };
  test::TempDir tmp;
  for (int round = 0; round < 24; ++round) {
    std::string log;
    std::vector<test::Rec> recs;
    const int records = 200 + static_cast<int>(random() % 3000);
    for (int k = 0; k < records; ++k) {
      test::Rec r = test::at(test::janDay(1 + k * 10 / records), test::clock(k % 80000),
                             kUsers[random() % (round % 2 ? 8 : 4)]);
      r.event = kEvents[random() % 5];
      r.comment = std::string(random() % (round % 3 ? 40 : 400), 'x') + (k % 7 ? "" : "Проверка остатков");
      r.id = test::numbered("O/", k);
      log += r.line();
      recs.push_back(r);
    }
    tmp.write("log.txt", log);
    for (const Query& q : kQueries) {
      ReadQuery query;
      query.begin = "20050101;00:00:00;";
      query.end = "20050131;23:59:59;";
      const int field = filterField(q.name);
      FieldFilter& filter = query.filters[static_cast<std::size_t>(field)];
      filter = parseFilterText(field, q.filter, false).value();
      filter.invert = q.invert[field - 3] == u'1';
      Reader reader(tmp.u16("log.txt"), query, CodePage::current());
      Collect wide, portable;
      const std::int64_t start = round % 4 == 3 ? 1 + static_cast<std::int64_t>(random() % log.size()) : 0;
      // The windows GetData reads in: smaller when it resumes at a position.
      reader.setScanWindow(start >= 1 ? Reader::kSearchWindow : Reader::kScanWindow);
      simd::forceSse2(true);
      const ScanResult wideEnd = reader.scan(start, wide);
      simd::forceSse2(false);
      ASSERT_FALSE(simd::sse2());
      const ScanResult portableEnd = reader.scan(start, portable);
      ASSERT_EQ(portableEnd.next, wideEnd.next) << round << " " << test::utf8(q.filter);
      ASSERT_EQ(portable.rows, wide.rows) << round << " " << test::utf8(q.filter);
      ASSERT_FALSE(wideEnd.failure);
      ASSERT_FALSE(portableEnd.failure);
      if (start == 0) {
        const auto want = std::count_if(recs.begin(), recs.end(), q.passes);
        ASSERT_EQ(static_cast<std::ptrdiff_t>(wide.rows.size()), want) << round << " " << test::utf8(q.filter);
        ASSERT_EQ(wideEnd.next, static_cast<std::int64_t>(log.size()) + 1);
      }
    }
  }
}

}  // namespace
}  // namespace velmora
