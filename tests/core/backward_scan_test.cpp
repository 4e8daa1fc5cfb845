// The backward scan against the forward one: for any period, filter, start
// and page size, paging back gives exactly the forward scan's records in
// reverse order, each page ending where the next begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/backward_scan.h"
#include "core/reader.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;

struct Seen {
  std::int64_t pos;
  std::string id;
  bool error;
  bool operator==(const Seen&) const = default;
};

// Records with their positions, from whichever scan calls; stops after limit.
template <class Scan>
class Pages : public RecordSink {
 public:
  Pages(const Scan&, std::size_t limit) : limit_(limit) {}
  bool record(const Record& r) override {
    seen.push_back({r.position, std::string(r.fields[kObjectIdField]), r.error});
    return ++inPage_ < limit_;
  }
  void newPage() { inPage_ = 0; }
  std::vector<Seen> seen;

 private:
  std::size_t limit_, inPage_ = 0;
};

std::string key(int second) { return "20050317;" + test::clock(second) + ";"; }

TEST(BackwardScan, PagesBackAreTheForwardRecordsReversed) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::string log;
  std::vector<std::int64_t> starts;
  const int records = 2500;
  for (int k = 0; k < records; ++k) {
    test::Rec r = test::at("20050317", test::clock(k), k % 7 == 3 ? "Щукин" : "Иванов");
    r.id = test::numbered("O", k);
    if (k % 11 == 0) r.number = "5";  // error records, whose bit travels back too
    r.comment.assign(static_cast<std::size_t>(k * 37 % 150), 'c');
    // Lines longer than the first window, so that windows widen.
    if (k % 900 == 450) r.comment.assign(BackwardScan::kFirstWindow + 1000, 'L');
    starts.push_back(static_cast<std::int64_t>(log.size()) + 1);
    log += r.line();
  }
  tmp.write("events.log", log);
  const auto size = static_cast<std::int64_t>(log.size());

  struct Case {
    int begin, end;
    int field;  // 0: no filter
    bool exact, invert;
    std::u16string value;
  };
  const std::vector<Case> cases = {
      {0, records, 0, true, false, u""},         {300, 1900, 0, true, false, u""},
      {0, records, kUserField, true, false, u"щукин"}, {0, records, kUserField, true, true, u"щукин"},
      {100, 2400, kCommentField, false, false, u"ccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccc"},
      {0, records, kCommentField, false, false, u"LLLL"}, {5000, 6000, 0, true, false, u""},
  };
  for (const Case& c : cases) {
    ReadQuery q;
    q.begin = key(c.begin);
    q.end = key(c.end);
    if (c.field != 0) q.filters[static_cast<std::size_t>(c.field)] = {.on = true, .exact = c.exact, .invert = c.invert, .values = {c.value}};
    Reader reader(tmp.u16("events.log"), q, CodePage::current());
    Pages<Reader> forward(reader, SIZE_MAX);
    ASSERT_FALSE(reader.scan(0, forward).failure);
    const std::string where = "period " + std::to_string(c.begin) + ".." + std::to_string(c.end) + " field " +
                              std::to_string(c.field) + (c.invert ? " inverted" : "");

    // Paged back from the end, in pages of several sizes.
    for (const std::size_t limit : {std::size_t{1}, std::size_t{7}, std::size_t{5000}}) {
      BackwardScan back(reader);
      Pages<BackwardScan> pages(back, limit);
      std::int64_t before = Reader::kNoStop;
      int calls = 0;
      while (before != 0 && ++calls < 5000) {
        pages.newPage();
        const BackwardResult r = back.scan(before, pages);
        ASSERT_FALSE(r.failure) << where;
        ASSERT_TRUE(r.next == 0 || r.next < before) << where;
        before = r.next;
      }
      std::vector<Seen> want(forward.seen.rbegin(), forward.seen.rend());
      EXPECT_EQ(pages.seen, want) << where << " limit " << limit;
    }
    // One page from line starts and from inside lines all over the log.
    for (std::size_t i = 0; i <= starts.size(); i += 61) {
      const std::int64_t at = i < starts.size() ? starts[i] : size + 1;
      for (const std::int64_t before : {at, at + 3}) {
        BackwardScan back(reader);
        Pages<BackwardScan> page(back, 5);
        ASSERT_FALSE(back.scan(before, page).failure);
        std::vector<Seen> want;
        for (auto s = forward.seen.rbegin(); s != forward.seen.rend() && want.size() < 5; ++s) {
          if (s->pos < before) want.push_back(*s);
        }
        EXPECT_EQ(page.seen, want) << where << " before " << before;
      }
    }
  }
}

}  // namespace
}  // namespace velmora
