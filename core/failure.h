// A failure to read or write a file, as a value every face can report:
// its number (stable: scripts compare them, and the README lists them) and
// its text. One mapping turns whatever a call threw into one.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "text/text.h"

namespace velmora {

enum class ErrorNumber : std::int16_t {
  Overflow = 6,           // a position or count does not fit 32 bits
  OutOfMemory = 7,        // a window or the replacement list does not fit in memory
  InternalError = 51,     // an unexpected failure inside the reader
  FileNotFound = 53,      // the file vanished between the check and the open
  DiskFull = 61,
  TooManyFiles = 67,
  PermissionDenied = 70,
  DeviceIo = 57,          // read error
  PathFileAccess = 75,    // write error, or any other open failure
  PathNotFound = 76,      // a folder of an output path does not exist
  AutomationError = 440,  // a host failure whose number does not fit 16 bits
};

// A failure inside one of the four methods that handle their own errors:
// the number goes to NumErr, the text (Russian, naming the file) to TextErr.
class Failure : public std::runtime_error {
 public:
  Failure(std::int16_t number, U16String text)
      : std::runtime_error(toUtf8(text)), number_(number), text_(std::move(text)) {}
  Failure(ErrorNumber number, U16String text) : Failure(static_cast<std::int16_t>(number), std::move(text)) {}
  std::int16_t number() const { return number_; }
  const U16String& text() const { return text_; }

 private:
  std::int16_t number_;
  U16String text_;
};

// Inside a catch block: what was caught, as a failure. Memory run out is
// OutOfMemory; anything else that is no Failure is an InternalError.
Failure currentFailure();

// The failure as the tool and the SQL tables print it.
std::string describe(const Failure& failure);

// A copy found the log shorter than when it was opened: the host (or
// someone) cut it meanwhile, and the copy cannot be whole.
[[noreturn]] void throwLogCut(U16View path);

}  // namespace velmora
