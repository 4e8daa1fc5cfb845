// How common a character is in event logs: the prefilter searches a window
// for the rarest bytes of a filter's items, so that few places need a closer
// look. The figures are a fixed estimate, not measured per log.
#pragma once

#include <cstdint>

namespace velmora {

// Expected occurrences of the character per 100,000 bytes of a log (keys,
// codes, Russian and English text); 1 for characters the table does not
// know, which are rare in logs.
std::uint32_t characterFrequency(char16_t unit);

}  // namespace velmora
