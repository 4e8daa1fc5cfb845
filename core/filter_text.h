// The "|a|b|" filter text that scripts write, read as a typed filter.
#pragma once

#include <optional>
#include <vector>

#include "core/reader.h"
#include "core/record_format.h"
#include "text/text.h"

namespace velmora {

// Fields 8..10 (comment, object id, presentation) are searched for their
// items; the others compare whole values.
inline constexpr int kFirstSearchedField = 8;

// A compared field's values: what stands between two neighbouring "|" of the
// space-trimmed text, empty values included.
std::vector<U16String> comparedValues(U16View text);

// A searched field's items: the non-empty pieces of the untrimmed text that
// end at a "|" (what follows the last is left). Nothing when the text has
// fewer than two "|" or no such piece: the text is refused.
std::optional<std::vector<U16String>> searchedItems(U16View text);

// The filter a text sets on field (3..10); exactId: field 9 compares whole
// values. Nothing when the text is refused; a blank text of a compared field
// gives a filter that is off.
std::optional<FieldFilter> parseFilterText(int field, U16View text, bool exactId);

}  // namespace velmora
