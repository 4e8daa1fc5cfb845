// The period of the script class: SetDateTimes, and the tool's own way to
// set it (keys as bytes, without the year bound that SetDateTimes keeps for
// scripts).
#include "core/lines.h"
#include "core/period.h"
#include "script/journal.h"

namespace velmora {

bool Journal::SetDateTimes(U16View Date1, U16View Time1, U16View Date2, U16View Time2) {
  const auto keys = periodKeys(Date1, Time1, Date2, Time2);
  if (!keys) return false;
  DateBeginBytes_ = keys->begin;
  DateEndBytes_ = keys->end;
  DateBegin_.assign(keys->begin.begin(), keys->begin.end());
  DateEnd_.assign(keys->end.begin(), keys->end.end());
  readerStale_ = true;
  return true;
}


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
