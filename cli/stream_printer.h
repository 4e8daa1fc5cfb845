// The printer of every output format: rows as they arrive, and rows held
// whole (RowPrinter in format.h is its adapter for a RowSource). A cell may
// still be log bytes, which go from the code page to UTF-8 and through the
// format's escaping in one pass, so that a row costs no conversion of its own.
//
// The header goes out once, just before the first row, so a run that finds
// nothing prints nothing. The table format sizes its columns by a batch of
// rows held back; widths only grow from batch to batch, and a cell is cut at
// RowPrinter::kMaxCellWidth, ending in "…" (said once on the notes stream).
#pragma once

#include <array>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/format.h"

namespace velmora {
class CodePage;
}

namespace velmora::cli {

// A cell of a row: log bytes in the log's code page, or UTF-8 text. A
// value of a typed source (SQL) may say what it is, whatever its column:
// a number (JSON prints it bare) or NULL (JSON null; empty elsewhere).
struct Cell {
  std::string_view text;
  bool logBytes = true;
  bool number = false;
  bool null = false;
};

// Log bytes to UTF-8, and to UTF-8 escaped as each format escapes it,
// through tables made once for the code page: a byte costs one lookup and
// one copy whatever the format.
class Utf8Table {
 public:
  enum Form : std::uint8_t {
    kPlain,      // UTF-8 as it is
    kCsvQuoted,  // inside CSV quotes: a quote doubled
    kTsv,        // TSV: controls and the backslash escaped
    kJson,       // inside a JSON string
    kForms
  };
  // Flags of the bytes that make CSV quote a field.
  static constexpr std::uint8_t kCsvQuotes = 1;
  // The most bytes one log byte becomes (\u00XX in JSON).
  static constexpr std::size_t kMostPerByte = 6;

  explicit Utf8Table(const CodePage& cp);
  void append(std::string_view bytes, std::string& out) const;
  // Writes bytes in the form at p, which has room for kMostPerByte bytes a
  // byte and 8 more; returns the end. special collects the bytes' flags.
  char* write(char* p, std::string_view bytes, Form form, std::uint8_t& special) const {
    const char* s = bytes.data();
    const char* const end = s + bytes.size();
    const Unit* const units = units_[form].data();
    std::uint8_t seen = 0;
    auto one = [&] {
      const auto b = static_cast<unsigned char>(*s++);
      // Eight bytes at once, whatever the length: the room allows it, and
      // the next write covers the extra ones.
      std::memcpy(p, &units[b], 8);
      p += units[b].length;
      seen |= special_[b];
    };
    // Runs of eight plain ASCII bytes (codes, dates, numbers) are copied as
    // they are; any other eight go byte by byte.
    while (end - s >= 8) {
      std::uint64_t v;
      std::memcpy(&v, s, 8);
      if (plainAscii(v)) {
        std::memcpy(p, s, 8);
        p += 8;
        s += 8;
      } else {
        for (int k = 0; k < 8; ++k) one();
      }
    }
    while (s < end) one();
    special |= seen;
    return p;
  }

 private:
  // Eight ASCII bytes that no format changes: none below 0x20, none of
  // " \ , and none with the high bit.
  static bool plainAscii(std::uint64_t v) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    auto hasZero = [](std::uint64_t x) { return ((x - kOnes) & ~x & kHighs) != 0; };
    if ((v & kHighs) != 0) return false;
    if (((v - kOnes * 0x20) & ~v & kHighs) != 0) return false;  // a control character
    return !hasZero(v ^ (kOnes * '"')) && !hasZero(v ^ (kOnes * '\\')) && !hasZero(v ^ (kOnes * ','));
  }
  struct Unit {
    char bytes[7];
    std::uint8_t length;
  };
  std::array<std::array<Unit, 256>, kForms> units_{};
  std::array<std::uint8_t, 256> special_{};
};

class StreamPrinter {
 public:
  // The table format holds back its first rows, up to this many or this
  // long, to size its columns; later rows widen them only when they must.
  static constexpr std::size_t kTableBatch = 1000;
  static constexpr std::chrono::milliseconds kTableWait{1000};

  // onTerminal: CSV escapes control characters as the table does (an ESC
  // would drive the terminal); elsewhere CSV keeps the data exact.
  StreamPrinter(Format format, std::ostream& out, const CodePage& cp, bool onTerminal = false,
                std::chrono::steady_clock::duration tableWait = kTableWait);
  ~StreamPrinter();
  StreamPrinter(const StreamPrinter&) = delete;
  StreamPrinter& operator=(const StreamPrinter&) = delete;

  // Column names (UTF-8) and which columns hold numbers; set before the
  // first row. The header goes out just before the first row.
  void setColumns(std::vector<std::string> names, std::vector<bool> numeric);
  void row(const Cell* cells);
  // Rows held until the end (sorted or grouped), UTF-8; a table sizes its
  // columns by all of them.
  void printAll(const RowSource& rows);
  // Hands the rows so far to the stream; a table's first rows only once
  // their batch is complete, unless final.
  void flush(bool final);
  std::size_t printed() const { return printed_; }
  // Where the table says, once, that it cut a value.
  void setNotes(std::ostream* notes) { notes_ = notes; }

 private:
  void putText(std::string_view utf8, bool numeric);
  void putEscaped(std::string_view utf8);  // a field in the format's escaped form
  // Space for n more bytes of output.
  char* room(std::size_t n) {
    if (capacity_ - used_ < n) grow(n);
    return buffer_.get() + used_;
  }
  void grow(std::size_t n);
  void append(std::string_view bytes);
  void writeHeader();
  void writeOut();
  void printTableBatch();
  void printTable(const RowSource& rows);

  Format format_;
  std::ostream& out_;
  bool shownCsv_;  // CSV on a terminal: every field through appendCsvFieldShown
  Utf8Table utf8_;
  std::vector<std::string> names_;
  std::vector<bool> numeric_;
  static constexpr std::size_t kKeyCopy = 48;
  std::vector<std::string> jsonKeys_;  // "name": and blanks up to kKeyCopy bytes
  std::vector<std::size_t> keyLengths_;
  bool headerDone_ = false;
  std::size_t printed_ = 0;

  // Formatted output not yet handed to the stream.
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0, used_ = 0;
  std::string scratch_, text_;  // for cells that need escaping

  // table format
  std::vector<std::size_t> widths_;
  std::ostream* notes_ = nullptr;
  bool cutSaid_ = false;
  std::vector<std::vector<std::string>> batch_;
  bool firstBatchDone_ = false;
  std::chrono::steady_clock::duration tableWait_;
  std::chrono::steady_clock::time_point batchStart_;
};

}  // namespace velmora::cli
