// SetFilter and GetFilter: the filter texts as the script sees them, kept
// beside the item lists that the reader's query is built from.
#include <algorithm>

#include "core/filter_names.h"
#include "text/codepage.h"
#include "script/filter_state.h"

namespace velmora {
namespace {

constexpr int kFirstListFilter = 8;

U16String upperText(U16View text, const CodePage& cp) {
  U16String out(text);
  for (char16_t& u : out) u = cp.upperUnit(u);
  return out;
}

}  // namespace

bool Journal::SetFilter(U16View FilterStr, U16View FilterName) {
  const int f = filterField(FilterName);
  if (f == 0) return false;
  const CodePage& cp = codePage();
  FilterText_[f] = upperText(trimSpaces(FilterStr), cp);
  bool set = true;
  if (f >= kFirstListFilter) {
    const auto bars = std::count(FilterStr.begin(), FilterStr.end(), u'|');
    if (bars < 2) {
      // Too few bars: the filter goes off and its old list stays.
      FilterText_[f].clear();
      set = false;
    } else {
      std::vector<U16String>& list = filters_->lists[f - kFirstListFilter];
      list.clear();
      std::size_t start = 0;
      for (std::size_t bar = FilterStr.find(u'|'); bar != U16View::npos; bar = FilterStr.find(u'|', start)) {
        if (bar > start) list.push_back(upperText(FilterStr.substr(start, bar - start), cp));
        start = bar + 1;
      }
      if (list.empty()) {
        FilterText_[f].clear();
        set = false;
      }
    }
  }
  readerStale_ = true;
  return set;
}

U16String Journal::GetFilter(U16View FilterName) const {
  const int f = filterField(FilterName);
  return f == 0 ? U16String() : FilterText_[f];
}

bool Journal::FilterRecord(std::string_view Line) {
  Reader& r = reader();
  const bool passed = r.filterRecord(Line);
  Fields_ = r.lastRecord().fields;
  return passed;
}

}  // namespace velmora
