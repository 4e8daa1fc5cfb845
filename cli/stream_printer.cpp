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
  const CodePageUtf8 plain(cp);
  for (int b = 0; b < 256; ++b) {
    const std::string utf8(plain.of(static_cast<unsigned char>(b)));
    // Each form as the functions of format.h write the character.
    std::string forms[kForms];
    forms[kPlain] = utf8;
    forms[kCsvQuoted] = utf8 == "\"" ? "\"\"" : utf8;
    appendTsvField(forms[kTsv], utf8);
    appendJsonString(forms[kJson], utf8);
    forms[kJson] = forms[kJson].substr(1, forms[kJson].size() - 2);  // without the quotes around it
    for (int f = 0; f < kForms; ++f) {
      Unit& unit = units_[static_cast<std::size_t>(f)][static_cast<std::size_t>(b)];
      std::memcpy(unit.bytes, forms[f].data(), forms[f].size());
      unit.length = static_cast<std::uint8_t>(forms[f].size());
    }
    std::string quoted;
    appendCsvField(quoted, utf8);
    special_[static_cast<std::size_t>(b)] = quoted != utf8 ? kCsvQuotes : 0;
  }
}

void Utf8Table::append(std::string_view bytes, std::string& out) const {
  for (char c : bytes) {
    const Unit& unit = units_[kPlain][static_cast<unsigned char>(c)];
    out.append(unit.bytes, unit.length);
  }
}

StreamPrinter::StreamPrinter(Format format, std::ostream& out, const CodePage& cp, bool onTerminal,
                             std::chrono::steady_clock::duration tableWait)
    : format_(format), out_(out), shownCsv_(onTerminal && format == Format::Csv), utf8_(cp), tableWait_(tableWait) {
}

StreamPrinter::~StreamPrinter() = default;

void StreamPrinter::setColumns(std::vector<std::string> names, std::vector<bool> numeric) {
  names_ = std::move(names);
  numeric_ = std::move(numeric);
  numeric_.resize(names_.size(), false);
  jsonKeys_.clear();
  keyLengths_.clear();
  for (const std::string& name : names_) {
    std::string key;
    appendJsonString(key, name);
    key.push_back(':');
    keyLengths_.push_back(key.size());
    // Kept with room behind it, so that a key is copied in one fixed-size
    // move, which the compiler does without a call.
    key.resize(std::max(key.size(), kKeyCopy), ' ');
    jsonKeys_.push_back(std::move(key));
  }
}

void StreamPrinter::grow(std::size_t n) {
  const std::size_t wanted = std::max({capacity_ * 2, used_ + n, kWriteSize * 2});
  auto bigger = std::make_unique<char[]>(wanted);
  if (used_ != 0) std::memcpy(bigger.get(), buffer_.get(), used_);
  buffer_ = std::move(bigger);
  capacity_ = wanted;
}

void StreamPrinter::append(std::string_view bytes) {
  std::memcpy(room(bytes.size()), bytes.data(), bytes.size());
  used_ += bytes.size();
}

