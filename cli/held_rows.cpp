#include "cli/held_rows.h"

#include <algorithm>
#include <cstring>

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

// The cell of a packed row.
std::string_view cellOf(const char* p, std::size_t column) {
  std::size_t n = 0;
  for (std::size_t c = 0;; ++c) {
    p = getLength(p, n);
    if (c == column) return {p, n};
    p += n;
  }
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
  rows_.push_back(row);
}

std::string_view RowStore::cell(std::size_t row, std::size_t column) const { return cellOf(rows_[row], column); }

void RowStore::clear() {
  chunks_.clear();
  chunkSize_ = chunkUsed_ = 0;
  rows_.clear();
  rows_.shrink_to_fit();
}

void RowStore::sort(const std::vector<SortKey>& keys) { sortRows(rows_, keys, cellOf); }

Grouper::Grouper(std::vector<std::size_t> grouped, std::size_t countColumn, std::size_t width)
    : countColumn_(countColumn), groups_(layoutGroups(std::move(grouped), {countColumn}, width)) {}

RowStore Grouper::rows() const {
  const GroupLayout& layout = groups_.layout();
  RowStore store(layout.kept.size());
  std::vector<std::string_view> values, cells(layout.kept.size());
  std::string sum;
  for (std::size_t g = 0; g < groups_.groups(); ++g) {
    groups_.values(g, values);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const GroupLayout::Kept& k = layout.kept[i];
      if (k.sum) {
        sum = toUtf8(formatNumber(groups_.sum(g, k.index)));
        cells[i] = sum;
      } else {
        cells[i] = values[k.index];
      }
    }
    store.add(cells.data());
  }
  return store;
}

}  // namespace velmora::cli
