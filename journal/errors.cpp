#include "journal/errors.h"

namespace velmora {

std::int16_t foldErrorNumber(std::int32_t n) { return static_cast<std::int16_t>(n); }

}  // namespace velmora
