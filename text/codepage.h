// The single-byte code page of the log: byte <-> code unit, and upper-casing.
//
// On Windows the system's ANSI code page and the system's upper-casing are
// used. Natively the code page is chosen by number (1251 by default).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace velmora {

class CodePage {
 public:
  // The code page the reader uses for logs: on Windows the ANSI code page,
  // natively the one chosen with select() (1251 until then).
  static const CodePage& current();
  // Natively: 1251, 1252 or 866. On Windows: any code page the system knows.
  // Returns false (and changes nothing) for an unknown number.
  static bool select(unsigned number);
  static std::unique_ptr<CodePage> make(unsigned number);  // nullptr if unknown

  unsigned number() const { return number_; }

  char16_t toUnit(unsigned char byte) const { return toUnit_[byte]; }
  // The byte of a code unit, or nothing when the code page has no form of it
  // (never a '?' stand-in).
  std::optional<unsigned char> toByte(char16_t unit) const;
  // The bytes of a text, or nothing when a unit of it has no byte form.
  std::optional<std::string> encode(U16View text) const;
  unsigned char upperByte(unsigned char byte) const { return upper_[byte]; }
  // Upper-casing through the code page, so that a filter text and a log field
  // are folded by the same rule; units without a byte form are upper-cased by
  // the generic rule (they can never match a log byte anyway).
  char16_t upperUnit(char16_t unit) const;
  // A text upper-cased unit by unit, as upperUnit does.
  U16String upper(U16View text) const;

  // Replaces out with the code units of bytes; reuses out's capacity.
  void decode(std::string_view bytes, U16String& out) const;
  U16String decode(std::string_view bytes) const;

 private:
  CodePage() = default;
  unsigned number_ = 0;
  std::array<char16_t, 256> toUnit_{};
  std::array<unsigned char, 256> upper_{};
  friend struct CodePageBuilder;
};

// Each byte of a code page as UTF-8, made once, so that turning log bytes
// into UTF-8 costs a lookup and a copy a byte. A unit that is no character
// becomes U+FFFD, as toUtf8 writes it.
class CodePageUtf8 {
 public:
  explicit CodePageUtf8(const CodePage& cp);
  std::string_view of(unsigned char byte) const { return {text_[byte].data(), size_[byte]}; }
  void append(std::string_view bytes, std::string& out) const;

 private:
  std::array<std::array<char, 4>, 256> text_{};
  std::array<std::uint8_t, 256> size_{};
};

}  // namespace velmora
