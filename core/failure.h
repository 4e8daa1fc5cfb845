// A failure to read or write a file, as a value every face can report in
// its own language: what went wrong (a kind), the file it concerns, the
// system's code, and what was being done. One mapping turns whatever a call
// threw into one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "text/text.h"

namespace velmora {

enum class FailureKind : std::uint8_t {
  NotFound,          // the file vanished between the check and the open
  PathNotFound,      // a folder of the path does not exist
  PermissionDenied,
  Busy,              // another program holds the file
  TooManyFiles,
  DiskFull,
  Io,                // a read error; code: the system's
  IsFolder,          // the path names a folder
  System,            // any other open or write failure; code: the system's
  BadPosition,       // a read before the first byte; code: the position
  LogCut,            // a copy found the log shorter than when it was opened
  OutOfMemory,
  ListTooLarge,      // a replacement list past what is held in memory
  ResultOverflow,    // code: a position or count past 32 bits
  LineOverflow,      // code: the line of a list whose number is past 32 bits
  Internal,          // detail: what the unexpected exception said
  Host,              // code: the host's error number; detail: its description
};
inline constexpr int kFailureKinds = static_cast<int>(FailureKind::Host) + 1;

// What was being done to the file when it failed.
enum class FileAction : std::uint8_t { None, OpenRead, OpenWrite, Read, Write };

class Failure : public std::exception {
 public:
  explicit Failure(FailureKind kind, U16String path = {}, std::int64_t code = 0, FileAction action = FileAction::None,
                   U16String detail = {});
  FailureKind kind() const { return kind_; }
  const U16String& path() const { return path_; }
  std::int64_t code() const { return code_; }
  FileAction action() const { return action_; }
  const U16String& detail() const { return detail_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  FailureKind kind_;
  FileAction action_;
  std::int64_t code_;
  U16String path_;
  U16String detail_;
  std::string what_;
};

// Inside a catch block: what was caught, as a failure. Memory run out is
// OutOfMemory; anything else that is no Failure is Internal.
Failure currentFailure();

// The failure in English, as the tool, the SQL tables and the server print it.
std::string describe(const Failure& failure);

// A copy found the log shorter than when it was opened: the host (or
// someone) cut it meanwhile, and the copy cannot be whole.
[[noreturn]] void throwLogCut(U16View path);

}  // namespace velmora
