#include <gtest/gtest.h>

#include "core/failure.h"
#include "script/num_err.h"
#include "log_builder.h"

namespace velmora {
namespace {

// Every kind, with a path, as the script and the tool render it.
TEST(FailureRendering, EachKindHasItsNumberARussianTextAndAnEnglishOneNamingTheFile) {
  struct Case {
    FailureKind kind;
    FileAction action;
    std::int64_t code;
    ErrorNumber number;
    const char* russian;  // a piece of TextErr
    const char* english;  // a piece of the tool's text
  };
  const Case cases[] = {
      {FailureKind::NotFound, FileAction::OpenRead, 2, ErrorNumber::FileNotFound, "не найден", "not found"},
      {FailureKind::NotFound, FileAction::OpenWrite, 2, ErrorNumber::PathNotFound, "для записи", "cannot create"},
      {FailureKind::PathNotFound, FileAction::OpenWrite, 2, ErrorNumber::PathNotFound, "путь", "path not found"},
      {FailureKind::PermissionDenied, FileAction::OpenRead, 13, ErrorNumber::PermissionDenied, "нет доступа",
       "permission denied"},
      {FailureKind::Busy, FileAction::OpenWrite, 26, ErrorNumber::PermissionDenied, "занят", "in use"},
      {FailureKind::TooManyFiles, FileAction::OpenRead, 24, ErrorNumber::TooManyFiles, "много", "too many"},
      {FailureKind::DiskFull, FileAction::Write, 28, ErrorNumber::DiskFull, "нет места", "disk full"},
      {FailureKind::Io, FileAction::Read, 5, ErrorNumber::DeviceIo, "(код 5)", "input/output error"},
      {FailureKind::IsFolder, FileAction::OpenWrite, 21, ErrorNumber::PathFileAccess, "папка", "folder"},
      {FailureKind::System, FileAction::Write, 9, ErrorNumber::PathFileAccess, "(код 9)", "system error"},
      {FailureKind::BadPosition, FileAction::Read, -1, ErrorNumber::DeviceIo, "позиция", "position"},
      {FailureKind::LogCut, FileAction::None, 0, ErrorNumber::DeviceIo, "короче", "shorter"},
      {FailureKind::ListTooLarge, FileAction::None, 0, ErrorNumber::OutOfMemory, "велик", "too large"},
      {FailureKind::ResultOverflow, FileAction::None, 3000000000, ErrorNumber::Overflow, "3000000000", "3000000000"},
      {FailureKind::LineOverflow, FileAction::None, 7, ErrorNumber::Overflow, "строке 7", "line 7"},
  };
  for (const Case& c : cases) {
    const Failure f(c.kind, u"C:\\Base\\Logs\\events.log", c.code, c.action);
    SCOPED_TRACE(describe(f));
    EXPECT_EQ(numErr(f), static_cast<std::int16_t>(c.number));
    const U16String text = textErr(f);
    EXPECT_NE(text.find(u"C:\\Base\\Logs\\events.log"), U16String::npos) << test::utf8(text);
    EXPECT_NE(text.find(test::u16(c.russian)), U16String::npos) << test::utf8(text);
    EXPECT_NE(describe(f).find("\"C:\\Base\\Logs\\events.log\""), std::string::npos);
    EXPECT_NE(describe(f).find(c.english), std::string::npos);
  }
  // Those that concern no file.
  EXPECT_EQ(numErr(Failure(FailureKind::OutOfMemory)), 7);
  EXPECT_EQ(textErr(Failure(FailureKind::OutOfMemory)), u"Недостаточно памяти");
  EXPECT_EQ(describe(Failure(FailureKind::OutOfMemory)), "out of memory");
  const Failure internal(FailureKind::Internal, {}, 0, FileAction::None, u"oops");
  EXPECT_EQ(numErr(internal), 51);
  EXPECT_EQ(textErr(internal), u"Внутренняя ошибка: oops");
  EXPECT_EQ(describe(internal), "internal error: oops");
  const Failure host(FailureKind::Host, {}, static_cast<std::int32_t>(0x800A0007u), FileAction::None);
  EXPECT_EQ(numErr(host), 7);
  EXPECT_EQ(textErr(host), u"Ошибка при обращении к объекту системы");
}

}  // namespace
}  // namespace velmora
