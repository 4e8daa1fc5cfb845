// The compiled filters: each field's values as log bytes, matched with the
// code page's letter case folding.
#include <algorithm>
#include <optional>
#include <string>

#include "core/filter_names.h"
#include "core/reader_impl.h"
#include "core/lines.h"
#include "core/prefilter.h"

namespace velmora {

namespace {

// Byte-wise comparison of item (already upper-case) with upper(v).
int compareFolded(std::string_view item, std::string_view v, const CodePage& cp) {
  const std::size_t n = std::min(item.size(), v.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(item[i]);
    const unsigned char b = cp.upperByte(static_cast<unsigned char>(v[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return item.size() < v.size() ? -1 : item.size() > v.size() ? 1 : 0;
}

bool equalFolded(std::string_view item, std::string_view v, const CodePage& cp) {
  for (std::size_t i = 0; i < item.size(); ++i) {
    if (static_cast<unsigned char>(item[i]) != cp.upperByte(static_cast<unsigned char>(v[i]))) return false;
  }
  return true;
}

}  // namespace

void ExactList::build(const std::vector<U16String>& upperValues, const CodePage& cp) {
  clear();
  // Neighbouring values the log can hold form one segment "|v1|v2|...|"; a
  // value with a unit of no byte form matches nothing and parts them.
  std::string segment;
  auto close = [&] {
    if (!segment.empty()) segments_.push_back(std::move(segment));
    segment.clear();
  };
  for (const U16String& value : upperValues) {
    std::optional<std::string> bytes = cp.encode(value);
    if (!bytes) {
      close();
      continue;
    }
    if (segment.empty()) segment.push_back('|');
    segment.append(*bytes).push_back('|');
    items_.push_back(std::move(*bytes));
  }
  close();
  std::sort(items_.begin(), items_.end());
  items_.erase(std::unique(items_.begin(), items_.end()), items_.end());
}

void ExactList::clear() {
  segments_.clear();
  items_.clear();
}

bool ExactList::matches(std::string_view v, const CodePage& cp) const {
  if (v.find('|') == std::string_view::npos) {
    // "|v|" without inner bars can only stand between two neighbouring bars.
    const auto it = std::lower_bound(items_.begin(), items_.end(), v, [&](const std::string& item, std::string_view value) {
      return compareFolded(item, value, cp) < 0;
    });
    return it != items_.end() && compareFolded(*it, v, cp) == 0;
  }
  // A value that holds bars itself spans several items: search the text.
  for (const std::string& s : segments_) {
    if (s.size() < v.size() + 2) continue;
    for (std::size_t p = 0; p + v.size() + 1 < s.size(); ++p) {
      if (s[p] == '|' && s[p + v.size() + 1] == '|' && equalFolded(std::string_view(s).substr(p + 1, v.size()), v, cp)) {
        return true;
      }
    }
  }
  return false;
}

void ItemList::build(const std::vector<U16String>& upperItems, const CodePage& cp) {
  clear();
  for (const U16String& item : upperItems) {
    std::optional<std::string> bytes = cp.encode(item);
    if (!bytes || bytes->empty()) continue;  // no log field can hold this item
    firstBytes_[static_cast<unsigned char>((*bytes)[0])] = true;
    items_.push_back(std::move(*bytes));
  }
}

void ItemList::clear() {
  items_.clear();
  firstBytes_.fill(false);
}

bool ItemList::matches(std::string_view v, const CodePage& cp) const {
  for (std::size_t i = 0; i < v.size(); ++i) {
    const unsigned char c = cp.upperByte(static_cast<unsigned char>(v[i]));
    if (!firstBytes_[c]) continue;
    const std::string_view rest = v.substr(i);
    for (const std::string& item : items_) {
      if (static_cast<unsigned char>(item[0]) == c && item.size() <= rest.size() && equalFolded(item, rest, cp)) return true;
    }
  }
  return false;
}

void Reader::Impl::compile() {
  anyActive = false;
  for (int f = kFirstFilteredField; f <= kLastField; ++f) {
    const FieldFilter& plan = query.filters[static_cast<std::size_t>(f)];
    CompiledFilter& c = filters[static_cast<std::size_t>(f)];
    c.active = plan.on;
    c.exact = plan.exact;
    c.invert = plan.invert;
    c.exactList.clear();
    c.items.clear();
    if (!c.active) continue;
    anyActive = true;
    std::vector<U16String> upper;
    upper.reserve(plan.values.size());
    for (const U16String& v : plan.values) upper.push_back(cp.upper(v));
    if (plan.exact) {
      c.exactList.build(upper, cp);
    } else {
      c.items.build(upper, cp);
    }
  }
}

std::unique_ptr<Prefilter> Reader::Impl::planPrefilter(const std::vector<std::string_view>& samples) const {
  if (!anyActive) return nullptr;
  std::vector<Prefilter::Alternatives> alternatives;
  for (int f = kFirstFilteredField; f <= kLastField; ++f) {
    const CompiledFilter& c = filters[static_cast<std::size_t>(f)];
    // An inverted filter keeps the records without its items.
    if (!c.active || c.invert) continue;
    Prefilter::Alternatives patterns;
    if (c.exact) {
      // A whole value: it follows the ";" that ends the field before it
      // (field 3 follows the key, whose last byte may be anything). An
      // empty item matches an empty or missing field, which no search finds.
      const auto& items = c.exactList.items();
      if (std::find(items.begin(), items.end(), std::string()) != items.end()) continue;
      for (const std::string& item : items) patterns.push_back({f == 3 ? item : ";" + item, true});
    } else {
      for (const std::string& item : c.items.items()) patterns.push_back({item, false});
    }
    alternatives.push_back(std::move(patterns));
  }
  return Prefilter::choose(alternatives, cp, samples);
}

bool Reader::filterRecord(std::string_view line) {
  // A line of the caller's own has no padding after it for the cutting's
  // block reads: it is cut from a copy that has.
  impl_->padded.assign(line);
  impl_->padded.append(lines::kCutBlock, ' ');
  impl_->record.position = 0;
  return impl_->filterLine(std::string_view(impl_->padded.data(), line.size()));
}

const Record& Reader::lastRecord() const { return impl_->record; }

namespace {

// Cuts a line of more than 18 bytes into fields 3..10 and applies the
// filters as each field is cut; false at the first that rejects. Without
// filters (Filtered false) the same cutting runs with no test in between,
// which is most of a whole-log scan's time.
template <bool Filtered, class Accepts>
bool cutFields(std::string_view Line, RecordFields& fields, Accepts&& accepts) {
  constexpr std::size_t kKey = record::kKeySize;  // fields 3..10 follow the period key
  const char* p = Line.data();
  const std::size_t n = Line.size();
  auto field = [p](std::size_t from, std::size_t to) { return std::string_view(p + from, to - from); };
  // Cut as if the line ended with one more ";": a field that runs to the end
  // of the line is the last one.
  std::size_t start = kKey;
  lines::Semicolons semicolons(p + kKey, p + n);
  int f = 3;
  for (; f <= 10 && start <= n; ++f) {
    if (f == 8 && fields[7].size() == 1 && fields[7][0] == '5' && p[n - 1] == ';' && p[n - 2] == ';') {
      // An error record keeps every ";" of its comment: the comment runs to
      // the two closing separators, and the last two fields are empty.
      fields[8] = field(start, std::max(start, n - 2));
      fields[9] = fields[10] = std::string_view();
      if constexpr (Filtered) {
        if (!accepts(8) || !accepts(9) || !accepts(10)) return false;
      }
      f = 11;
      break;
    }
    const auto end = static_cast<std::size_t>(semicolons.next() - p);
    fields[f] = field(start, end);
    start = end + 1;
    if constexpr (Filtered) {
      if (!accepts(f)) return false;
    }
  }
  // A short record: nothing of the previous record may stay behind, and a
  // field it lacks is empty, so a filter on that field still decides.
  for (; f <= 10; ++f) {
    fields[f] = std::string_view();
    if constexpr (Filtered) {
      if (!accepts(f)) return false;
    }
  }
  fields[1] = field(0, 8);
  fields[2] = field(9, 17);
  return true;
}

}  // namespace

bool Reader::Impl::filterLine(std::string_view line) {
  if (line.size() <= 18) return false;  // a key alone, or less, is no record
  RecordFields& fields = record.fields;
  const bool passed = !anyActive ? cutFields<false>(line, fields, [](int) { return true; })
                                 : cutFields<true>(line, fields, [&](int f) {
                                     const CompiledFilter& c = filters[static_cast<std::size_t>(f)];
                                     if (!c.active) return true;
                                     const bool matched =
                                         c.exact ? c.exactList.matches(fields[f], cp) : c.items.matches(fields[f], cp);
                                     return matched != c.invert;
                                   });
  if (!passed) return false;
  record.key = line.substr(0, record::kKeySize);
  // The seventh field is closed exactly when an eighth was cut after it.
  record.error = record::isErrorRecord(fields[kNumberField], fields[kCommentField].data() != nullptr);
  return true;
}

}  // namespace velmora
