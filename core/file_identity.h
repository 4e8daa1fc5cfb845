// What tells one file from another however it is named: the device (on
// Windows the volume) and the file's number there, with its length and kind
// as seen at the look. The copies refuse an output that is their input by
// it, and the tool notices a log replaced under it.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace velmora {

struct FileIdentity {
  std::uint64_t device = 0, number = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // the last write, in the system's own ticks: compared, never shown
  bool regular = false;  // a regular file: not a folder, pipe or device
  bool sameFileAs(const FileIdentity& o) const { return device == o.device && number == o.number; }
};

// Of an existing file or folder; nothing when it cannot be reached.
std::optional<FileIdentity> fileIdentity(U16View path);
// Of what standard output writes to; nothing unless that is a regular file.
std::optional<FileIdentity> stdoutIdentity();

}  // namespace velmora
