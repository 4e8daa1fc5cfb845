#include "journal/journal.h"

namespace velmora {

std::int64_t Journal::FindStartPos() { return -1; }
bool Journal::WindowDates(std::string_view&, std::string_view&) const { return false; }
std::int64_t Journal::ScanForStart(std::int64_t) { return -1; }
void Journal::readWindow(std::int64_t, std::size_t) {}

}  // namespace velmora
