// Cutting read windows into lines and placing a line's period key against
// the period. Only the two bytes CR LF end a line; a lone CR or LF is text.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
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

// An 18-byte key as three big-endian numbers, so that comparing keys byte
// by byte becomes comparing three integers (the test runs for every line).
struct PackedKey {
  std::uint64_t date;  // bytes 1-8, the date
  std::uint64_t time;  // bytes 9-16
  std::uint16_t tail;  // bytes 17-18

  static PackedKey of(const char* key) {
    PackedKey k{};
    std::memcpy(&k.date, key, 8);
    std::memcpy(&k.time, key + 8, 8);
    std::memcpy(&k.tail, key + 16, 2);
    if constexpr (std::endian::native == std::endian::little) {
      k.date = __builtin_bswap64(k.date);
      k.time = __builtin_bswap64(k.time);
      k.tail = __builtin_bswap16(k.tail);
    }
    return k;
  }
  friend bool operator<(const PackedKey& x, const PackedKey& y) {
    if (x.date != y.date) return x.date < y.date;
    if (x.time != y.time) return x.time < y.time;
    return x.tail < y.tail;
  }
};

// The period as two 18-byte keys, compared with the first bytes of a line.
class Period {
 public:
  Period(const char* begin, const char* end) : begin_(PackedKey::of(begin)), end_(PackedKey::of(end)) {}

  // DateBegin <= key <= DateEnd, byte by byte.
  bool contains(const char* key) const {
    const PackedKey k = PackedKey::of(key);
    return !(k < begin_) && !(end_ < k);
  }
  // The key's date lies after the end date: no later record can be in the
  // period, since records stand in time order.
  bool endsBefore(const char* key) const { return PackedKey::of(key).date > end_.date; }

 private:
  PackedKey begin_, end_;
};

}  // namespace velmora::lines
