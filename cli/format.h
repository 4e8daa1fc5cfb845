// Printing result rows for people and for other programs: aligned table, CSV
// (RFC 4180), TSV and JSON lines, all UTF-8.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

enum class Format { Table, Csv, Tsv, Jsonl };

std::optional<Format> parseFormat(std::string_view name);  // "table", "csv", "tsv", "jsonl"

// Rows to print, seen column by column; cell texts are UTF-8.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual std::size_t columns() const = 0;
  virtual std::string columnName(std::size_t column) const = 0;
  // Numeric columns print as numbers (unquoted in JSON, right-aligned).
  virtual bool numeric(std::size_t column) const = 0;
  virtual std::size_t rows() const = 0;
  virtual void cell(std::size_t row, std::size_t column, std::string& out) const = 0;
};

class StreamPrinter;

// Prints batches of rows held in a RowSource, through the one printer of
// every format (stream_printer.h). Later batches (a followed log) continue
// the same output; each batch is sized and written whole.
class RowPrinter {
 public:
  // onTerminal: CSV escapes control characters as the table does.
  RowPrinter(Format format, std::ostream& out, bool onTerminal = false);
  ~RowPrinter();
  RowPrinter(const RowPrinter&) = delete;
  RowPrinter& operator=(const RowPrinter&) = delete;
  void print(const RowSource& source);
  std::size_t printed() const;
  // Where the table says, once, that it cut a value.
  void setNotes(std::ostream* notes);

  // A table column is at most this wide: a longer value is cut, ending in
  // "…", so one huge value cannot pad every row to its width.
  static constexpr std::size_t kMaxCellWidth = 60;

 private:
  std::unique_ptr<StreamPrinter> core_;
};

// Field encodings, exposed for tests.
void appendCsvField(std::string& out, std::string_view text);
// A CSV field for the screen: control characters escaped as in a table cell.
void appendCsvFieldShown(std::string& out, std::string_view text);
void appendTsvField(std::string& out, std::string_view text);   // \t \n \r \\ escaped
void appendJsonString(std::string& out, std::string_view text);
// A table cell on one line: control characters escaped as in TSV.
void appendTableCell(std::string& out, std::string_view text);
// Characters on screen of UTF-8 text (code points; combining marks aside).
std::size_t displayWidth(std::string_view text);
// Cuts UTF-8 text wider than width to width characters, the last one "…";
// true if it cut.
bool cutToWidth(std::string& text, std::size_t width);
// -?digits(.digits)?: what JSON accepts as a number (and the table aligns
// right); a number column's other texts print as strings.
bool isJsonNumber(std::string_view text);

}  // namespace velmora::cli
