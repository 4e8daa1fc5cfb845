#include "journal/journal.h"

namespace velmora {

std::int32_t Journal::GetStartPos(std::int32_t, ValueTable&) { return -1; }

}  // namespace velmora
