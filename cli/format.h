// Printing result rows for people and for other programs: aligned table, CSV
// (RFC 4180), TSV and JSON lines, all UTF-8.
#pragma once

#include <cstddef>
#include <iosfwd>
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

// Prints batches of rows in one format. The header goes out once, just
// before the first row, so a run that finds nothing prints nothing. Later
// batches (a followed log) continue the same output; the table format keeps
// its column widths from batch to batch, widening them when it must.
class RowPrinter {
 public:
  // onTerminal: CSV escapes control characters as the table does (an ESC
  // would drive the terminal); elsewhere CSV keeps the data exact.
  RowPrinter(Format format, std::ostream& out, bool onTerminal = false)
      : format_(format), out_(out), onTerminal_(onTerminal) {}
  void print(const RowSource& source);
  std::size_t printed() const { return printed_; }
  // Where the table says, once, that it cut a value.
  void setNotes(std::ostream* notes) { notes_ = notes; }

  // A table column is at most this wide: a longer value is cut, ending in
  // "…", so one huge value cannot pad every row to its width.
  static constexpr std::size_t kMaxCellWidth = 60;

 private:
  void printTable(const RowSource& source);
  void printDelimited(const RowSource& source);
  void printJsonl(const RowSource& source);

  Format format_;
  std::ostream& out_;
  bool onTerminal_;
  std::ostream* notes_ = nullptr;
  bool cutSaid_ = false;
  bool headerDone_ = false;
  std::size_t printed_ = 0;
  std::vector<std::size_t> widths_;  // table format
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
