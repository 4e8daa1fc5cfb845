// A record of the log as the cells of an output row: the columns of the
// chosen fields, in field order, the codes of the translated fields shown
// by their presentations.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "cli/stream_printer.h"
#include "core/record_sink.h"
#include "transform/lookup.h"

namespace velmora {
class CodePage;
}

namespace velmora::cli {

class RecordShaper {
 public:
  // fields: 1..10, ascending; translated: of fields 1, 4, 5 and 6.
  RecordShaper(std::vector<int> fields, const TranslatedFields& translated, const CodePage& cp);

  // The record fields of the columns, in order (1 to 10).
  const std::vector<int>& fields() const { return fields_; }
  // Their names as the value table has them.
  std::vector<U16String> columnNames() const;

  // cells[i]: column i of the record; translated texts stay valid until the
  // next call, log bytes as long as the record's fields.
  void shape(const RecordFields& record, Cell* cells);

 private:
  std::vector<int> fields_;
  CodeTranslator translator_;
};

}  // namespace velmora::cli
