// Failures at the COM boundary: the exception the add-in throws for a COM
// status of its own, and the translation of any exception into a failure
// status with error information for the host.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <stdexcept>

#include "text/text.h"

namespace velmora {

class ComError : public std::runtime_error {
 public:
  ComError(HRESULT hr, U16String description);
  HRESULT hresult() const { return hr_; }
  const U16String& description() const { return description_; }

 private:
  HRESULT hr_;
  U16String description_;
};

// A short description of a failing status: the add-in's own text for the
// usual automation failures, else the system's message.
U16String describeHresult(HRESULT hr);

// The status that a 32-bit error number from a host or the reader becomes:
// a failing HRESULT stays, a script error number n gives 0x800A0000 | n.
HRESULT hresultFromNumber(std::int32_t number);

// Publishes error information (source "AddIn.Velmora") for the calling
// thread and returns hr, so that the caller can write `return fail(...)`.
HRESULT failWithInfo(HRESULT hr, U16View description, REFIID iid) noexcept;

// Translates the exception in flight into a status with error information.
// Call only from a catch block.
HRESULT failFromCurrentException(REFIID iid) noexcept;

// Drops the calling thread's error information: a successful call leaves
// none, so a host never shows an earlier failure's text.
inline HRESULT succeed() noexcept {
  SetErrorInfo(0, nullptr);
  return S_OK;
}

// Runs body at a COM boundary: nothing escapes, every failure becomes a
// status with error information, and success clears it.
template <class Body>
HRESULT comBoundary(REFIID iid, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    return failFromCurrentException(iid);
  }
  return succeed();
}

}  // namespace velmora
