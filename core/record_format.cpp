#include "core/record_format.h"

namespace velmora::record {

bool ErrorRule::feed(std::string_view piece) {
  // The fields are found by counting ";" from the 19th byte on: the
  // seventh field lies between the fourth and the fifth.
  while (!piece.empty() && semicolons_ < 5) {
    const auto semicolon = piece.find(';');
    if (semicolons_ == 4) {
      const std::string_view part = piece.substr(0, semicolon);
      if (length_ == 0 && !part.empty()) first_ = part.front();
      length_ += part.size();
    }
    if (semicolon == std::string_view::npos) break;
    ++semicolons_;
    piece.remove_prefix(semicolon + 1);
  }
  return semicolons_ == 5;
}

bool isErrorRecord(std::string_view record) {
  ErrorRule rule;
  if (record.size() > kKeySize) rule.feed(record.substr(kKeySize));
  return rule.errorRecord();
}

}  // namespace velmora::record
