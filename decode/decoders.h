// The decoders of compressed logs: gzip (zlib), zstd (libzstd), bzip2
// (libbz2) and xz (liblzma), each the format's reference library, used
// through its streaming interface. Only the tool, SQL and the viewer link
// this library; the add-in does not, and reads every file as it is.
#pragma once

#include <string>

namespace velmora {

// Registers the decoders with the reader core (core/text_stream.h); from
// then on a compressed log is read as its text. Idempotent.
void registerDecoders();

// The compressed formats this build cannot read, "" when none lacks (a
// Windows build without one of the libraries).
std::string missingFormats();

}  // namespace velmora
