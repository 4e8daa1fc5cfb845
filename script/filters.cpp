// SetFilter and GetFilter: the filter texts as the script sees them, kept
// beside the item lists that the reader's query is built from.
#include "core/filter_names.h"
#include "core/filter_text.h"
#include "text/codepage.h"
#include "script/filter_state.h"

namespace velmora {

bool Journal::SetFilter(U16View FilterStr, U16View FilterName) {
  const int f = filterField(FilterName);
  if (f == 0) return false;
  const CodePage& cp = codePage();
  FilterText_[f] = cp.upper(trimSpaces(FilterStr));
  bool set = true;
  if (f >= kFirstSearchedField) {
    // The items are cut from the untrimmed text; a refused text turns the
    // filter off.
    std::vector<U16String>& list = filters_->lists[f - kFirstSearchedField];
    list.clear();
    if (auto items = searchedItems(FilterStr)) {
      for (const U16String& item : *items) list.push_back(cp.upper(item));
    } else {
      FilterText_[f].clear();
      set = false;
    }
  }
  readerStale_ = true;
  return set;
}

U16String Journal::GetFilter(U16View FilterName) const {
  const int f = filterField(FilterName);
  return f == 0 ? U16String() : FilterText_[f];
}

}  // namespace velmora
