// The one check of a log's shape, run by every face before it reads: what
// is not a regular file, a compressed file this build cannot decode (a zip
// archive among them), a file of NUL bytes and a non-empty file without a
// CR LF are refused before any record is read, so
// that no face reads garbage as records or reports an empty answer as
// success. The check never opens what is not a regular file (a FIFO would
// block the open).
#pragma once

#include <cstdint>
#include <string>

#include "text/text.h"

namespace velmora {

enum class LogShape {
  Fine,        // a regular file, empty or holding a CR LF
  Missing,
  Folder,
  NotAFile,    // a pipe, a device, a socket
  Compressed,  // known by its magic number, in a format not decoded; compression names it
  OnlyNul,     // every byte is NUL (space allocated, never written)
  NoLineEnd,   // bytes, but no CR LF: LF line ends, or not a log
  Unreadable,  // the open or a read failed
};

struct LogShapeCheck {
  LogShape shape = LogShape::Fine;
  // "gzip", "zstd", "bzip2", "xz", "zip"; set too for a compressed log
  // that is read (Fine), whose shape is then its decoded text's
  const char* compression = nullptr;
  std::int64_t size = 0;              // when the file was read (the text's bytes looked at, when compressed)
  std::string detail;                 // the system's words, for Unreadable
};

LogShapeCheck checkLogShape(U16View path);

// The refusal in English, naming the log as given (empty for Fine).
std::string describeLogShape(const LogShapeCheck& check, const std::string& shownPath);

// The compressed formats this build decodes, named for a message.
std::string readableFormats();

// The compression whose magic number opens head, or nullptr.
const char* compressionOf(std::string_view head);

}  // namespace velmora
