// The script class's numbers: results that must fit 32 bits, and error
// numbers that must fit NumErr's 16.
#pragma once

#include <cstdint>

#include "core/failure.h"
#include "script/host.h"
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
  AutomationError = kAutomationError,  // a host failure whose number does not fit 16 bits
};

// A failure as the script sees it: NumErr (stable: scripts compare them,
// and the README lists them) and TextErr, in Russian, naming the file.
std::int16_t numErr(const Failure& failure);
U16String textErr(const Failure& failure);

// A position or count as the 32-bit result of a script method. A log of
// 2 GiB or more can hold positions past that range: then this throws
// Failure(Overflow) naming the file, rather than giving a wrapped number.
std::int32_t scriptResult(std::int64_t value, U16View path);

}  // namespace velmora
