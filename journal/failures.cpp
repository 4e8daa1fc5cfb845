// The error path shared by the methods that trap their own errors
// (GetData, GetUsers, StoreErrRows, ReplaceDateTimes).
#include "journal/failures.h"

#include <limits>
#include <new>
#include <string>

#include "journal/errors.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/log_tasks.h"

namespace velmora {

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

void throwLogCut(U16View path) {
  U16String text = u"Файл \"";
  text.append(path);
  text.append(u"\" стал короче во время чтения; копия не закончена");
  throw Failure(ErrorNumber::DeviceIo, std::move(text));
}

std::int32_t Journal::failCurrent() {
  // The log is closed on every error path; rows or list items already
  // written stay where they are.
  endCall();
  try {
    throw;
  } catch (const Failure& f) {
    fail(f.number(), f.text());
  } catch (const HostError& e) {
    U16String text = e.description();
    if (text.empty()) text = u"Ошибка при обращении к объекту системы";
    fail(foldErrorNumber(e.number()), std::move(text));
  } catch (const std::bad_alloc&) {
    fail(static_cast<std::int16_t>(ErrorNumber::OutOfMemory), u"Недостаточно памяти");
  } catch (const std::exception& e) {
    U16String text = u"Внутренняя ошибка: ";
    text.append(fromUtf8(e.what()));
    fail(static_cast<std::int16_t>(ErrorNumber::InternalError), std::move(text));
  } catch (...) {
    fail(static_cast<std::int16_t>(ErrorNumber::InternalError), u"Внутренняя ошибка");
  }
  return -1;
}

}  // namespace velmora
