#include "cli/format.h"

#include <algorithm>
#include <ostream>

#include "cli/stream_printer.h"
#include "text/codepage.h"

namespace velmora::cli {

std::optional<Format> parseFormat(std::string_view name) {
  if (name == "table") return Format::Table;
  if (name == "csv") return Format::Csv;
  if (name == "tsv") return Format::Tsv;
  if (name == "jsonl") return Format::Jsonl;
  return std::nullopt;
}

void appendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

namespace {

// The escapes shared by TSV and the table: one record stays one line.
void appendEscaped(std::string& out, std::string_view text, bool escapeBackslash) {
  auto special = [escapeBackslash](char c) {
    return static_cast<unsigned char>(c) < 0x20 || (escapeBackslash && c == '\\');
  };
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t run = i;
    while (run < text.size() && !special(text[run])) ++run;
    out.append(text.substr(i, run - i));  // the common case: the whole cell at once
    if (run == text.size()) break;
    const char c = text[run];
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\x";
        out.push_back(kHex[(c >> 4) & 0xF]);
        out.push_back(kHex[c & 0xF]);
      }
    }
    i = run + 1;
  }
}

}  // namespace

void appendTsvField(std::string& out, std::string_view text) { appendEscaped(out, text, true); }

// In a table a backslash stays itself: paths are common in the log and
// people read them; only line-breaking characters are shown escaped.
void appendTableCell(std::string& out, std::string_view text) { appendEscaped(out, text, false); }

void appendCsvFieldShown(std::string& out, std::string_view text) {
  std::string shown;
  appendTableCell(shown, text);
  appendCsvField(out, shown);
}

void appendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out.push_back(kHex[(c >> 4) & 0xF]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

// -?digits(.digits)?: what JSON accepts as a number and the table writes.
bool isJsonNumber(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && t[i] == '-') ++i;
  const std::size_t digits = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  if (i == digits) return false;
  if (i < t.size() && t[i] == '.') {
    const std::size_t fraction = ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == fraction) return false;
  }
  return i == t.size();
}

std::size_t displayWidth(std::string_view text) {
  std::size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

bool cutToWidth(std::string& text, std::size_t width) {
  if (width == 0 || displayWidth(text) <= width) return false;
  std::size_t kept = 0, at = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && kept++ == width - 1) break;
  }
  text.resize(at);
  text += "\u2026";
  return true;
}

// The rows given here are UTF-8 already; the code page would only decode
// log bytes, which no row source of this printer holds.
RowPrinter::RowPrinter(Format format, std::ostream& out, bool onTerminal)
    : core_(std::make_unique<StreamPrinter>(format, out, CodePage::current(), onTerminal)) {}

RowPrinter::~RowPrinter() = default;

void RowPrinter::print(const RowSource& source) {
  if (source.rows() == 0 || source.columns() == 0) return;
  std::vector<std::string> names;
  std::vector<bool> numeric;
  for (std::size_t c = 0; c < source.columns(); ++c) {
    names.push_back(source.columnName(c));
    numeric.push_back(source.numeric(c));
  }
  core_->setColumns(std::move(names), std::move(numeric));
  core_->printAll(source);
  core_->flush(true);
}

std::size_t RowPrinter::printed() const { return core_->printed(); }

void RowPrinter::setNotes(std::ostream* notes) { core_->setNotes(notes); }

}  // namespace velmora::cli
