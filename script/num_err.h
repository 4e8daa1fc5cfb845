// The script class's numbers: results that must fit 32 bits, and error
// numbers that must fit NumErr's 16.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace velmora {

// A position or count as the 32-bit result of a script method. A log of
// 2 GiB or more can hold positions past that range: then this throws
// Failure(Overflow) naming the file, rather than giving a wrapped number.
std::int32_t scriptResult(std::int64_t value, U16View path);

// Folds a 32-bit error number (an HRESULT, say) into NumErr's 16 bits:
// a number in -32768..32767 stays; a script error carried in an HRESULT
// (0x800Axxxx) gives its code xxxx when that fits; anything else gives 440.
std::int16_t foldErrorNumber(std::int32_t number);

}  // namespace velmora
