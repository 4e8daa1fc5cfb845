// The byte forms of the filters, built by SetFilter for matching log bytes.
#pragma once

#include "journal/journal.h"

namespace velmora {

struct Journal::FilterState {
  // filled in with the filters
};

}  // namespace velmora
