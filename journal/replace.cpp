#include "journal/journal.h"

namespace velmora {

std::int32_t Journal::ReplaceDateTimes(U16View, U16View) { return -1; }

}  // namespace velmora
