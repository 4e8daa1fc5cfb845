// In-memory value table and value list: the host objects of the tests and
// the command-line tool.
#pragma once

#include "journal/host.h"

namespace velmora {

}  // namespace velmora
