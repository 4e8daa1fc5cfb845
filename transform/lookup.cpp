#include "transform/lookup.h"

#include "text/codepage.h"
#include "transform/catalogue.h"

namespace velmora {

namespace {

// Characters first..first+count-1 (1-based) of text, as far as they exist.
U16View part(U16View text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
}

template <std::size_t N>
const CodeText* findExact(const std::array<CodeText, N>& table, U16View code) {
  for (const CodeText& entry : table) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

// YYYYMMDD -> DD.MM.YY; a shorter text keeps whatever positions it has.
// Built in a fixed buffer so that the text's own storage is reused.
void presentDate(U16String& text) {
  const U16View in = text;
  char16_t date[8];
  std::size_t n = 0;
  auto put = [&](U16View piece) {
    for (char16_t c : piece) date[n++] = c;
  };
  put(in.substr(in.size() >= 2 ? in.size() - 2 : 0));
  date[n++] = u'.';
  put(part(in, 5, 2));
  date[n++] = u'.';
  put(part(in, 3, 2));
  text.assign(date, n);
}

}  // namespace

TranslatedFields fieldSet(std::initializer_list<int> fields) {
  TranslatedFields set{};
  for (int k : fields) set[static_cast<std::size_t>(k)] = true;
  return set;
}

int eventPosition(U16View code) {
  // Binary search over the sorted catalogue. Codes compare whole, so a
  // prefix never matches a longer code.
  std::size_t low = 0, high = kEventCatalogue.size();
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    const U16View entry = kEventCatalogue[mid].code;
    if (entry == code) return static_cast<int>(mid + 1);
    if (entry < code) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return 0;
}

void presentCode(int field, U16String& text) {
  if (text.empty()) return;
  switch (field) {
    case 1:
      presentDate(text);
      break;
    case 4:
      if (const CodeText* mode = findExact(kRunModes, text)) text.assign(mode->text);
      break;
    case 5:
      if (const CodeText* category = findExact(kCategories, text)) text.assign(category->text);
      break;
    case 6:
      if (const int pos = eventPosition(text)) text.assign(kEventCatalogue[static_cast<std::size_t>(pos - 1)].text);
      break;
    default:
      break;
  }
}

CodeTranslator::CodeTranslator(const CodePage& cp, const TranslatedFields& fields) : cp_(cp), fields_(fields) {}

const std::string& CodeTranslator::utf8(int field, std::string_view code) {
  Cache& cache = caches_[static_cast<std::size_t>(field)];
  if (cache.lastText != nullptr && code == cache.lastCode) return *cache.lastText;
  auto it = cache.texts.find(code);
  if (it == cache.texts.end()) {
    if (cache.texts.size() >= kCacheLimit) cache.texts.clear();
    cp_.decode(code, units_);
    if (translates(field)) presentCode(field, units_);
    it = cache.texts.emplace(std::string(code), toUtf8(units_)).first;
  }
  cache.lastCode.assign(code);
  cache.lastText = &it->second;
  return it->second;
}

}  // namespace velmora
