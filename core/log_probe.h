// Small reads of a log for callers that do not walk its records: the tool's
// checks of a log it is given and of a position in it. Each call opens the
// file, reads what it needs and closes it; a failure throws Failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/text.h"

namespace velmora {

// Up to n bytes from the 1-based position, fewer at the end of the file.
std::string readLogBytes(U16View path, std::int64_t position, std::size_t n);

// The first line start at or after position (1 or more): position itself
// when a line starts there (at 1, or after a CR LF), else the byte after the
// next CR LF; -1 when there is none within the file's length, as inside its
// unterminated last line.
std::int64_t lineStartAtOrAfter(U16View path, std::int64_t position);

}  // namespace velmora
