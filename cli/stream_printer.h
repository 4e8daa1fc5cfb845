// Rows printed as they arrive: the streaming counterpart of RowPrinter
// (format.h), writing the same bytes for the same cells. A cell may still be
// log bytes, which go from the code page to UTF-8 and through the format's
// escaping in one pass, so that a row costs no conversion of its own.
#pragma once

#include <array>
#include <chrono>
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

// A cell of a row: log bytes in the log's code page, or UTF-8 text.
struct Cell {
  std::string_view text;
  bool logBytes = true;
};

// Log bytes to UTF-8, through a table made once for the code page.
class Utf8Table {
 public:
  explicit Utf8Table(const CodePage& cp);
  void append(std::string_view bytes, std::string& out) const;
  // Writes the UTF-8 of bytes at p, which has room for 3 bytes per byte and
  // one more; returns the end. special collects the flags of the bytes.
  char* write(char* p, std::string_view bytes, std::uint8_t& special) const;
  // Flags of the bytes that a format must escape.
  static constexpr std::uint8_t kCsv = 1, kTsv = 2, kJson = 4;

 private:
  struct Unit {
    char bytes[3];
    std::uint8_t length;
  };
  std::array<Unit, 256> units_{};
  std::array<std::uint8_t, 256> special_{};
};

class StreamPrinter {
 public:
  // The table format holds back its first rows, up to this many or this
  // long, to size its columns; later rows widen them only when they must.
  static constexpr std::size_t kTableBatch = 1000;
  static constexpr std::chrono::milliseconds kTableWait{1000};

  StreamPrinter(Format format, std::ostream& out, const CodePage& cp,
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

 private:
  void putCell(const Cell& cell, bool numeric);
  void putText(std::string_view utf8, bool numeric);
  void putEscaped(std::string_view utf8);  // a field in the format's escaped form
  char* room(std::size_t n);               // space for n more bytes of output
  void append(std::string_view bytes);
  void writeOut();
  void printTableBatch();

  Format format_;
  std::ostream& out_;
  Utf8Table utf8_;
  std::vector<std::string> names_;
  std::vector<bool> numeric_;
  std::vector<std::string> jsonKeys_;  // "name":
  bool headerDone_ = false;
  std::size_t printed_ = 0;

  // Formatted output not yet handed to the stream.
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0, used_ = 0;
  std::string scratch_, text_;  // for cells that need escaping

  // table format
  std::unique_ptr<RowPrinter> table_;
  std::vector<std::vector<std::string>> batch_;
  bool firstBatchDone_ = false;
  std::chrono::steady_clock::duration tableWait_;
  std::chrono::steady_clock::time_point batchStart_;
};

}  // namespace velmora::cli
