// Cutting read windows into lines and placing a line's period key against
// the period. Only the two bytes CR LF end a line; a lone CR or LF is text.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/record_format.h"
#include "core/simd.h"

namespace velmora::lines {

constexpr std::size_t kKeySize = record::kKeySize;    // date;time; at the start of a record
constexpr std::size_t kDate9Size = record::kDate9Size;  // the date and its ";"

// Bytes kept after a window's end so that a key taken at any line start in
// the window can be read whole (a short last line is followed by these), and
// a line cut into fields may be read in whole blocks (kCutBlock below).
constexpr std::size_t kWindowPadding = 64;

// The searches below read in 64-bit words or 16-byte vectors; a byte
// equal to c shows as 0x80 in the word of zero-tests (exactly: no borrow
// runs from byte to byte, so no false hits above a true one).
inline std::uint64_t zeroBytes(std::uint64_t x) {
  constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
  return ~(((x & kLows) + kLows) | x | kLows);
}
inline std::uint64_t broadcast(unsigned char c) { return 0x0101010101010101ull * c; }
inline std::uint64_t loadWord(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);  // lowest address lowest
  return v;
}

#if VELMORA_SSE2_CODE
VELMORA_SSE2 inline const char* findByteSse2(const char* from, const char* end, char c) {
  const __m128i needle = _mm_set1_epi8(c);
  for (; end - from >= 16; from += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(v, needle));
    if (bits != 0) return from + std::countr_zero(static_cast<unsigned>(bits));
  }
  for (; from < end; ++from) {
    if (*from == c) return from;
  }
  return nullptr;
}
#endif

inline const char* findByteWords(const char* from, const char* end, char c) {
  const std::uint64_t pattern = broadcast(static_cast<unsigned char>(c));
  for (; end - from >= 8; from += 8) {
    const std::uint64_t hits = zeroBytes(loadWord(from) ^ pattern);
    if (hits != 0) return from + std::countr_zero(hits) / 8;
  }
  for (; from < end; ++from) {
    if (*from == c) return from;
  }
  return nullptr;
}

// The first c in [from, end), or nullptr; reads nothing outside. Our own
// search rather than memchr, whose speed depends on the C runtime the host
// process has (a byte loop in some).
inline const char* findByte(const char* from, const char* end, char c) {
#if VELMORA_SSE2_CODE
  if (simd::sse2()) return findByteSse2(from, end, c);
#endif
  return findByteWords(from, end, c);
}

// The CR of the first CR LF in [from, end), or nullptr.
inline const char* findLineEnd(const char* from, const char* end) {
  while (from < end) {
    const char* cr = findByte(from, end, '\r');
    if (cr == nullptr) return nullptr;
    if (cr + 1 < end && cr[1] == '\n') return cr;
    from = cr + 1;
  }
  return nullptr;
}

// Lines are read in blocks of this many bytes when they are cut into fields.
constexpr std::size_t kCutBlock = 64;

#if VELMORA_SSE2_CODE
VELMORA_SSE2 inline std::uint64_t byteMask64Sse2(const char* p, char c) {
  const __m128i needle = _mm_set1_epi8(c);
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)))} << (16 * k);
  }
  return mask;
}
#endif

inline std::uint64_t byteMask64Words(const char* p, char c) {
  const std::uint64_t pattern = broadcast(static_cast<unsigned char>(c));
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    const std::uint64_t high = zeroBytes(loadWord(p + 8 * k) ^ pattern);
    // The eight flags gathered into one byte, lowest address lowest.
    mask |= (((high >> 7) * 0x0102040810204080ull) >> 56) << (8 * k);
  }
  return mask;
}

// Bit i is set where p[i] == c, for the kCutBlock bytes from p, all of which
// must be readable. One mask a block means that finding the next field
// costs a bit scan, not a branch per word whose outcome the field lengths
// decide.
inline std::uint64_t byteMask64(const char* p, char c) {
#if VELMORA_SSE2_CODE
  if (simd::sse2()) return byteMask64Sse2(p, c);
#endif
  return byteMask64Words(p, c);
}

// The places of one byte value in [begin, end), one after another, found a
// block at a time. Up to kCutBlock - 1 bytes past end must be readable (a
// window keeps that much padding; other lines are copied where they may).
template <char C>
class ByteHits {
 public:
  ByteHits(const char* begin, const char* end) : block_(begin), end_(end) { load(); }
  // The next place of C, or end when there is none.
  const char* next() {
    while (bits_ == 0) {
      block_ += kCutBlock;
      if (block_ >= end_) return end_;
      load();
    }
    const char* hit = block_ + std::countr_zero(bits_);
    bits_ &= bits_ - 1;
    return hit;
  }

 private:
  void load() {
    bits_ = byteMask64(block_, C);
    const std::ptrdiff_t left = end_ - block_;
    if (left < static_cast<std::ptrdiff_t>(kCutBlock)) bits_ &= (std::uint64_t{1} << left) - 1;
  }

  const char* block_;
  const char* end_;
  std::uint64_t bits_ = 0;
};

// The semicolons of a line one after another, for cutting it into fields.
using Semicolons = ByteHits<';'>;

// The line ends of a window one after another: the CR of each CR LF in
// [from, end). Found a block at a time, like the semicolons, since a call
// of a search per line of some hundred bytes costs more than the search.
class LineEnds {
 public:
  LineEnds(const char* from, const char* end) : crs_(from, end), end_(end) {}
  // The CR of the next CR LF, or nullptr.
  const char* next() {
    for (const char* cr = crs_.next(); cr != end_; cr = crs_.next()) {
      if (cr + 1 < end_ && cr[1] == '\n') return cr;
    }
    return nullptr;
  }

 private:
  ByteHits<'\r'> crs_;
  const char* end_;
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

// Whether eight key bytes, packed, are all ASCII digits: a date. Adding 6
// to a digit's low nibble never carries; to any other nibble of a 0x3_ byte
// it does, into that byte's high nibble only.
inline bool isDate(std::uint64_t packed) {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull, kThree = 0x3030303030303030ull;
  return (packed & kHigh) == kThree && ((packed + 0x0606060606060606ull) & kHigh) == kThree;
}

// The period as two 18-byte keys, compared with the first bytes of a line.
// Only a record takes part: a line longer than its key whose first eight
// bytes are a date. Any other line (a stray "x", a short or damaged line)
// is neither in the period nor past its end, so that it can neither add a
// row nor end a scan early and hide the records after it.
class Period {
 public:
  Period(const char* begin, const char* end) : begin_(PackedKey::of(begin)), end_(PackedKey::of(end)) {}

  // A record of length bytes (CR LF not counted) at line: is it one, with
  // DateBegin <= key <= DateEnd, byte by byte. line is followed by at least
  // the key's size of readable bytes.
  bool contains(const char* line, std::size_t length) const {
    const PackedKey k = PackedKey::of(line);
    return !(k < begin_) && !(end_ < k) && isRecord(k, length);
  }
  // A record whose date lies after the end date: no later record can be in
  // the period, since records stand in time order.
  bool endsBefore(const char* line, std::size_t length) const {
    const PackedKey k = PackedKey::of(line);
    return k.date > end_.date && isRecord(k, length);
  }
  static bool isRecord(const char* line, std::size_t length) { return isRecord(PackedKey::of(line), length); }

 private:
  static bool isRecord(const PackedKey& k, std::size_t length) { return length > kKeySize && isDate(k.date); }

  PackedKey begin_, end_;
};

}  // namespace velmora::lines
