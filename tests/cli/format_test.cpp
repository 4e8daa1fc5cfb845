#include "cli/format.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"

namespace velmora::cli {
namespace {

using velmora::testing::linesOf;
using velmora::testing::parseCsv;
using velmora::testing::splitOn;

class Rows : public RowSource {
 public:
  Rows(std::vector<std::string> names, std::vector<std::vector<std::string>> cells, std::vector<bool> numeric = {})
      : names_(std::move(names)), cells_(std::move(cells)), numeric_(std::move(numeric)) {
    numeric_.resize(names_.size(), false);
  }
  std::size_t columns() const override { return names_.size(); }
  std::string columnName(std::size_t c) const override { return names_[c]; }
  bool numeric(std::size_t c) const override { return numeric_[c]; }
  std::size_t rows() const override { return cells_.size(); }
  void cell(std::size_t r, std::size_t c, std::string& out) const override { out = cells_[r][c]; }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> cells_;
  std::vector<bool> numeric_;
};

std::string print(Format format, const std::vector<const RowSource*>& batches) {
  std::ostringstream out;
  RowPrinter printer(format, out);
  for (const RowSource* b : batches) printer.print(*b);
  return out.str();
}

const std::vector<std::string> kAwkward{
    "plain", "a,b", "say \"hi\"", "line\nbreak", "cr\ronly", "crlf\r\nboth", "", "Комментарий; с точкой, и \"кавычкой\"",
};

TEST(CsvFormat, FieldsWithQuotesCommasAndLineBreaksReadBackUnchanged) {
  std::vector<std::vector<std::string>> cells;
  for (const auto& text : kAwkward) cells.push_back({text, "x"});
  Rows rows({"Комментарий", "b"}, cells);
  const std::string csv = print(Format::Csv, {&rows});
  const auto records = parseCsv(csv);
  ASSERT_EQ(records.size(), kAwkward.size() + 1);
  EXPECT_EQ(records[0], (std::vector<std::string>{"Комментарий", "b"}));
  for (std::size_t i = 0; i < kAwkward.size(); ++i) EXPECT_EQ(records[i + 1][0], kAwkward[i]) << i;
  EXPECT_NE(csv.find("plain,x\r\n"), std::string::npos) << "plain fields stay unquoted, records end with CR LF";
  EXPECT_NE(csv.find("\"say \"\"hi\"\"\",x"), std::string::npos) << "quotes are doubled inside quotes";
}

TEST(CsvFormat, EachFieldEncodingByItself) {
  std::string out;
  appendCsvField(out, "a,b");
  EXPECT_EQ(out, "\"a,b\"");
  out.clear();
  appendCsvField(out, "x\ny");
  EXPECT_EQ(out, "\"x\ny\"");
  out.clear();
  appendCsvField(out, "\"");
  EXPECT_EQ(out, "\"\"\"\"");
  out.clear();
  appendCsvField(out, "Иванов Н.П.");
  EXPECT_EQ(out, "Иванов Н.П.");
}

TEST(CsvFormat, HeaderOnceAndNothingForEmptyBatches) {
  Rows empty({"a", "b"}, {});
  Rows one({"a", "b"}, {{"1", "2"}});
  EXPECT_EQ(print(Format::Csv, {&empty}), "");
  EXPECT_EQ(print(Format::Csv, {&empty, &one, &empty, &one}), "a,b\r\n1,2\r\n1,2\r\n");
}

TEST(TsvFormat, EscapesKeepOneRecordPerLine) {
  std::vector<std::vector<std::string>> cells;
  for (const auto& text : kAwkward) cells.push_back({text, "tab\there", "back\\slash"});
  Rows rows({"a", "b", "c"}, cells);
  const std::string tsv = print(Format::Tsv, {&rows});
  const auto lines = linesOf(tsv, "\n");
  ASSERT_EQ(lines.size(), kAwkward.size() + 1);
  for (auto line : lines) {
    EXPECT_EQ(splitOn(line, '\t').size(), 3u) << line;
    EXPECT_EQ(line.find('\r'), std::string_view::npos);
  }
  EXPECT_EQ(lines[4], "line\\nbreak\ttab\\there\tback\\\\slash");
  EXPECT_EQ(lines[6], "crlf\\r\\nboth\ttab\\there\tback\\\\slash");
}

TEST(JsonlFormat, EscapesTextAndWritesCountsAsNumbers) {
  Rows rows({"Пользователь", "Чис"},
            {{"Иванов \"И\" \\ C:\\Обмен", "12"}, {std::string("ctl\x01") + "\n", "7"}, {"x", "not a number"}},
            {false, true});
  const std::string text = print(Format::Jsonl, {&rows});
  const auto lines = linesOf(text, "\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "{\"Пользователь\":\"Иванов \\\"И\\\" \\\\ C:\\\\Обмен\",\"Чис\":12}");
  EXPECT_EQ(lines[1], "{\"Пользователь\":\"ctl\\u0001\\n\",\"Чис\":7}");
  EXPECT_EQ(lines[2], "{\"Пользователь\":\"x\",\"Чис\":\"not a number\"}");
}

TEST(TableFormat, AlignsByCharactersNotBytes) {
  Rows rows({"Пользователь", "Действие", "Чис"},
            {{"Иванова Н.П.", "DocWrite", "3"}, {"Li", "Документ записан", "120"}}, {false, false, true});
  const std::string text = print(Format::Table, {&rows});
  const auto lines = linesOf(text, "\n");
  ASSERT_EQ(lines.size(), 4u);
  // The second column starts at the same character in every line.
  const std::size_t at = displayWidth(lines[0].substr(0, lines[0].find("Действие")));
  EXPECT_EQ(displayWidth(lines[2].substr(0, lines[2].find("DocWrite"))), at);
  EXPECT_EQ(displayWidth(lines[3].substr(0, lines[3].find("Документ"))), at);
  EXPECT_EQ(at, displayWidth("Пользователь") + 2);
  // Counts are right-aligned: every line ends at the same character.
  EXPECT_EQ(displayWidth(lines[2]), displayWidth(lines[3]));
  EXPECT_EQ(lines[2].substr(lines[2].size() - 3), "  3");
  EXPECT_EQ(lines[1].find_first_not_of("- "), std::string_view::npos) << "a rule under the header";
}

TEST(TableFormat, CellsStayOnOneLineAndWidthsOnlyGrow) {
  Rows first({"a", "b"}, {{"x", "line\nbreak"}});
  Rows wider({"a", "b"}, {{"wider text", "y"}});
  Rows narrow({"a", "b"}, {{"z", "w"}});
  const std::string text = print(Format::Table, {&first, &wider, &narrow});
  const auto lines = linesOf(text, "\n");
  ASSERT_EQ(lines.size(), 5u) << "header and rule once, then one line per row";
  EXPECT_EQ(lines[2], "x  line\\nbreak");
  EXPECT_EQ(lines[3], "wider text  y");
  EXPECT_EQ(lines[4], "z           w") << "the widened column stays wide";

  // A huge value is cut to the cap, with a mark and one note of how to get
  // it whole; it pads no row beyond the cap.
  std::string huge;
  for (int i = 0; i < 100000; ++i) huge += "Ёж";
  Rows big({"a", "b"}, {{huge, "y"}, {huge, "y"}});
  std::ostringstream out, notes;
  RowPrinter printer(Format::Table, out);
  printer.setNotes(&notes);
  printer.print(first);
  printer.print(big);
  const std::string printed = out.str();  // the lines are views into it
  const auto cut = linesOf(printed, "\n");
  ASSERT_EQ(cut.size(), 5u);
  const std::size_t most = RowPrinter::kMaxCellWidth + 2 + 1;
  for (const auto& line : cut) EXPECT_LE(displayWidth(line), most) << line.substr(0, 80);
  EXPECT_EQ(cut[3], huge.substr(0, (RowPrinter::kMaxCellWidth - 1) * 2) + "\u2026  y");
  EXPECT_EQ(notes.str().find("--format csv"), notes.str().rfind("--format csv")) << "said once";
  EXPECT_NE(notes.str().find("--format csv"), std::string::npos);
}

TEST(Formats, NamesAndWidths) {
  EXPECT_EQ(parseFormat("csv"), Format::Csv);
  EXPECT_EQ(parseFormat("jsonl"), Format::Jsonl);
  EXPECT_FALSE(parseFormat("CSV").has_value());
  EXPECT_FALSE(parseFormat("xml").has_value());
  EXPECT_EQ(displayWidth("Ёлкин"), 5u);
  EXPECT_EQ(displayWidth(""), 0u);
}

}  // namespace
}  // namespace velmora::cli
