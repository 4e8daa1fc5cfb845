// A UTF-8 text as a JSON string, quotes included.
#pragma once

#include <string>
#include <string_view>

namespace velmora::serve {

inline void appendJsonString(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out.push_back('"');
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20) {
      out += "\\u00";
      out.push_back(hex[b >> 4]);
      out.push_back(hex[b & 15]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

}  // namespace velmora::serve
