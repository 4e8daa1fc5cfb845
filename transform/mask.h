// Normalising of the "0"/"1" masks that scripts write (column selection,
// translation, filter inversion): every written value becomes a valid mask.
#pragma once

#include <cstddef>

#include "text/text.h"

namespace velmora {

// "0" and the space are off; any other character is on.
constexpr bool maskCharOn(char16_t c) { return c != u'0' && c != u' '; }

// The first width characters of value, padded on the right with pad, each
// turned into "0" or "1".
inline U16String normaliseMask(U16View value, std::size_t width, char16_t pad) {
  U16String mask(width, u'0');
  for (std::size_t k = 0; k < width; ++k) {
    const char16_t c = k < value.size() ? value[k] : pad;
    mask[k] = maskCharOn(c) ? u'1' : u'0';
  }
  return mask;
}

}  // namespace velmora
