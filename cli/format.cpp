#include "cli/format.h"

#include <algorithm>
#include <ostream>

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

void RowPrinter::print(const RowSource& source) {
  if (source.rows() == 0 || source.columns() == 0) return;
  switch (format_) {
    case Format::Table: printTable(source); break;
    case Format::Csv:
    case Format::Tsv: printDelimited(source); break;
    case Format::Jsonl: printJsonl(source); break;
  }
  printed_ += source.rows();
  out_.flush();
}

void RowPrinter::printDelimited(const RowSource& source) {
  const bool csv = format_ == Format::Csv;
  const char* const end = csv ? "\r\n" : "\n";  // RFC 4180 ends records with CR LF
  const char separator = csv ? ',' : '\t';
  const auto append = !csv ? appendTsvField : onTerminal_ ? appendCsvFieldShown : appendCsvField;
  std::string line, cell;
  if (!headerDone_) {
    for (std::size_t c = 0; c < source.columns(); ++c) {
      if (c) line.push_back(separator);
      append(line, source.columnName(c));
    }
    line += end;
    out_ << line;
    headerDone_ = true;
  }
  for (std::size_t r = 0; r < source.rows(); ++r) {
    line.clear();
    for (std::size_t c = 0; c < source.columns(); ++c) {
      if (c) line.push_back(separator);
      source.cell(r, c, cell);
      append(line, cell);
    }
    // A blank line is no record to CSV readers: a lone empty field is quoted.
    if (csv && line.empty()) line = "\"\"";
    line += end;
    out_ << line;
  }
}

void RowPrinter::printJsonl(const RowSource& source) {
  std::vector<std::string> keys;
  for (std::size_t c = 0; c < source.columns(); ++c) {
    keys.emplace_back();
    appendJsonString(keys.back(), source.columnName(c));
    keys.back().push_back(':');
  }
  std::string line, cell;
  for (std::size_t r = 0; r < source.rows(); ++r) {
    line.clear();
    line.push_back('{');
    for (std::size_t c = 0; c < source.columns(); ++c) {
      if (c) line.push_back(',');
      line += keys[c];
      source.cell(r, c, cell);
      // A number column holds numbers; anything else there still prints as text.
      if (source.numeric(c) && isJsonNumber(cell)) line += cell;
      else appendJsonString(line, cell);
    }
    line += "}\n";
    out_ << line;
  }
  headerDone_ = true;
}

void RowPrinter::printTable(const RowSource& source) {
  const std::size_t n = source.columns();
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
    out_ << line;
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
}

}  // namespace velmora::cli
