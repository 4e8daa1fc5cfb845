// The names of the eight filters, as scripts address them: filter n tests
// record field n (3..10) and answers to its number, its English name and
// its Russian name. Data, so that the tool learns a filter's field without
// setting up a reader.
#pragma once

#include <array>

#include "text/text.h"

namespace velmora {

struct FilterName {
  U16View number, english, russian;
};

// Entry k names the filter of field k + 3.
extern const std::array<FilterName, 8> kFilterNames;

// The field (3..10) that a filter name addresses, or 0 for an unknown name.
// Names compare exactly, as SetFilter compares them.
int filterField(U16View name);

}  // namespace velmora
