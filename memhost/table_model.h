// The value table's grouping and sorting, written once for every holder of
// rows: the in-memory value table (cells as UTF-16) and the tool's streamed
// rows (cells as UTF-8, packed). Both must give the same rows in the same
// order for the same column lists.
//
// Rules:
//   - Grouping keeps one row per distinct combination of the grouping
//     columns' values, in the order of the groups' first rows. It keeps the
//     grouping and the summed columns, in table order; a column that is both
//     gives the sum. Sums are of the cells read as numbers (parseNumber).
//   - Sorting is stable, key after key. A number column compares by value
//     (parseNumber), any other code unit by code unit; UTF-8 bytes compare as
//     their code units do, for the cells hold no character beyond 16 bits.
//   - An entry of a list that names no column stops the list; the caller
//     reports it as the host would (throwNoColumn).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "memhost/column_list.h"

namespace velmora {

struct SortKey {
  std::size_t column;  // from 0
  bool descending = false;
  bool numeric = false;
};

// A sort list resolved against columns: nameIndex gives a name's number
// from 1 (or 0), numeric(column from 0) whether it holds numbers. False when
// an entry names no column, which is left in missing.
template <class NameIndex, class Numeric>
bool resolveSortList(U16View list, int width, NameIndex&& nameIndex, Numeric&& numeric, std::vector<SortKey>& keys,
                     U16View& missing) {
  for (U16View entry : splitColumnList(list)) {
    const SortEntry e = parseSortEntry(entry);
    const int column = findColumn(e.column, width, nameIndex);
    if (column == 0) {
      missing = e.column;
      return false;
    }
    const auto c = static_cast<std::size_t>(column - 1);
    keys.push_back(SortKey{c, e.descending, static_cast<bool>(numeric(c))});
  }
  return true;
}

// A plain column list (GroupBy's) resolved the same way, columns from 0.
template <class NameIndex>
bool resolveColumnList(U16View list, int width, NameIndex&& nameIndex, std::vector<std::size_t>& columns,
                       U16View& missing) {
  for (U16View entry : splitColumnList(list)) {
    const int column = findColumn(entry, width, nameIndex);
    if (column == 0) {
      missing = entry;
      return false;
    }
    columns.push_back(static_cast<std::size_t>(column - 1));
  }
  return true;
}

// Stable sort of rows (indices, pointers, ...) by keys; cellAt(row, column)
// gives a cell as U16View or std::string_view.
template <class Row, class CellAt>
void sortRows(std::vector<Row>& rows, const std::vector<SortKey>& keys, CellAt&& cellAt) {
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    for (const SortKey& k : keys) {
      const auto x = cellAt(a, k.column), y = cellAt(b, k.column);
      int sign = 0;
      if (k.numeric) {
        const double u = parseNumber(x), v = parseNumber(y);
        sign = u < v ? -1 : u > v ? 1 : 0;
      } else {
        sign = x.compare(y);
      }
      if (sign != 0) return k.descending ? sign > 0 : sign < 0;
    }
    return false;
  });
}

// Which columns a grouped row keeps, and where each one's cell comes from.
struct GroupLayout {
  struct Kept {
    std::size_t column;  // before grouping, from 0
    bool sum;            // the sum, else a grouping value
    std::size_t index;   // into the sums or the grouping columns
  };
  std::vector<std::size_t> grouped;  // the key, in the list's order
  std::vector<std::size_t> summed;
  std::vector<Kept> kept;            // table order
};
GroupLayout layoutGroups(std::vector<std::size_t> grouped, std::vector<std::size_t> summed, std::size_t width);

// Rows grouped as they arrive, one key and its sums held per group. View is
// U16View or std::string_view.
template <class View>
class Grouping {
 public:
  using Char = typename View::value_type;
  explicit Grouping(GroupLayout layout) : layout_(std::move(layout)) {}
  const GroupLayout& layout() const { return layout_; }

  // cellAt(column) gives the row's cell; only grouped and summed columns read.
  template <class CellAt>
  void add(CellAt&& cellAt) {
    key_.clear();
    for (std::size_t c : layout_.grouped) {
      const View v = cellAt(c);
      // The length first, so that no two different rows give one key.
      const auto n = static_cast<std::uint32_t>(v.size());
      Char length[sizeof n / sizeof(Char)];
      std::memcpy(length, &n, sizeof n);
      key_.append(length, sizeof n / sizeof(Char));
      key_.append(v);
    }
    auto it = index_.find(View(key_));
    if (it == index_.end()) {
      it = index_.emplace(key_, keys_.size()).first;
      keys_.push_back(&it->first);
      sums_.resize(sums_.size() + layout_.summed.size(), 0.0);
    }
    double* sums = sums_.data() + it->second * layout_.summed.size();
    for (std::size_t s = 0; s < layout_.summed.size(); ++s) sums[s] += parseNumber(cellAt(layout_.summed[s]));
  }

  std::size_t groups() const { return keys_.size(); }
  // The grouping values of group g, in the key's order.
  void values(std::size_t g, std::vector<View>& out) const {
    out.clear();
    const Char* p = keys_[g]->data();
    for (std::size_t i = 0; i < layout_.grouped.size(); ++i) {
      std::uint32_t n = 0;
      std::memcpy(&n, p, sizeof n);
      p += sizeof n / sizeof(Char);
      out.emplace_back(p, n);
      p += n;
    }
  }
  double sum(std::size_t g, std::size_t s) const { return sums_[g * layout_.summed.size() + s]; }
  void clear() {
    index_.clear();
    keys_.clear();
    sums_.clear();
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(View s) const { return std::hash<View>{}(s); }
  };
  using Key = std::basic_string<Char>;
  GroupLayout layout_;
  std::unordered_map<Key, std::size_t, Hash, std::equal_to<>> index_;
  std::vector<const Key*> keys_;  // of each group, in order
  std::vector<double> sums_;      // group after group
  Key key_;
};

}  // namespace velmora
