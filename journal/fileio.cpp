#include "journal/fileio.h"

namespace velmora {

bool fileExists(U16View) { return false; }
bool sameFile(U16View, U16View) { return false; }
ReadFile::ReadFile(U16View p) : path_(p) {}
ReadFile::~ReadFile() = default;
std::size_t ReadFile::readAt(std::int64_t, char*, std::size_t) { return 0; }
std::int64_t ReadFile::currentSize() const { return 0; }
WriteFile::WriteFile(U16View p) : path_(p) {}
WriteFile::~WriteFile() = default;
void WriteFile::write(std::string_view) {}
void WriteFile::close() {}

}  // namespace velmora
