#include "journal/journal.h"

#include "journal/fileio.h"
#include "journal/filter_state.h"

namespace velmora {

Journal::Journal() : filters_(std::make_unique<FilterState>()) {}
Journal::~Journal() = default;

void Journal::SetInvertFilters(U16View) {}
void Journal::SetOrderBy(U16View) {}
void Journal::SetGroupBy(U16View) {}
void Journal::SetTransformStr(U16View) {}
void Journal::SetInsertColumn(U16View) {}
std::int32_t Journal::MyFileSize() const { return 0; }
void Journal::fail(std::int16_t, U16String) {}
void Journal::clearError() {}

}  // namespace velmora
