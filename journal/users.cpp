#include "journal/journal.h"

namespace velmora {

std::int32_t Journal::GetUsers(std::int32_t, ValueList&) { return -1; }

}  // namespace velmora
