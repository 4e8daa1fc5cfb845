// The item lists that SetFilter keeps for the script class.
#pragma once

#include <array>
#include <vector>

#include "script/journal.h"
#include "text/codepage.h"

namespace velmora {

struct Journal::FilterState {
  // The items of the comment, identifier and presentation filters, as
  // SetFilter cut them (upper-cased); index 0 is filter 8.
  std::array<std::vector<U16String>, 3> lists;  // RemList, IdObjList, DeclarationObjList
};

}  // namespace velmora
