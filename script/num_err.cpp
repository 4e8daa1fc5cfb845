// The error path shared by the methods that trap their own errors
// (GetData, GetUsers, StoreErrRows, ReplaceDateTimes).
#include "script/num_err.h"

#include <array>
#include <limits>
#include <new>
#include <string>

#include "core/failure.h"
#include "script/journal.h"
#include "core/log_tasks.h"

namespace velmora {

namespace {

struct ScriptWords {
  ErrorNumber number;
  U16View reason;  // after "<action> \"path\": " for a file kind
};

// In the order of FailureKind.
constexpr std::array<ScriptWords, kFailureKinds> kWords = {{
    {ErrorNumber::FileNotFound, u"файл не найден"},
    {ErrorNumber::PathNotFound, u"путь не найден"},
    {ErrorNumber::PermissionDenied, u"нет доступа"},
    {ErrorNumber::PermissionDenied, u"файл занят другой программой"},
    {ErrorNumber::TooManyFiles, u"открыто слишком много файлов"},
    {ErrorNumber::DiskFull, u"на диске нет места"},
    {ErrorNumber::DeviceIo, u"ошибка ввода-вывода"},
    {ErrorNumber::PathFileAccess, u"это папка, а не файл"},
    {ErrorNumber::PathFileAccess, u"системная ошибка"},
    {ErrorNumber::DeviceIo, u"неверная позиция чтения"},
    {ErrorNumber::DeviceIo, u""},
    {ErrorNumber::OutOfMemory, u"Недостаточно памяти"},
    {ErrorNumber::OutOfMemory, u""},
    {ErrorNumber::Overflow, u""},
    {ErrorNumber::Overflow, u""},
    {ErrorNumber::InternalError, u"Внутренняя ошибка"},
    {ErrorNumber::AutomationError, u"Ошибка при обращении к объекту системы"},
}};

constexpr std::array<U16View, 5> kActions = {u"", u"Не удалось открыть для чтения файл \"",
                                             u"Не удалось открыть для записи файл \"", u"Ошибка чтения файла \"",
                                             u"Ошибка записи в файл \""};

U16String decimal(long long value) {
  const std::string digits = std::to_string(value);
  return U16String(digits.begin(), digits.end());
}

}  // namespace

std::int16_t numErr(const Failure& f) {
  // A file that vanishes while a copy is created means its folder is gone.
  if (f.kind() == FailureKind::NotFound && f.action() == FileAction::OpenWrite) {
    return static_cast<std::int16_t>(ErrorNumber::PathNotFound);
  }
  if (f.kind() == FailureKind::Host) return foldErrorNumber(static_cast<std::int32_t>(f.code()));
  return static_cast<std::int16_t>(kWords[static_cast<std::size_t>(f.kind())].number);
}

U16String textErr(const Failure& f) {
  const U16View reason = kWords[static_cast<std::size_t>(f.kind())].reason;
  U16String text;
  switch (f.kind()) {
    case FailureKind::LogCut:
      return u"Файл \"" + f.path() + u"\" стал короче во время чтения; копия не закончена";
    case FailureKind::ListTooLarge:
      return u"Список замен \"" + f.path() + u"\" слишком велик";
    case FailureKind::ResultOverflow:
      return u"Результат " + decimal(f.code()) + u" не помещается в 32-битное целое: файл \"" + f.path() +
             u"\" длиннее 2 ГБ";
    case FailureKind::LineOverflow:
      return u"Номер записи в строке " + decimal(f.code()) + u" файла \"" + f.path() +
             u"\" не помещается в 32-битное целое";
    case FailureKind::OutOfMemory:
      return U16String(reason);
    case FailureKind::Internal:
      return f.detail().empty() ? U16String(reason) : U16String(reason) + u": " + f.detail();
    case FailureKind::Host:
      return f.detail().empty() ? U16String(reason) : f.detail();
    default:
      break;
  }
  text = kActions[static_cast<std::size_t>(f.action())];
  text.append(f.path());
  text.append(u"\": ");
  text.append(reason);
  const ErrorNumber number = kWords[static_cast<std::size_t>(f.kind())].number;
  if (f.code() != 0 && (number == ErrorNumber::PathFileAccess || number == ErrorNumber::DeviceIo)) {
    text.append(u" (код ");
    text.append(decimal(f.code()));
    text.append(u")");
  }
  return text;
}

std::int32_t scriptResult(std::int64_t value, U16View path) {
  if (value <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(value);
  throw Failure(FailureKind::ResultOverflow, U16String(path), value);
}

void Journal::keepTaskStats(const TaskStats& stats) {
  if (stats.logSize >= 0) MyFileSize_ = stats.logSize;
}

std::int32_t Journal::failCurrent() {
  // The log is closed on every error path; rows or list items already
  // written stay where they are.
  try {
    throw;
  } catch (const HostError& e) {
    const Failure f(FailureKind::Host, {}, e.number(), FileAction::None, e.description());
    fail(numErr(f), textErr(f));
  } catch (...) {
    const Failure f = currentFailure();
    fail(numErr(f), textErr(f));
  }
  return -1;
}

}  // namespace velmora
