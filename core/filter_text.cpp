#include "core/filter_text.h"

namespace velmora {

std::vector<U16String> comparedValues(U16View text) {
  const U16View trimmed = trimSpaces(text);
  std::vector<U16String> values;
  for (std::size_t bar = trimmed.find(u'|'); bar != U16View::npos;) {
    const std::size_t next = trimmed.find(u'|', bar + 1);
    if (next == U16View::npos) break;
    values.emplace_back(trimmed.substr(bar + 1, next - bar - 1));
    bar = next;
  }
  return values;
}

std::optional<std::vector<U16String>> searchedItems(U16View text) {
  std::vector<U16String> items;
  std::size_t start = 0, bars = 0;
  for (std::size_t bar = text.find(u'|'); bar != U16View::npos; bar = text.find(u'|', start), ++bars) {
    if (bar > start) items.emplace_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  if (bars < 2 || items.empty()) return std::nullopt;
  return items;
}

std::optional<FieldFilter> parseFilterText(int field, U16View text, bool exactId) {
  FieldFilter out;
  const bool exact = field < kFirstSearchedField || (field == kObjectIdField && exactId);
  if (field >= kFirstSearchedField) {
    // Even compared, the object id takes only a text a search would take.
    auto items = searchedItems(text);
    if (!items) return std::nullopt;
    if (!exact) {
      out.on = true;
      out.exact = false;
      out.values = std::move(*items);
      return out;
    }
  }
  if (trimSpaces(text).empty()) return out;
  out.on = true;
  out.values = comparedValues(text);
  return out;
}

}  // namespace velmora
