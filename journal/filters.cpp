#include "journal/filter_state.h"

namespace velmora {

U16String Journal::GetFilter(U16View) const { return {}; }
bool Journal::SetFilter(U16View, U16View) { return false; }
bool Journal::FilterRecord(std::string_view) { return false; }

}  // namespace velmora
