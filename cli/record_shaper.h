// A record of the log as the cells of an output row: the columns of the
// chosen fields, in field order, the codes of the translated fields
// translated by the Transform class. Each distinct code is converted and
// translated once; later records reuse the text.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/stream_printer.h"
#include "core/record_sink.h"
#include "transform/transform.h"

namespace velmora {
class CodePage;
}

namespace velmora::cli {

class RecordShaper {
 public:
  // A log with ever new codes (a damaged one) must not make the cache grow
  // without end: past this many texts per column it starts afresh.
  static constexpr std::size_t kCacheLimit = 4096;

  // fields: 1..10, ascending; translated: of fields 1, 4, 5 and 6.
  RecordShaper(std::vector<int> fields, const std::array<bool, 11>& translated, const CodePage& cp);

  // The record fields of the columns, in order (1 to 10).
  const std::vector<int>& fields() const { return fields_; }
  // Their names as the value table has them.
  std::vector<U16String> columnNames() const;

  // cells[i]: column i of the record; translated texts stay valid until the
  // next call, log bytes as long as the record's fields.
  void shape(const RecordFields& record, Cell* cells);

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
  const std::string& translate(int field, std::string_view code);

  const CodePage& cp_;
  std::vector<int> fields_;
  std::array<bool, 11> translated_{};
  Transform transform_;
  std::array<Cache, 11> caches_;
};

}  // namespace velmora::cli
