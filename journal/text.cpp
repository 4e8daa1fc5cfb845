#include "journal/text.h"

namespace velmora {

std::string toUtf8(U16View) { return {}; }
U16String fromUtf8(std::string_view) { return {}; }
U16View trimSpaces(U16View t) { return t; }

}  // namespace velmora
