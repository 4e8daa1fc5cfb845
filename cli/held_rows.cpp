#include "cli/held_rows.h"

#include <algorithm>
#include <cstring>

#include "memhost/column_list.h"

namespace velmora::cli {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

// A length as 7-bit groups, low first; texts of fields are short, so most
// take one byte.
char* putLength(char* p, std::size_t n) {
  while (n >= 0x80) {
    *p++ = static_cast<char>(0x80 | (n & 0x7F));
    n >>= 7;
  }
  *p++ = static_cast<char>(n);
  return p;
}

const char* getLength(const char* p, std::size_t& n) {
  n = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto b = static_cast<unsigned char>(*p++);
    n |= static_cast<std::size_t>(b & 0x7F) << shift;
    if (b < 0x80) return p;
  }
}

std::size_t lengthBytes(std::size_t n) {
  std::size_t k = 1;
  while (n >= 0x80) {
    n >>= 7;
    ++k;
  }
  return k;
}

// A cell of a number column as the value table reads it.
double numberOf(std::string_view text) {
  U16String units;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return 0;  // no number holds other characters
    units.push_back(static_cast<char16_t>(c));
  }
  return parseNumber(units);
}

void appendKeyPart(std::string& key, std::string_view value) {
  // The length first, so that no two different rows give one key.
  const auto n = static_cast<std::uint32_t>(value.size());
  key.append(reinterpret_cast<const char*>(&n), sizeof n);
  key.append(value);
}

}  // namespace

void RowStore::add(const std::string_view* cells) {
  std::size_t need = 0;
  for (std::size_t c = 0; c < columns_; ++c) need += lengthBytes(cells[c].size()) + cells[c].size();
  if (chunks_.empty() || chunkSize_ - chunkUsed_ < need) {
    chunkSize_ = std::max(kChunk, need);
    chunks_.push_back(std::make_unique<char[]>(chunkSize_));
    chunkUsed_ = 0;
  }
  char* const row = chunks_.back().get() + chunkUsed_;
  char* p = row;
  for (std::size_t c = 0; c < columns_; ++c) {
    p = putLength(p, cells[c].size());
    if (!cells[c].empty()) std::memcpy(p, cells[c].data(), cells[c].size());
    p += cells[c].size();
  }
  chunkUsed_ += need;
  bytes_ += need;
  rows_.push_back(row);
}

std::string_view RowStore::cell(std::size_t row, std::size_t column) const {
  const char* p = rows_[row];
  std::size_t n = 0;
  for (std::size_t c = 0;; ++c) {
    p = getLength(p, n);
    if (c == column) return {p, n};
    p += n;
  }
}

void RowStore::clear() {
  chunks_.clear();
  chunkSize_ = chunkUsed_ = 0;
  rows_.clear();
  rows_.shrink_to_fit();
  bytes_ = 0;
}

void RowStore::sort(const std::vector<Key>& keys) {
  std::vector<std::size_t> order(rows_.size());
  for (std::size_t r = 0; r < order.size(); ++r) order[r] = r;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    for (const Key& k : keys) {
      int sign = 0;
      const std::string_view x = cell(a, k.column), y = cell(b, k.column);
      if (k.numeric) {
        const double u = numberOf(x), v = numberOf(y);
        sign = u < v ? -1 : u > v ? 1 : 0;
      } else {
        // UTF-8 bytes in order are the code units in order: the cells hold
        // no character beyond the 16-bit range.
        sign = x.compare(y);
      }
      if (sign != 0) return k.descending ? sign > 0 : sign < 0;
    }
    return false;
  });
  std::vector<const char*> sorted(rows_.size());
  for (std::size_t r = 0; r < order.size(); ++r) sorted[r] = rows_[order[r]];
  rows_ = std::move(sorted);
}

Grouper::Grouper(std::vector<std::size_t> grouped, std::size_t countColumn, std::vector<std::size_t> kept)
    : grouped_(std::move(grouped)), countColumn_(countColumn), kept_(std::move(kept)) {}

void Grouper::add(const std::string_view* cells) {
  key_.clear();
  for (std::size_t g : grouped_) appendKeyPart(key_, g == countColumn_ ? std::string_view("1") : cells[g]);
  auto it = index_.find(std::string_view(key_));
  if (it == index_.end()) {
    it = index_.emplace(key_, counts_.size()).first;
    keys_.push_back(&it->first);
    counts_.push_back(0);
  }
  ++counts_[it->second];
}

RowStore Grouper::rows() const {
  RowStore store(kept_.size());
  std::vector<std::string_view> values(grouped_.size()), cells(kept_.size());
  std::vector<std::string> counts(1);
  for (std::size_t g = 0; g < counts_.size(); ++g) {
    const char* p = keys_[g]->data();
    for (std::string_view& v : values) {
      std::uint32_t n = 0;
      std::memcpy(&n, p, sizeof n);
      v = std::string_view(p + sizeof n, n);
      p += sizeof n + n;
    }
    counts[0] = std::to_string(counts_[g]);
    for (std::size_t i = 0; i < kept_.size(); ++i) {
      // The count column gives the sum, even when it is grouped by as well.
      if (kept_[i] == countColumn_) {
        cells[i] = counts[0];
        continue;
      }
      const auto at = std::find(grouped_.begin(), grouped_.end(), kept_[i]) - grouped_.begin();
      cells[i] = values[static_cast<std::size_t>(at)];
    }
    store.add(cells.data());
  }
  return store;
}

void Grouper::clear() {
  index_.clear();
  keys_.clear();
  counts_.clear();
}

}  // namespace velmora::cli
