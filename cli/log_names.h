// LOG... as the reading commands take it: one log as always, or a set of
// logs (several names, or a folder) read as one timeline (core/log_set.h).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/log_set.h"
#include "text/text.h"

namespace velmora::cli {

// True when the names stand for a set rather than the one log of old:
// more than one name, or a folder.
bool manyLogs(const std::vector<std::string>& given);

// The logs the names stand for, each once. A file inside a folder that is
// not a log is passed over and said on err; a named file that is not a log,
// or names that hold no log at all, end the command: the exit code (0: fine).
int resolveLogs(const std::vector<std::string>& given, std::ostream& err, std::vector<U16String>& logs,
                bool missingOk = false);

// The log of a set that follow follows: the last log named when it is a
// file, else the log whose records begin last.
int liveLog(const std::vector<std::string>& given, const std::vector<U16String>& logs, const CodePage& cp);

// A position in a set as the tool prints it and --resume takes it back:
// the log's name, a colon and the byte (the last colon counts, so that a
// Windows drive letter stays part of the name).
std::string setPositionText(const std::vector<U16String>& logs, SetPosition position);
// UsageError when the text names no log of the set or no byte.
SetPosition parseSetPosition(const std::string& text, const std::vector<U16String>& logs, const char* option);

}  // namespace velmora::cli
