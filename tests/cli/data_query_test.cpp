// The typed query of the data command against the script class set up by
// the same options as a script would set it (configure): the same period,
// the same filter plan (the one the script class hands its own reader),
// the same columns and translated fields, the same refusals; over filter
// texts of every shape a script may write.
#include "cli/data_query.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "script/journal.h"
#include "text/codepage.h"

namespace velmora::cli {
namespace {

struct Seen {
  std::string refusal;  // the UsageError, or empty
  std::string notes;
  ReadQuery read;
  std::vector<int> fields;
  std::array<bool, 11> translated{};
};

// Values upper-cased as the reader folds them; an inverted filter that is
// off is no filter.
void normalise(ReadQuery& q, const CodePage& cp) {
  for (FieldFilter& f : q.filters) {
    for (U16String& v : f.values)
      for (char16_t& u : v) u = cp.upperUnit(u);
    if (!f.on) f = FieldFilter{};
  }
}

Seen throughScript(const DataRequest& r) {
  Seen s;
  std::ostringstream out, err;
  Io io{out, err};
  Journal j(defaultCodePage());
  try {
    configure(j, r, io);
  } catch (const UsageError& e) {
    s.refusal = e.what();
    return s;
  }
  s.notes = err.str();
  s.read = j.query();
  normalise(s.read, defaultCodePage());
  const U16String& mask = j.InsertColumn();
  for (int k = 1; k <= 10; ++k)
    if (mask.empty() || mask[static_cast<std::size_t>(k - 1)] != u'0') s.fields.push_back(k);
  const int translated[4] = {1, 4, 5, 6};
  for (int i = 0; i < 4; ++i) s.translated[static_cast<std::size_t>(translated[i])] = j.TransformStr()[static_cast<std::size_t>(i)] == u'1';
  return s;
}

Seen throughQuery(const DataRequest& r) {
  Seen s;
  std::ostringstream out, err;
  Io io{out, err};
  try {
    const DataQuery q = dataQuery(r, io);
    s.read = q.read;
    s.fields = q.fields;
    s.translated = q.translated;
  } catch (const UsageError& e) {
    s.refusal = e.what();
    return s;
  }
  s.notes = err.str();
  normalise(s.read, defaultCodePage());
  return s;
}

TEST(DataQuery, SameAsTheScriptClassSetUpByTheSameOptions) {
  const std::vector<std::string> texts{"", "   ", "|Иванов|", " |иванов| ", "Иванов", "|a||b|", "||", "|", "a|",
                                       "x|a|b", "| a |b", "|a|b|c", "|a|€|b|", "|a€|b|", "|||", " |x| y",
                                       "|Ж|ё|", "|E|C|", "|накладн|ошибк|", "|O/12/|"};
  const std::vector<std::string> names{"FilterUsers", "4", "FilterTypeObj", "ФильтерДействия", "FilterNum",
                                       "FilterRem", "FilterIdObj", "10"};
  const std::vector<std::optional<std::string>> inverts{std::nullopt, "01", "1", "11111111", " 1 1"};
  const std::vector<std::optional<std::string>> masks{std::nullopt, "1", " 1", "0000000000", "101", "date,object",
                                                      "all", "1111"};
  const std::vector<std::optional<std::string>> translations{std::nullopt, "1", " 1", "0101", "all", "none",
                                                             "event, date"};
  int compared = 0, refused = 0, filtered = 0;
  for (std::size_t k = 0; k < texts.size() * names.size(); ++k) {
    DataRequest r;
    r.log = "events.log";
    r.period.from = k % 3 ? "20050102" : "";
    r.period.to = k % 5 ? "20050103" : "";
    r.period.today = "2006-01-01";
    r.filters.filters = {names[k % names.size()] + "=" + texts[k / names.size()]};
    if (k % 4 == 1) r.filters.filters.push_back(names[(k + 3) % names.size()] + "=" + texts[(k * 7) % texts.size()]);
    r.filters.invert = inverts[k % inverts.size()];
    r.filters.exactId = k % 3 == 0;
    r.columns = masks[k % masks.size()];
    r.translate = translations[k % translations.size()];
    const Seen script = throughScript(r), typed = throughQuery(r);
    SCOPED_TRACE(r.filters.filters.front() + (r.filters.exactId ? " exact-id" : ""));
    EXPECT_EQ(typed.refusal, script.refusal);
    EXPECT_EQ(typed.notes, script.notes);
    EXPECT_EQ(typed.read.begin, script.read.begin);
    EXPECT_EQ(typed.read.end, script.read.end);
    for (int f = 3; f <= 10; ++f) {
      const FieldFilter &a = typed.read.filters[static_cast<std::size_t>(f)],
                        &b = script.read.filters[static_cast<std::size_t>(f)];
      EXPECT_EQ(a.on, b.on) << "field " << f;
      if (!a.on || !b.on) continue;
      ++filtered;
      EXPECT_EQ(a.exact, b.exact) << "field " << f;
      EXPECT_EQ(a.invert, b.invert) << "field " << f;
      EXPECT_EQ(a.values, b.values) << "field " << f;
    }
    EXPECT_EQ(typed.fields, script.fields);
    EXPECT_EQ(typed.translated, script.translated);
    ++(script.refusal.empty() ? compared : refused);
  }
  // Both kinds of outcome were met, and filters to compare.
  EXPECT_GT(compared, 60);
  EXPECT_GT(refused, 10);
  EXPECT_GT(filtered, 60);
}

}  // namespace
}  // namespace velmora::cli
