#include "cli/record_shaper.h"

#include "journal/result_columns.h"
#include "text/codepage.h"

namespace velmora::cli {

RecordShaper::RecordShaper(U16View insertColumn, U16View transformStr, const CodePage& cp) : cp_(cp) {
  // "" selects every column, as a ten-character mask of "1" does.
  for (int k = 1; k <= 10; ++k) {
    if (insertColumn.empty() || insertColumn[static_cast<std::size_t>(k - 1)] != u'0') fields_.push_back(k);
  }
  transform_.SetTransformStr(transformStr);
  // Mask positions 1..4 switch fields 1, 4, 5 and 6.
  static constexpr int kTranslatedField[4] = {1, 4, 5, 6};
  const U16String& mask = transform_.TransformStr();
  for (int i = 0; i < 4; ++i) translated_[kTranslatedField[i]] = mask[static_cast<std::size_t>(i)] == u'1';
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
