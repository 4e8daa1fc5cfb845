#include "journal/journal.h"

namespace velmora {

bool Journal::SetDateTimes(U16View, U16View, U16View, U16View) { return false; }

}  // namespace velmora
