// The host objects that the reader fills, seen from the reader's side.
// The COM build calls the host by name; tests and the command-line tool use
// the in-memory implementation (memhost/memory_host.h).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "text/text.h"

namespace velmora {

// What NumErr holds for a host failure whose number does not fit its 16 bits.
inline constexpr std::int16_t kAutomationError = 440;

// Folds a 32-bit error number (an HRESULT, say) into NumErr's 16 bits:
// a number in -32768..32767 stays; a script error carried in an HRESULT
// (0x800Axxxx) gives its code xxxx when that fits; anything else gives
// kAutomationError.
constexpr std::int16_t foldErrorNumber(std::int32_t number) {
  if (number >= -32768 && number <= 32767) return static_cast<std::int16_t>(number);
  // A script error wrapped in an HRESULT: facility "control", severity set.
  const auto bits = static_cast<std::uint32_t>(number);
  if ((bits & 0xFFFF0000u) == 0x800A0000u && (bits & 0xFFFFu) <= 0x7FFFu) return static_cast<std::int16_t>(bits & 0xFFFFu);
  return kAutomationError;
}

// A failing call on a host object. number is what the host reported (an
// HRESULT or a script error number); it is folded to 16 bits by
// foldErrorNumber() when stored in NumErr, or shown by the tool.
class HostError : public std::runtime_error {
 public:
  HostError(std::int32_t number, U16String description)
      : std::runtime_error(toUtf8(description)), number_(number), description_(std::move(description)) {}
  std::int32_t number() const { return number_; }
  const U16String& description() const { return description_; }

 private:
  std::int32_t number_;
  U16String description_;
};

// The host value table (argument of GetData).
class ValueTable {
 public:
  virtual ~ValueTable() = default;
  virtual std::int32_t ColumnCount() = 0;
  virtual std::int32_t LinesCnt() = 0;
  virtual void DeleteLines() = 0;
  virtual void DeleteColumn(std::int32_t column) = 0;  // from 1
  virtual void NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) = 0;
  virtual void NewLine() = 0;
  virtual void SetValue(std::int32_t row, std::int16_t column, U16View value) = 0;
  virtual void SetValue(std::int32_t row, U16View columnName, std::int16_t value) = 0;
  virtual void GroupBy(U16View columns, U16View summedColumn) = 0;
  virtual void Sort(U16View columns) = 0;
};

// The host value list (argument of GetUsers).
class ValueList {
 public:
  virtual ~ValueList() = default;
  virtual void RemoveAll() = 0;
  virtual void AddValue(U16View value, U16View presentation) = 0;
  virtual std::int32_t GetListSize() = 0;
  virtual void Sort() = 0;
};

}  // namespace velmora
