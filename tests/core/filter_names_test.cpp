// The table of filter names answers as the script's SetFilter does: every
// name of the table, and names that only look like one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/filter_names.h"
#include "script/journal.h"

namespace velmora {
namespace {

// The field whose filter SetFilter switches on for name, or 0.
int fieldSetBy(U16View name) {
  Journal j;
  if (!j.SetFilter(u"|x|", name)) return 0;
  for (int f = 3; f <= 10; ++f)
    if (!j.GetFilter(U16String(fromUtf8(std::to_string(f)))).empty()) return f;
  return -1;
}

TEST(FilterNames, AgreeWithSetFilter) {
  std::vector<U16String> names{u"", u"0", u"2", u"11", u"03", u" 3", u"filterusers", u"FilterUsers ", u"Filter",
                               u"ФильтерРежима2", u"фильтерРежима"};
  for (const FilterName& f : kFilterNames)
    for (U16View n : {f.number, f.english, f.russian}) names.emplace_back(n);
  int known = 0;
  for (const U16String& name : names) {
    EXPECT_EQ(filterField(name), fieldSetBy(name)) << toUtf8(name);
    known += filterField(name) != 0;
  }
  EXPECT_EQ(known, 24);
}

}  // namespace
}  // namespace velmora
