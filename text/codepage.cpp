#include "text/codepage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora {

namespace {

#ifndef _WIN32
// Lower-case letters and their upper-case forms, by ranges: step 2 means only
// every second unit from first on is lower case (the paired Latin and
// Cyrillic blocks). Used where the system's own upper-casing is not at hand.
struct CaseRange {
  char16_t first, last;
  std::int16_t delta;
  std::uint8_t step;
};

constexpr CaseRange kCaseRanges[] = {
    {0x0061, 0x007A, -32, 1},    // a-z
    {0x00B5, 0x00B5, 743, 1},    // micro sign -> Greek capital mu
    {0x00E0, 0x00F6, -32, 1},    // Latin-1 letters
    {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1},    // y diaeresis -> U+0178
    {0x0101, 0x012F, -1, 2},     // Latin Extended-A pairs
    {0x0131, 0x0131, -232, 1},   // dotless i -> I
    {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2},
    {0x014B, 0x0177, -1, 2},
    {0x017A, 0x017E, -1, 2},
    {0x017F, 0x017F, -300, 1},   // long s -> S
    {0x0192, 0x0192, -1, 1},     // f hook
    {0x03AC, 0x03AC, -38, 1},    // Greek with tonos
    {0x03AD, 0x03AF, -37, 1},
    {0x03B1, 0x03C1, -32, 1},    // Greek
    {0x03C2, 0x03C2, -31, 1},    // final sigma
    {0x03C3, 0x03CB, -32, 1},
    {0x03CC, 0x03CC, -64, 1},
    {0x03CD, 0x03CE, -63, 1},
    {0x0430, 0x044F, -32, 1},    // а-я
    {0x0450, 0x045F, -80, 1},    // ѐ-џ, ё ђ ѓ є ѕ і ї ј љ њ ћ ќ ў џ
    {0x0461, 0x0481, -1, 2},     // historic Cyrillic pairs
    {0x048B, 0x04BF, -1, 2},     // ... ґ and the other extended pairs
};

char16_t genericUpper(char16_t u) {
  for (const CaseRange& r : kCaseRanges) {
    if (u < r.first) break;
    if (u <= r.last && (u - r.first) % r.step == 0) return static_cast<char16_t>(u + r.delta);
  }
  return u;
}

// Code units of bytes 0x80..0xFF; bytes below 0x80 are ASCII in every code
// page offered here. A byte the code page leaves undefined keeps its own
// value as a C1 control, so every byte still round-trips.
using HighHalf = std::array<char16_t, 128>;

constexpr HighHalf kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

constexpr HighHalf kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0: Latin-1
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

constexpr HighHalf kCp866 = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

struct NativeTable {
  unsigned number;
  const HighHalf* high;
};

constexpr NativeTable kNativeTables[] = {{1251, &kCp1251}, {1252, &kCp1252}, {866, &kCp866}};

constexpr unsigned kDefaultNumber = 1251;
#endif

}  // namespace

struct CodePageBuilder {
  static std::unique_ptr<CodePage> build(unsigned number) {
    std::unique_ptr<CodePage> cp(new CodePage);
    cp->number_ = number;
#ifdef _WIN32
    CPINFO info{};
    if (!IsValidCodePage(number) || !GetCPInfo(number, &info) || info.MaxCharSize != 1) return nullptr;
    for (int b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      wchar_t unit = 0;
      if (MultiByteToWideChar(number, 0, &byte, 1, &unit, 1) != 1) unit = 0xFFFD;
      cp->toUnit_[b] = static_cast<char16_t>(unit);
    }
    // The record format needs ";", CR, LF and the digits as ASCII.
    for (int b = 0; b < 0x80; ++b) {
      if (cp->toUnit_[b] != b) return nullptr;
    }
    for (int b = 0; b < 256; ++b) {
      wchar_t unit = cp->toUnit_[b];
      CharUpperBuffW(&unit, 1);
      const auto upper = cp->toByte(static_cast<char16_t>(unit));
      cp->upper_[b] = upper ? *upper : static_cast<unsigned char>(b);
    }
#else
    const NativeTable* table = nullptr;
    for (const NativeTable& t : kNativeTables) {
      if (t.number == number) table = &t;
    }
    if (!table) return nullptr;
    for (int b = 0; b < 0x80; ++b) cp->toUnit_[b] = static_cast<char16_t>(b);
    for (int b = 0x80; b < 256; ++b) cp->toUnit_[b] = (*table->high)[b - 0x80];
    for (int b = 0; b < 256; ++b) {
      const auto upper = cp->toByte(genericUpper(cp->toUnit_[b]));
      cp->upper_[b] = upper ? *upper : static_cast<unsigned char>(b);
    }
#endif
    return cp;
  }
};

