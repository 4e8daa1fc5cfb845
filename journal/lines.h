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

// The semicolons of a line one after another, for cutting it into fields.
// Fields are a few bytes long, where a call of memchr costs more than the
// search: the line is read eight bytes at a time, each word once, never past
// its end.
class Semicolons {
 public:
  Semicolons(const char* begin, const char* end) : word_(begin), end_(end) { load(); }
  // The first semicolon after the one returned before (from begin on), or end.
  const char* next() {
    while (bits_ == 0) {
      word_ += 8;
      if (word_ >= end_) {
        word_ = end_;
        return end_;
      }
      load();
    }
    const char* hit = word_ + std::countr_zero(bits_) / 8;
    bits_ &= bits_ - 1;
    return hit;
  }

 private:
  // bits_: the high bit of each byte of the word at word_ that is ";".
  void load() {
    if (std::endian::native == std::endian::little && end_ - word_ >= 8) {
      constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
      std::uint64_t v;
      std::memcpy(&v, word_, 8);
      const std::uint64_t x = v ^ 0x3B3B3B3B3B3B3B3Bull;  // a zero byte where a ";" stands
      // Exactly the zero bytes: no borrow runs from one byte into the next.
      bits_ = ~(((x & kLows) + kLows) | x | kLows);
      return;
    }
    bits_ = 0;
    const std::ptrdiff_t n = end_ - word_ < 8 ? end_ - word_ : 8;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      if (word_[i] == ';') bits_ |= std::uint64_t{0x80} << (8 * i);
    }
  }

  const char* word_;
  const char* end_;
  std::uint64_t bits_ = 0;
};

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
