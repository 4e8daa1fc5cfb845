// The typed face of the translator: the presentation of a field's code,
// asked for by field number, and a cache of the codes a reader translates.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "text/text.h"

namespace velmora {

class CodePage;

// The record fields a translator presents: the date (1), the run mode (4),
// the category (5) and the event code (6).
constexpr bool isTranslatable(int field) { return field == 1 || (field >= 4 && field <= 6); }

// Which fields to translate, by field number (1..10; 0 unused).
using TranslatedFields = std::array<bool, 11>;
TranslatedFields fieldSet(std::initializer_list<int> fields);

// Position (1..54) of an event code in the catalogue, or 0.
int eventPosition(U16View code);

// Rewrites text, the code of field, as its presentation: the date as
// DD.MM.YY, a known mode, category or event by its Russian text. An unknown
// code, an empty one and any other field stay as they are.
void presentCode(int field, U16String& text);

// Log bytes of a field to the UTF-8 text shown for them: the presentation in
// the translated fields, the decoded bytes elsewhere. Each distinct code is
// decoded and translated once.
class CodeTranslator {
 public:
  // A log with ever new codes (a damaged one) must not make the cache grow
  // without end: past this many texts per field it starts afresh.
  static constexpr std::size_t kCacheLimit = 4096;

  CodeTranslator(const CodePage& cp, const TranslatedFields& fields);

  bool translates(int field) const { return field >= 0 && field <= 10 && fields_[static_cast<std::size_t>(field)]; }
  // Valid until the next call.
  const std::string& utf8(int field, std::string_view code);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  struct Cache {
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> texts;  // log bytes -> UTF-8
    std::string lastCode;
    const std::string* lastText = nullptr;
  };

  const CodePage& cp_;
  TranslatedFields fields_;
  std::array<Cache, 11> caches_;
  U16String units_;
};

}  // namespace velmora
