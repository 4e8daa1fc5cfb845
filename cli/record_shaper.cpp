#include "cli/record_shaper.h"

#include "core/result_columns.h"
#include "text/codepage.h"

namespace velmora::cli {

RecordShaper::RecordShaper(std::vector<int> fields, const std::array<bool, 11>& translated, const CodePage& cp)
    : cp_(cp), fields_(std::move(fields)), translated_(translated) {
  // The Transform class is switched by a script's mask; only the fields
  // marked translated ever reach it, so it may translate all four.
  transform_.SetTransformStr(u"1111");
}

std::vector<U16String> RecordShaper::columnNames() const {
  std::vector<U16String> names;
  for (int k : fields_) names.emplace_back(kResultColumns[static_cast<std::size_t>(k - 1)].name);
  return names;
}

const std::string& RecordShaper::translate(int field, std::string_view code) {
  Cache& cache = caches_[static_cast<std::size_t>(field)];
  if (cache.lastText != nullptr && code == cache.lastCode) return *cache.lastText;
  auto it = cache.texts.find(code);
  if (it == cache.texts.end()) {
    if (cache.texts.size() >= kCacheLimit) cache.texts.clear();
    U16String text = cp_.decode(code);
    transform_.TransformCol(text, static_cast<std::int16_t>(field));
    it = cache.texts.emplace(std::string(code), toUtf8(text)).first;
  }
  cache.lastCode.assign(code);
  cache.lastText = &it->second;
  return it->second;
}

void RecordShaper::shape(const RecordFields& record, Cell* cells) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const int k = fields_[i];
    const std::string_view field = record[static_cast<std::size_t>(k)];
    cells[i] = translated_[static_cast<std::size_t>(k)] ? Cell{translate(k, field), false} : Cell{field, true};
  }
}

}  // namespace velmora::cli