namespace {

// Every code page handed out stays alive, so references from current() never
// dangle after a later select().
struct Registry {
  std::vector<std::unique_ptr<CodePage>> kept;
  const CodePage* current = nullptr;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

const CodePage& CodePage::current() {
  Registry& r = registry();
  if (!r.current) {
#ifdef _WIN32
    auto cp = CodePageBuilder::build(GetACP());
    if (!cp) cp = CodePageBuilder::build(1252);  // a multi-byte ANSI code page is not readable
#else
    auto cp = CodePageBuilder::build(kDefaultNumber);
#endif
    r.current = cp.get();
    r.kept.push_back(std::move(cp));
  }
  return *r.current;
}

bool CodePage::select(unsigned number) {
  Registry& r = registry();
  for (const auto& cp : r.kept) {
    if (cp->number() == number) {
      r.current = cp.get();
      return true;
    }
  }
  auto cp = CodePageBuilder::build(number);
  if (!cp) return false;
  r.current = cp.get();
  r.kept.push_back(std::move(cp));
  return true;
}

std::unique_ptr<CodePage> CodePage::make(unsigned number) { return CodePageBuilder::build(number); }

std::optional<unsigned char> CodePage::toByte(char16_t unit) const {
  if (unit < 0x80) return static_cast<unsigned char>(unit);
#ifdef _WIN32
  const wchar_t wide = unit;
  char byte = 0;
  BOOL usedDefault = FALSE;
  if (WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, &wide, 1, &byte, 1, nullptr, &usedDefault) != 1 ||
      usedDefault) {
    return std::nullopt;
  }
  // Only a byte that reads back as the same unit is its form.
  if (toUnit_[static_cast<unsigned char>(byte)] != unit) return std::nullopt;
  return static_cast<unsigned char>(byte);
#else
  for (int b = 0x80; b < 256; ++b) {
    if (toUnit_[b] == unit) return static_cast<unsigned char>(b);
  }
  return std::nullopt;
#endif
}

char16_t CodePage::upperUnit(char16_t unit) const {
  if (const auto byte = toByte(unit)) return toUnit_[upper_[*byte]];
#ifdef _WIN32
  wchar_t wide = unit;
  CharUpperBuffW(&wide, 1);
  return static_cast<char16_t>(wide);
#else
  return genericUpper(unit);
#endif
}

std::optional<std::string> CodePage::encode(U16View text) const {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t u : text) {
    const auto byte = toByte(u);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<char>(*byte));
  }
  return bytes;
}

U16String CodePage::upper(U16View text) const {
  U16String out(text);
  for (char16_t& u : out) u = upperUnit(u);
  return out;
}

void CodePage::decode(std::string_view bytes, U16String& out) const {
  out.resize(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = toUnit_[static_cast<unsigned char>(bytes[i])];
}

U16String CodePage::decode(std::string_view bytes) const {
  U16String out;
  decode(bytes, out);
  return out;
}

CodePageUtf8::CodePageUtf8(const CodePage& cp) {
  for (int b = 0; b < 256; ++b) {
    const std::string utf8 = toUtf8(U16String(1, cp.toUnit(static_cast<unsigned char>(b))));
    size_[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(utf8.size());  // 3 at most: one unit
    std::memcpy(text_[static_cast<std::size_t>(b)].data(), utf8.data(), utf8.size());
  }
}

void CodePageUtf8::append(std::string_view bytes, std::string& out) const {
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (size_[b] == 1) out.push_back(text_[b][0]);
    else out.append(text_[b].data(), size_[b]);
  }
}

}  // namespace velmora
