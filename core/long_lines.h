// Records that do not fit in a read window, read piece by piece. The two log
// copies (StoreErrRows, ReplaceDateTimes) must not lose a record however long
// it is, so they follow such a record to its CR LF instead of stopping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/lines.h"

namespace velmora::lines {

// Pieces of a long record are read in this size: large reads keep a record
// of gigabytes (a hole in a damaged log, say) quick to walk.
constexpr std::size_t kLongLinePiece = std::size_t{1} << 20;

// Calls fn(position, piece) for the bytes at positions from..to (1-based,
// inclusive), in pieces of at most scratch.size() bytes; position is that of
// the piece's first byte. Those bytes lie within the length found at open:
// fewer of them means the log was cut meanwhile, which throws.
template <class F>
void readPieces(ReadFile& file, std::int64_t from, std::int64_t to, std::vector<char>& scratch, F&& fn) {
  while (from <= to) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(scratch.size()), to - from + 1));
    const std::size_t got = file.readAt(from, scratch.data(), want);
    if (got < want) throwLogCut(file.path());
    fn(from, std::string_view(scratch.data(), got));
    from += static_cast<std::int64_t>(got);
  }
}

// Follows the line that starts at position start to its end: the position
// of the CR of the first CR LF lying wholly at or before limit, or -1 when
// there is none (the log's unterminated last line). fn(position, piece) sees
// the line's bytes before that CR, piece by piece. A log cut meanwhile
// throws, as in readPieces; with CutThrows false it gives -1 instead, like a
// line without CR LF, so that a reader leaves the line for a later call.
template <bool CutThrows = true, class F>
std::int64_t followLine(ReadFile& file, std::int64_t start, std::int64_t limit, std::vector<char>& scratch, F&& fn) {
  std::int64_t from = start;
  while (from < limit) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(scratch.size()), limit - from + 1));
    const std::size_t got = file.readAt(from, scratch.data(), want);
    if (got < want) {
      if constexpr (CutThrows) throwLogCut(file.path());
      return -1;
    }
    const char* piece = scratch.data();
    if (const char* cr = findLineEnd(piece, piece + got)) {
      if (cr > piece) fn(from, std::string_view(piece, static_cast<std::size_t>(cr - piece)));
      return from + (cr - piece);
    }
    // A CR in the last byte may pair with an LF in the next piece: the next
    // piece starts at it.
    const std::size_t whole = piece[got - 1] == '\r' ? got - 1 : got;
    fn(from, std::string_view(piece, whole));
    from += static_cast<std::int64_t>(whole);
  }
  return -1;
}

}  // namespace velmora::lines
