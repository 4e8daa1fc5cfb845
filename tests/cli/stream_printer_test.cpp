// StreamPrinter writes log bytes straight into the output formats: the same
// bytes as RowPrinter writes for the decoded texts, in every code page.
#include "cli/stream_printer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/format.h"
#include "cli_support.h"
#include "text/codepage.h"

namespace velmora::cli {
namespace {

using testing::linesOf;

class Texts : public RowSource {
 public:
  Texts(std::vector<std::string> names, std::vector<std::vector<std::string>> rows)
      : names_(std::move(names)), rows_(std::move(rows)) {}
  std::size_t columns() const override { return names_.size(); }
  std::string columnName(std::size_t c) const override { return names_[c]; }
  bool numeric(std::size_t) const override { return false; }
  std::size_t rows() const override { return rows_.size(); }
  void cell(std::size_t r, std::size_t c, std::string& out) const override { out = rows_[r][c]; }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> rows_;
};

TEST(StreamPrinter, LogBytesPrintAsRowPrinterPrintsTheirText) {
  // Every byte value in some cell, among fields that need quoting or
  // escaping in one format or another.
  std::vector<std::string> raw{"", "plain", "a,b", "say \"hi\"", "cr\ronly", "lf\nonly", "tab\there", "back\\slash",
                               std::string("nul\0x", 5), "\x01\x1f\x7f"};
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  raw.push_back(all);
  // Long runs of plain ASCII, broken at every place by one byte to escape.
  for (const char special : {',', '"', '\\', '\t', '\r', '\n', '\x01', '\xC0'}) {
    for (std::size_t at = 0; at < 24; ++at) {
      std::string text = "DocWriteAndRepassed;O/12/000001";
      text[at] = special;
      raw.push_back(text);
    }
  }
  for (int b = 0x80; b < 256; b += 16) raw.push_back(std::string(1, static_cast<char>(b)) + "x" + static_cast<char>(b + 15));

  for (unsigned page : {1251u, 1252u, 866u}) {
    const auto cp = CodePage::make(page);
    for (const Format format : {Format::Csv, Format::Tsv, Format::Jsonl, Format::Table})
    for (const bool terminal : {false, true}) {
      SCOPED_TRACE("code page " + std::to_string(page) + ", format " + std::to_string(static_cast<int>(format)) +
                   (terminal ? ", on a terminal" : ""));
      std::ostringstream streamed, printed;
      StreamPrinter printer(format, streamed, *cp, terminal);
      printer.setColumns({"Поле", "Второе"}, {false, false});
      std::vector<std::vector<std::string>> texts;
      for (const std::string& bytes : raw) {
        const Cell cells[2] = {{bytes, true}, {"текст, \"utf-8\"", false}};
        printer.row(cells);
        texts.push_back({toUtf8(cp->decode(bytes)), "текст, \"utf-8\""});
      }
      printer.flush(true);
      RowPrinter(format, printed, terminal).print(Texts({"Поле", "Второе"}, texts));
      EXPECT_EQ(streamed.str(), printed.str());
      EXPECT_EQ(printer.printed(), raw.size());
      // On a terminal each record is one line free of control characters
      // (an ESC would drive the screen); elsewhere CSV keeps the bytes.
      const std::string& out = streamed.str();
      if (!terminal) {
        if (format == Format::Csv) {
          EXPECT_NE(out.find('\x1b'), std::string::npos);
        }
        continue;
      }
      const std::size_t headers = format == Format::Jsonl ? 0 : format == Format::Table ? 2 : 1;
      std::size_t lines = 0;
      for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        std::string line = out.substr(at, end - at);
        if (format == Format::Csv && !line.empty() && line.back() == '\r') line.pop_back();
        for (const char c : line) {
          const bool separator = format == Format::Tsv && c == '\t';
          EXPECT_TRUE(separator || static_cast<unsigned char>(c) >= 0x20) << "line " << lines;
        }
      }
      EXPECT_EQ(lines, raw.size() + headers);
    }
  }
}

TEST(StreamPrinter, ATableSizesItsColumnsByTheFirstRowsAndThenWidensThem) {
  const auto cp = CodePage::make(1251);
  std::ostringstream out;
  // Rows only decide here, however slowly the test runs.
  StreamPrinter printer(Format::Table, out, *cp, false, std::chrono::hours(1));
  printer.setColumns({"a", "b"}, {false, false});
  std::vector<std::string> keep;
  for (std::size_t k = 0; k < StreamPrinter::kTableBatch + 200; ++k) {
    keep.push_back(k == StreamPrinter::kTableBatch + 100 ? "a much wider cell" : "x" + std::to_string(k % 10));
    const Cell cells[2] = {{keep.back(), false}, {"y", false}};
    printer.row(cells);
    // Nothing goes out before the first batch is complete.
    if (k + 1 < StreamPrinter::kTableBatch) {
      printer.flush(false);
      ASSERT_EQ(out.str(), "") << k;
    }
  }
  printer.flush(true);
  const std::string text = out.str();
  const auto lines = linesOf(text, "\n");
  ASSERT_EQ(lines.size(), StreamPrinter::kTableBatch + 202) << "the header and its rule once, then every row";
  EXPECT_EQ(lines[0], "a   b");
  EXPECT_EQ(lines[2], "x0  y");
  EXPECT_EQ(lines[StreamPrinter::kTableBatch + 102], "a much wider cell  y");
  EXPECT_EQ(lines[StreamPrinter::kTableBatch + 103], "x1                 y") << "later rows keep the wider column";
}

}  // namespace
}  // namespace velmora::cli
