// Cutting read windows into lines and placing a line's period key against
// the period. Only the two bytes CR LF end a line; a lone CR or LF is text.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace velmora::lines {

constexpr std::size_t kKeySize = 18;   // date;time; at the start of a record
constexpr std::size_t kDateSize = 8;   // YYYYMMDD
constexpr std::size_t kDate9Size = 9;  // the date and its ";"

// Bytes kept after a window's end so that a key taken at any line start in
// the window can be read whole (a short last line is followed by these).
constexpr std::size_t kWindowPadding = 32;

// The CR of the first CR LF in [from, end), or nullptr.
inline const char* findLineEnd(const char* from, const char* end) {
  while (from < end) {
    const void* hit = std::memchr(from, '\r', static_cast<std::size_t>(end - from));
    if (hit == nullptr) return nullptr;
    const char* cr = static_cast<const char*>(hit);
    if (cr + 1 < end && cr[1] == '\n') return cr;
    from = cr + 1;
  }
  return nullptr;
}

// The CR of the last CR LF lying wholly in [begin, end), or nullptr.
inline const char* findLastLineEnd(const char* begin, const char* end) {
  for (const char* q = end - 1; q > begin; --q) {
    if (*q == '\n' && q[-1] == '\r') return q - 1;
  }
  return nullptr;
}

// The period as two 18-byte keys, compared with the first bytes of a line.
struct Period {
  const char* begin;  // 18 bytes
  const char* end;    // 18 bytes

  // DateBegin <= key <= DateEnd, byte by byte.
  bool contains(const char* key) const {
    return std::memcmp(key, begin, kKeySize) >= 0 && std::memcmp(key, end, kKeySize) <= 0;
  }
  // The key's date lies after the end date: no later record can be in the
  // period, since records stand in time order.
  bool endsBefore(const char* key) const { return std::memcmp(key, end, kDateSize) > 0; }
};

}  // namespace velmora::lines
