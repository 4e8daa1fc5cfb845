#include "cli/html.h"

#include <cstdint>

namespace velmora::cli {

void appendHtml(std::string& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '"': out += "&quot;"; continue;
      case '\'': out += "&#39;"; continue;
      default: break;
    }
    if (c < 0x20) {
      // U+2400 + c: the control picture, three bytes of UTF-8.
      const unsigned picture = 0x2400 + c;
      out.push_back(static_cast<char>(0xE0 | (picture >> 12)));
      out.push_back(static_cast<char>(0x80 | ((picture >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (picture & 0x3F)));
    } else if (c == 0x7F) {
      out += "\u2421";
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      out += "\uFFFD";  // U+0080..U+009F
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

std::string html(std::string_view utf8) {
  std::string out;
  appendHtml(out, utf8);
  return out;
}

std::string groupedNumber(std::uint64_t value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += "\u202F";
    out.push_back(digits[i]);
  }
  return out;
}

}  // namespace velmora::cli
