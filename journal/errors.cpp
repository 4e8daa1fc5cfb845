#include "journal/errors.h"

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

}  // namespace velmora
