#include "cli/record_shaper.h"

#include "core/result_columns.h"

namespace velmora::cli {

RecordShaper::RecordShaper(std::vector<int> fields, const TranslatedFields& translated, const CodePage& cp)
    : fields_(std::move(fields)), translator_(cp, translated) {}

std::vector<U16String> RecordShaper::columnNames() const {
  std::vector<U16String> names;
  for (int k : fields_) names.emplace_back(kResultColumns[static_cast<std::size_t>(k - 1)].name);
  return names;
}

void RecordShaper::shape(const RecordFields& record, Cell* cells) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const int k = fields_[i];
    const std::string_view field = record[static_cast<std::size_t>(k)];
    cells[i] = translator_.translates(k) ? Cell{translator_.utf8(k, field), false} : Cell{field, true};
  }
}

}  // namespace velmora::cli
