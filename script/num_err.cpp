// The error path shared by the methods that trap their own errors
// (GetData, GetUsers, StoreErrRows, ReplaceDateTimes).
#include "script/num_err.h"

#include <limits>
#include <new>
#include <string>

#include "core/failure.h"
#include "script/journal.h"
#include "script/log_tasks.h"

namespace velmora {

std::int16_t foldErrorNumber(std::int32_t number) {
  if (number >= -32768 && number <= 32767) return static_cast<std::int16_t>(number);
  // A script error wrapped in an HRESULT: facility "control", severity set.
  const auto bits = static_cast<std::uint32_t>(number);
  if ((bits & 0xFFFF0000u) == 0x800A0000u && (bits & 0xFFFFu) <= 0x7FFFu) {
    return static_cast<std::int16_t>(bits & 0xFFFFu);
  }
  return static_cast<std::int16_t>(ErrorNumber::AutomationError);
}


std::int32_t scriptResult(std::int64_t value, U16View path) {
  if (value <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(value);
  const std::string digits = std::to_string(value);
  U16String text = u"Результат ";
  text.append(digits.begin(), digits.end());
  text.append(u" не помещается в 32-битное целое: файл \"");
  text.append(path);
  text.append(u"\" длиннее 2 ГБ");
  throw Failure(ErrorNumber::Overflow, std::move(text));
}

void Journal::endCall() {
  // Fields point into a window of the last call; none may outlive it.
  Fields_.fill({});
}

void Journal::keepTaskStats(const TaskStats& stats) {
  endCall();
  if (stats.logSize >= 0) MyFileSize_ = stats.logSize;
  windowReads_ += stats.windows;
}

std::int32_t Journal::failCurrent() {
  // The log is closed on every error path; rows or list items already
  // written stay where they are.
  endCall();
  try {
    throw;
  } catch (const HostError& e) {
    U16String text = e.description();
    if (text.empty()) text = u"Ошибка при обращении к объекту системы";
    fail(foldErrorNumber(e.number()), std::move(text));
  } catch (...) {
    const Failure f = currentFailure();
    fail(f.number(), f.text());
  }
  return -1;
}

}  // namespace velmora
