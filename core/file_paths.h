// What paths name, for callers that check files without reading them.
// Defined with the file access in fileio.cpp.
#pragma once

#include "text/text.h"

namespace velmora {

// True when path names an existing regular file (not a folder).
bool fileExists(U16View path);

// True when both paths name the same file: the same existing file through
// any spelling, link or relative path, or, for files that do not exist yet,
// the same name in the same folder.
bool sameFile(U16View a, U16View b);

}  // namespace velmora
