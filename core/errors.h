// Failure numbers and texts of the methods that touch files. The numbers are
// stable (scripts compare them) and are documented in the README.
#pragma once

#include <cstdint>
#include <stdexcept>

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

}  // namespace velmora
