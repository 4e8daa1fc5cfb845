#include "cli/stream_printer.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "text/codepage.h"

namespace velmora::cli {
namespace {

// Output goes to the stream in pieces of about this size.
constexpr std::size_t kWriteSize = std::size_t{64} << 10;

// Rows held for the table format, seen as a RowSource.
class Batch : public RowSource {
 public:
  Batch(const std::vector<std::string>& names, const std::vector<bool>& numeric,
        const std::vector<std::vector<std::string>>& rows)
      : names_(names), numeric_(numeric), rows_(rows) {}
  std::size_t columns() const override { return names_.size(); }
  std::string columnName(std::size_t column) const override { return names_[column]; }
  bool numeric(std::size_t column) const override { return numeric_[column]; }
  std::size_t rows() const override { return rows_.size(); }
  void cell(std::size_t row, std::size_t column, std::string& out) const override { out = rows_[row][column]; }

 private:
  const std::vector<std::string>& names_;
  const std::vector<bool>& numeric_;
  const std::vector<std::vector<std::string>>& rows_;
};

}  // namespace

Utf8Table::Utf8Table(const CodePage& cp) {
  for (int b = 0; b < 256; ++b) {
    char16_t u = cp.toUnit(static_cast<unsigned char>(b));
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // as toUtf8 writes a unit that is no character
    Unit& unit = units_[static_cast<std::size_t>(b)];
    if (u < 0x80) {
      unit.bytes[0] = static_cast<char>(u);
      unit.length = 1;
    } else if (u < 0x800) {
      unit.bytes[0] = static_cast<char>(0xC0 | (u >> 6));
      unit.bytes[1] = static_cast<char>(0x80 | (u & 0x3F));
      unit.length = 2;
    } else {
      unit.bytes[0] = static_cast<char>(0xE0 | (u >> 12));
      unit.bytes[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      unit.bytes[2] = static_cast<char>(0x80 | (u & 0x3F));
      unit.length = 3;
    }
    // What appendCsvField, appendTsvField and appendJsonString change.
    std::uint8_t special = 0;
    if (u == u',' || u == u'"' || u == u'\r' || u == u'\n') special |= kCsv;
    if (u < 0x20 || u == u'\\') special |= kTsv;
    if (u < 0x20 || u == u'"' || u == u'\\') special |= kJson;
    special_[static_cast<std::size_t>(b)] = special;
  }
}

void Utf8Table::append(std::string_view bytes, std::string& out) const {
  for (char c : bytes) {
    const Unit& unit = units_[static_cast<unsigned char>(c)];
    out.append(unit.bytes, unit.length);
  }
}

char* Utf8Table::write(char* p, std::string_view bytes, std::uint8_t& special) const {
  std::uint8_t seen = 0;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    // Four bytes at once, whatever the length: the room allows it, and the
    // next write covers the extra ones.
    std::memcpy(p, &units_[b], 4);
    p += units_[b].length;
    seen |= special_[b];
  }
  special |= seen;
  return p;
}

StreamPrinter::StreamPrinter(Format format, std::ostream& out, const CodePage& cp,
                             std::chrono::steady_clock::duration tableWait)
    : format_(format), out_(out), utf8_(cp), tableWait_(tableWait) {
  if (format_ == Format::Table) table_ = std::make_unique<RowPrinter>(Format::Table, out_);
}

StreamPrinter::~StreamPrinter() = default;

void StreamPrinter::setColumns(std::vector<std::string> names, std::vector<bool> numeric) {
  names_ = std::move(names);
  numeric_ = std::move(numeric);
  numeric_.resize(names_.size(), false);
  jsonKeys_.clear();
  for (const std::string& name : names_) {
    std::string key;
    appendJsonString(key, name);
    key.push_back(':');
    jsonKeys_.push_back(std::move(key));
  }
}

char* StreamPrinter::room(std::size_t n) {
  if (capacity_ - used_ < n) {
    const std::size_t wanted = std::max({capacity_ * 2, used_ + n, kWriteSize * 2});
    auto bigger = std::make_unique<char[]>(wanted);
    if (used_ != 0) std::memcpy(bigger.get(), buffer_.get(), used_);
    buffer_ = std::move(bigger);
    capacity_ = wanted;
  }
  return buffer_.get() + used_;
}

void StreamPrinter::append(std::string_view bytes) {
  std::memcpy(room(bytes.size()), bytes.data(), bytes.size());
  used_ += bytes.size();
}

void StreamPrinter::putEscaped(std::string_view utf8) {
  scratch_.clear();
  switch (format_) {
    case Format::Csv: appendCsvField(scratch_, utf8); break;
    case Format::Tsv: appendTsvField(scratch_, utf8); break;
    case Format::Jsonl: appendJsonString(scratch_, utf8); break;
    case Format::Table: break;
  }
  append(scratch_);
}

void StreamPrinter::putText(std::string_view utf8, bool numeric) {
  // A number column holds numbers; anything else there still prints as text.
  if (format_ == Format::Jsonl && numeric && isJsonNumber(utf8)) {
    append(utf8);
  } else {
    putEscaped(utf8);
  }
}

void StreamPrinter::putCell(const Cell& cell, bool numeric) {
  if (!cell.logBytes) return putText(cell.text, numeric);
  if (numeric) {
    text_.clear();
    utf8_.append(cell.text, text_);
    return putText(text_, numeric);
  }
  // The common case: no byte that the format escapes, so the UTF-8 goes
  // straight into the output; otherwise the field is written again the slow
  // way, by the very function RowPrinter uses.
  const bool json = format_ == Format::Jsonl;
  char* p = room(cell.text.size() * 3 + 3);
  if (json) *p++ = '"';
  std::uint8_t special = 0;
  p = utf8_.write(p, cell.text, special);
  const std::uint8_t mask = format_ == Format::Csv ? Utf8Table::kCsv : format_ == Format::Tsv ? Utf8Table::kTsv : Utf8Table::kJson;
  if ((special & mask) != 0) {
    text_.clear();
    utf8_.append(cell.text, text_);
    return putEscaped(text_);
  }
  if (json) *p++ = '"';
  used_ = static_cast<std::size_t>(p - buffer_.get());
}

void StreamPrinter::row(const Cell* cells) {
  const std::size_t n = names_.size();
  ++printed_;
  if (format_ == Format::Table) {
    std::vector<std::string> texts(n);
    for (std::size_t c = 0; c < n; ++c) {
      if (cells[c].logBytes) {
        utf8_.append(cells[c].text, texts[c]);
      } else {
        texts[c].assign(cells[c].text);
      }
    }
    if (batch_.empty()) batchStart_ = std::chrono::steady_clock::now();
    batch_.push_back(std::move(texts));
    if (batch_.size() >= kTableBatch || (!firstBatchDone_ && std::chrono::steady_clock::now() - batchStart_ >= tableWait_)) {
      printTableBatch();
    }
    return;
  }
  const bool csv = format_ == Format::Csv;
  if (format_ == Format::Jsonl) {
    append("{");
    for (std::size_t c = 0; c < n; ++c) {
      if (c) append(",");
      append(jsonKeys_[c]);
      putCell(cells[c], numeric_[c]);
    }
    append("}\n");
  } else {
    const char* const separator = csv ? "," : "\t";
    if (!headerDone_) {
      for (std::size_t c = 0; c < n; ++c) {
        if (c) append(separator);
        putEscaped(names_[c]);
      }
      append(csv ? "\r\n" : "\n");  // RFC 4180 ends records with CR LF
    }
    const std::size_t start = used_;
    for (std::size_t c = 0; c < n; ++c) {
      if (c) append(separator);
      putCell(cells[c], numeric_[c]);
    }
    // A blank line is no record to CSV readers: a lone empty field is quoted.
    if (csv && used_ == start) append("\"\"");
    append(csv ? "\r\n" : "\n");
  }
  headerDone_ = true;
  if (used_ >= kWriteSize) writeOut();
}

void StreamPrinter::printTableBatch() {
  if (batch_.empty()) return;
  table_->print(Batch(names_, numeric_, batch_));
  batch_.clear();
  firstBatchDone_ = true;
}

void StreamPrinter::writeOut() {
  if (used_ == 0) return;
  out_.write(buffer_.get(), static_cast<std::streamsize>(used_));
  used_ = 0;
}

void StreamPrinter::flush(bool final) {
  if (format_ == Format::Table) {
    if (final || firstBatchDone_ || (!batch_.empty() && std::chrono::steady_clock::now() - batchStart_ >= tableWait_)) {
      printTableBatch();
    }
    return;
  }
  writeOut();
  out_.flush();
}

void StreamPrinter::printAll(const RowSource& rows) {
  if (format_ == Format::Table) {
    // Held rows are complete: sized and printed as one batch.
    printTableBatch();
    table_->print(rows);
    printed_ += rows.rows();
    firstBatchDone_ = true;
    return;
  }
  std::vector<std::string> texts(rows.columns());
  std::vector<Cell> cells(rows.columns());
  for (std::size_t r = 0; r < rows.rows(); ++r) {
    for (std::size_t c = 0; c < texts.size(); ++c) {
      rows.cell(r, c, texts[c]);
      cells[c] = Cell{texts[c], false};
    }
    row(cells.data());
  }
}

}  // namespace velmora::cli
