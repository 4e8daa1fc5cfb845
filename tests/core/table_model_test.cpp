// The shared grouping and sorting, held against a naive reference (linear
// search for groups, insertion sort) over random rows and random column
// lists, with the cells as UTF-16 (the value table) and as UTF-8 (the tool's
// streamed rows): all three must give the same rows in the same order.
#include "memhost/table_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "text/text.h"

namespace velmora {
namespace {

using Rows = std::vector<std::vector<U16String>>;

// Group then sort by the naive rules; summed cells print as the table stores them.
Rows reference(const Rows& rows, const std::vector<std::size_t>& grouped, const std::vector<std::size_t>& summed,
               const std::vector<SortKey>& keys, std::size_t width) {
  Rows out;
  if (grouped.empty() && summed.empty()) {
    out = rows;
  } else {
    std::vector<std::vector<U16String>> groupKeys;
    std::vector<std::vector<double>> sums;
    for (const auto& row : rows) {
      std::vector<U16String> key;
      for (std::size_t c : grouped) key.push_back(row[c]);
      std::size_t g = 0;
      while (g < groupKeys.size() && groupKeys[g] != key) ++g;
      if (g == groupKeys.size()) {
        groupKeys.push_back(key);
        sums.emplace_back(summed.size(), 0.0);
        out.emplace_back();
        for (std::size_t c = 0; c < width; ++c) {
          if (std::count(grouped.begin(), grouped.end(), c) || std::count(summed.begin(), summed.end(), c)) {
            out.back().push_back(row[c]);
          }
        }
      }
      for (std::size_t s = 0; s < summed.size(); ++s) sums[g][s] += parseNumber(row[summed[s]]);
    }
    for (std::size_t g = 0; g < out.size(); ++g) {
      std::size_t at = 0;
      for (std::size_t c = 0; c < width; ++c) {
        const auto s = std::find(summed.begin(), summed.end(), c);
        if (s != summed.end()) out[g][at] = formatNumber(sums[g][static_cast<std::size_t>(s - summed.begin())]);
        at += s != summed.end() || std::count(grouped.begin(), grouped.end(), c);
      }
    }
  }
  auto before = [&](const std::vector<U16String>& a, const std::vector<U16String>& b) {
    for (const SortKey& k : keys) {
      const double x = parseNumber(a[k.column]), y = parseNumber(b[k.column]);
      const bool less = k.numeric ? x < y : a[k.column] < b[k.column];
      const bool more = k.numeric ? x > y : b[k.column] < a[k.column];
      if (less || more) return k.descending ? more : less;
    }
    return false;
  };
  for (std::size_t i = 1; i < out.size(); ++i) {
    for (std::size_t j = i; j > 0 && before(out[j], out[j - 1]); --j) std::swap(out[j], out[j - 1]);
  }
  return out;
}

// Through the shared model, cells held as View.
template <class View, class Convert>
Rows throughModel(const Rows& rows, const std::vector<std::size_t>& grouped, const std::vector<std::size_t>& summed,
                  const std::vector<SortKey>& keys, std::size_t width, Convert convert) {
  using Text = std::basic_string<typename View::value_type>;
  std::vector<std::vector<Text>> held;
  for (const auto& row : rows) {
    held.emplace_back();
    for (const U16String& cell : row) held.back().push_back(convert(cell));
  }
  if (!grouped.empty() || !summed.empty()) {
    Grouping<View> groups(layoutGroups(grouped, summed, width));
    for (const auto& row : held) groups.add([&](std::size_t c) { return View(row[c]); });
    std::vector<std::vector<Text>> out;
    std::vector<View> values;
    for (std::size_t g = 0; g < groups.groups(); ++g) {
      groups.values(g, values);
      out.emplace_back();
      for (const GroupLayout::Kept& k : groups.layout().kept) {
        out.back().push_back(k.sum ? convert(formatNumber(groups.sum(g, k.index))) : Text(values[k.index]));
      }
    }
    held = std::move(out);
  }
  std::vector<std::size_t> order(held.size());
  for (std::size_t r = 0; r < order.size(); ++r) order[r] = r;
  sortRows(order, keys, [&](std::size_t r, std::size_t c) { return View(held[r][c]); });
  Rows out;
  for (std::size_t r : order) {
    out.emplace_back();
    for (const Text& cell : held[r]) {
      if constexpr (std::is_same_v<View, U16View>) out.back().push_back(cell);
      else out.back().push_back(fromUtf8(cell));
    }
  }
  return out;
}

TEST(TableModel, GroupsAndSortsAsANaiveReferenceInEitherEncoding) {
  // Cells that tell numbers from texts, key parts that could run together,
  // and characters whose UTF-8 order must follow their code units.
  const std::vector<U16String> values{u"",   u"1",  u"10", u"2",  u"-3", u"1,5", u" 7", u"a",
                                      u"ab", u"b",  u"Ж",  u"ж",  u"é",  u"\uFFFD", u"1e3", u"x,y"};
  std::mt19937 random(424242);
  int groupedRuns = 0;
  for (int k = 0; k < 400; ++k) {
    const std::size_t width = 1 + random() % 4;
    Rows rows(random() % 30);
    for (auto& row : rows) {
      for (std::size_t c = 0; c < width; ++c) row.push_back(values[random() % (c == 0 ? 4 : values.size())]);
    }
    std::vector<std::size_t> grouped, summed;
    if (random() % 2) {
      for (std::size_t n = random() % 3; n > 0; --n) grouped.push_back(random() % width);
      summed.push_back(random() % width);
      ++groupedRuns;
    }
    const std::size_t keptWidth = grouped.empty() && summed.empty() ? width : layoutGroups(grouped, summed, width).kept.size();
    std::vector<SortKey> keys;
    for (std::size_t n = random() % 4; n > 0; --n) {
      keys.push_back(SortKey{random() % keptWidth, random() % 2 == 0, random() % 2 == 0});
    }
    SCOPED_TRACE("case " + std::to_string(k));
    const Rows expected = reference(rows, grouped, summed, keys, width);
    EXPECT_EQ(throughModel<U16View>(rows, grouped, summed, keys, width, [](U16View s) { return U16String(s); }),
              expected);
    EXPECT_EQ(throughModel<std::string_view>(rows, grouped, summed, keys, width, [](U16View s) { return toUtf8(s); }),
              expected);
  }
  EXPECT_GT(groupedRuns, 150);
}

}  // namespace
}  // namespace velmora
