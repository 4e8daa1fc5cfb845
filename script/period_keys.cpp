// The period of the script class: SetDateTimes.
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

}  // namespace velmora
