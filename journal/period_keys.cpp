// The tool's own way to set the period: keys as bytes, without the year
// bound that SetDateTimes keeps for scripts.
#include "journal/journal.h"
#include "journal/lines.h"

namespace velmora {

bool Journal::SetPeriodKeys(std::string_view begin, std::string_view end) {
  if (begin.size() != lines::kKeySize || end.size() != lines::kKeySize || begin > end) return false;
  DateBeginBytes_.assign(begin);
  DateEndBytes_.assign(end);
  // Byte by byte, as the log's single-byte text reads; only the lengths
  // matter to the script-facing copies of tool-made keys.
  auto widen = [](std::string_view bytes) {
    U16String out;
    for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
  };
  DateBegin_ = widen(begin);
  DateEnd_ = widen(end);
  readerStale_ = true;
  return true;
}

}  // namespace velmora