void StreamPrinter::putEscaped(std::string_view utf8) {
  scratch_.clear();
  switch (format_) {
    case Format::Csv: (shownCsv_ ? appendCsvFieldShown : appendCsvField)(scratch_, utf8); break;
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
  if (!headerDone_) writeHeader();
  headerDone_ = true;
  const bool json = format_ == Format::Jsonl, csv = format_ == Format::Csv;
  const Utf8Table::Form form = json ? Utf8Table::kJson : csv ? Utf8Table::kPlain : Utf8Table::kTsv;
  const char separator = csv || json ? ',' : '\t';
  // Room for the rest of the row at once: a byte takes at most
  // kMostPerByte, a field two quotes and a separator. A translated text goes
  // through the function RowPrinter uses, which finds its own room.
  auto roomFor = [&](std::size_t from) {
    std::size_t need = 16;
    for (std::size_t c = from; c < n; ++c) {
      need += cells[c].text.size() * Utf8Table::kMostPerByte + 4 + (json ? jsonKeys_[c].size() : 0);
    }
    return room(need);
  };
  const std::size_t start = used_;
  char* p = roomFor(0);
  if (json) *p++ = '{';
  for (std::size_t c = 0; c < n; ++c) {
    if (c) *p++ = separator;
    if (json) {
      if (keyLengths_[c] <= kKeyCopy) {
        std::memcpy(p, jsonKeys_[c].data(), kKeyCopy);
      } else {
        std::memcpy(p, jsonKeys_[c].data(), keyLengths_[c]);
      }
      p += keyLengths_[c];
    }
    const Cell& cell = cells[c];
    // A terminal is slower than the text path: no fast path needed there.
    if (!cell.logBytes || numeric_[c] || shownCsv_) {
      used_ = static_cast<std::size_t>(p - buffer_.get());
      if (cell.null) {
        if (json) append("null");
      } else if (cell.logBytes) {
        text_.clear();
        utf8_.append(cell.text, text_);
        putText(text_, numeric_[c]);
      } else {
        putText(cell.text, numeric_[c] || cell.number);
      }
      p = roomFor(c + 1);
      continue;
    }
    if (json) *p++ = '"';
    char* const field = p;
    std::uint8_t special = 0;
    p = utf8_.write(p, cell.text, form, special);
    if (csv && (special & Utf8Table::kCsvQuotes) != 0) {
      // Quoted, with its quotes doubled, as appendCsvField writes it.
      p = field;
      *p++ = '"';
      p = utf8_.write(p, cell.text, Utf8Table::kCsvQuoted, special);
      *p++ = '"';
    }
    if (json) *p++ = '"';
  }
  if (json) *p++ = '}';
  // A blank line is no record to CSV readers: a lone empty field is quoted.
  if (csv && p == buffer_.get() + start) {
    *p++ = '"';
    *p++ = '"';
  }
  if (csv) *p++ = '\r';  // RFC 4180 ends records with CR LF
  *p++ = '\n';
  used_ = static_cast<std::size_t>(p - buffer_.get());
  if (used_ >= kWriteSize) writeOut();
}

void StreamPrinter::writeHeader() {
  if (format_ == Format::Jsonl) return;
  const bool csv = format_ == Format::Csv;
  for (std::size_t c = 0; c < names_.size(); ++c) {
    if (c) append(csv ? "," : "\t");
    putEscaped(names_[c]);
  }
  append(csv ? "\r\n" : "\n");
}

void StreamPrinter::printTableBatch() {
  if (batch_.empty()) return;
  printTable(Batch(names_, numeric_, batch_));
  batch_.clear();
  firstBatchDone_ = true;
}

void StreamPrinter::printTable(const RowSource& source) {
  const std::size_t n = source.columns();
  if (source.rows() == 0 || n == 0) return;
  constexpr std::size_t kMaxCellWidth = RowPrinter::kMaxCellWidth;
  std::string cell, shown;
  widths_.resize(n, 0);
  std::vector<std::string> names(n);
  for (std::size_t c = 0; c < n; ++c) {
    appendTableCell(names[c], source.columnName(c));
    cutToWidth(names[c], kMaxCellWidth);
    widths_[c] = std::max(widths_[c], displayWidth(names[c]));
  }
  for (std::size_t r = 0; r < source.rows(); ++r)
    for (std::size_t c = 0; c < n; ++c) {
      source.cell(r, c, cell);
      shown.clear();
      appendTableCell(shown, cell);
      widths_[c] = std::max(widths_[c], std::min(displayWidth(shown), kMaxCellWidth));
    }

  std::string line;
  auto emit = [&](const std::vector<std::string>& texts) {
    line.clear();
    for (std::size_t c = 0; c < n; ++c) {
      if (c) line += "  ";
      const std::size_t pad = widths_[c] - std::min(widths_[c], displayWidth(texts[c]));
      if (source.numeric(c)) line.append(pad, ' ');
      line += texts[c];
      if (!source.numeric(c) && c + 1 < n) line.append(pad, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line.push_back('\n');
    append(line);
    if (used_ >= kWriteSize) writeOut();
  };
  if (!headerDone_) {
    emit(names);
    std::vector<std::string> rule(n);
    for (std::size_t c = 0; c < n; ++c) rule[c].assign(widths_[c], '-');
    emit(rule);
    headerDone_ = true;
  }
  std::vector<std::string> texts(n);
  for (std::size_t r = 0; r < source.rows(); ++r) {
    for (std::size_t c = 0; c < n; ++c) {
      source.cell(r, c, cell);
      texts[c].clear();
      appendTableCell(texts[c], cell);
      if (cutToWidth(texts[c], kMaxCellWidth) && notes_ && !cutSaid_) {
        *notes_ << "velmora: values wider than " << kMaxCellWidth
                << " characters are cut in the table (ending in \u2026); --format csv, tsv or jsonl prints them whole\n";
        cutSaid_ = true;
      }
    }
    emit(texts);
  }
  writeOut();
  out_.flush();
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
    printTable(rows);
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
