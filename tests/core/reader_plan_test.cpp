// The script class and the typed reader under it must accept the same
// records: Journal from its script texts (bars, masks, CoincidenceObject),
// the Reader from a plan written out here value by value.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "script/journal.h"
#include "core/reader.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;

// A script filter text, and what it stands for: the pieces between
// neighbouring bars (an exact filter's values) and the items SetFilter cuts
// for a substring filter (none: the filter is refused and stays off).
struct Setting {
  const char16_t* text;
  std::vector<U16String> pieces;
  std::optional<std::vector<U16String>> items;
};

const std::vector<Setting>& settings() {
  static const std::vector<Setting> table = {
      {u"|Иванов|", {u"Иванов"}, {{u"Иванов"}}},
      {u"Иванов", {}, std::nullopt},                                           // no bars
      {u"|иванов|петров|", {u"иванов", u"петров"}, {{u"иванов", u"петров"}}},  // folded
      {u"junk|A||B|tail", {u"A", u"", u"B"}, {{u"junk", u"A", u"B"}}},         // junk, an empty item
      {u"||", {u""}, std::nullopt},                                            // the empty value only
      {u"|a|b|", {u"a", u"b"}, {{u"a", u"b"}}},                                // a value "a|b" spans both
      {u"|中|A|", {u"中", u"A"}, {{u"中", u"A"}}},                             // unwritable in 1251
      {u"|Ива中нов|", {u"Ива中нов"}, {{u"Ива中нов"}}},
      {u" |E| ", {u"E"}, {{u" ", u"E"}}},  // the text is trimmed, the items are not
      {u"|", {}, std::nullopt},
      {u"|зап|", {u"зап"}, {{u"зап"}}},
      {u"x|", {}, std::nullopt},
      {u"|O1|o2|", {u"O1", u"o2"}, {{u"O1", u"o2"}}},
      {u"|1|5|", {u"1", u"5"}, {{u"1", u"5"}}},
      {u"Ива|нов|", {u"нов"}, {{u"Ива", u"нов"}}},
      {u"||ПЕТРОВ", {u""}, std::nullopt},  // no bar follows ПЕТРОВ: no item
  };
  return table;
}

// Field values the random logs draw from: case variants, pieces of the
// filter items, bars, empties.
const std::vector<std::vector<const char*>> kPools = {
    {"Иванов", "иванов", "ПЕТРОВ", "Сидоров", "", "a|b", "A", "B", "junk", "Ива", "нов"},  // 3
    {"E", "e", "A", "", "a|b"},                                                           // 4
    {"Docs", "a", "A", "b"},                                                              // 5
    {"DocWrite", "E", "зап"},                                                             // 6
    {"1", "5", "4", ""},                                                                  // 7
    {"Запись", "зап", "a|b", "", "xAy", " ", "junk tail", "E", "Иванов и Петров"},         // 8
    {"O1", "o2", "O3", "", "a|b", "A", "O1O2"},                                           // 9
    {"Накладная", "", "b", "Ива нов", "ИВАНОВ"},                                          // 10
};

// The comments of the records a scan gives, as GetData's rows show them.
class Comments : public RecordSink {
 public:
  bool record(const Record& record) override {
    seen.push_back(toUtf8(CodePage::current().decode(record.fields[8])));
    return true;
  }
  std::vector<std::string> seen;
};

TEST(ReaderPlan, ScriptTextsAndTypedPlansAcceptTheSameRecords) {
  ASSERT_TRUE(CodePage::select(1251));
  TempDir tmp;
  std::mt19937 random(20050317);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::size_t accepted = 0, total = 0;
  for (int round = 0; round < 400; ++round) {
    // A small log of one day.
    std::string log;
    const int records = 1 + static_cast<int>(pick(30));
    for (int k = 0; k < records; ++k) {
      test::Rec r;
      r.time = test::clock(k * 7);
      std::string* fields[] = {&r.user, &r.mode, &r.category, &r.event, &r.number, &r.comment, &r.id, &r.presentation};
      for (int f = 0; f < 8; ++f) *fields[f] = kPools[static_cast<std::size_t>(f)][pick(kPools[static_cast<std::size_t>(f)].size())];
      log += r.line();
    }
    tmp.write("events.log", log);

    Journal j;
    j.SetFilePath(tmp.u16("events.log"));
    ASSERT_TRUE(j.SetDateTimes(u"20050317", u"", u"20050317", u""));
    ReadQuery plan;
    plan.begin = "20050317;00:00:00;";
    plan.end = "20050317;23:59:59;";
    const bool coincidence = pick(2) == 1;
    j.SetCoincidenceObject(coincidence ? 1 : 0);
    U16String mask;
    for (int k = 0; k < 8; ++k) mask.push_back(pick(3) == 0 ? u'1' : u'0');
    j.SetInvertFilters(mask);
    const int filters = 1 + static_cast<int>(pick(3));
    std::string described = coincidence ? "coincidence " : "";
    described += toUtf8(mask);
    for (int n = 0; n < filters; ++n) {
      const int f = 3 + static_cast<int>(pick(8));
      const Setting& s = settings()[pick(settings().size())];
      j.SetFilter(s.text, fromUtf8(std::to_string(f)));
      described += " " + std::to_string(f) + ":" + toUtf8(s.text);
      FieldFilter& p = plan.filters[static_cast<std::size_t>(f)];
      p = FieldFilter{};
      p.exact = f < kCommentField || (f == kObjectIdField && coincidence);
      p.invert = mask[static_cast<std::size_t>(f - 3)] == u'1';
      if (f < kCommentField) {
        p.on = true;
        p.values = s.pieces;
      } else if (s.items) {
        p.on = true;
        p.values = p.exact ? s.pieces : *s.items;
      }
      // A refused text leaves the filter off (the last plan above stays
      // cleared, as SetFilter clears the text).
    }

    MemoryValueTable table;
    const std::int64_t scriptNext = j.GetStartPos(0, table);
    ASSERT_EQ(j.NumErr(), 0);
    Reader reader(tmp.u16("events.log"), plan, CodePage::current());
    Comments fromPlan;
    const ScanResult planned = reader.scan(0, fromPlan);
    ASSERT_FALSE(planned.failure);
    EXPECT_EQ(test::column(table, 8), fromPlan.seen) << described;
    EXPECT_EQ(scriptNext, planned.next) << described;
    accepted += fromPlan.seen.size();
    total += static_cast<std::size_t>(records);
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(accepted, total / 10);
  EXPECT_LT(accepted, total - total / 10);
}

}  // namespace
}  // namespace velmora
