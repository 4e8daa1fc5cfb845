// The log as SQL: the eponymous virtual table `log` (also `log('other.log')`)
// and a byte-exact like() with SQLite's own meaning, registered on a connection
// with the table `sessions` (sql/sessions_table.h).
#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/log_set.h"
#include "core/reader.h"
#include "sql/sqlite_api.h"

namespace velmora {
class CodePage;
}

namespace velmora::sql {

struct SqlOptions {
  std::string defaultLog;  // UTF-8 path read by a bare `log`; empty: a file must be named
  std::vector<std::string> defaultLogs;  // when not empty, read by a bare `log` instead: files or folders
  bool pushDown = true;    // false: SQLite checks every constraint itself (for tests)
  // Set when the user asks to stop; checked between stretches of the log.
  const volatile std::sig_atomic_t* stop = nullptr;
  // The log's code page, asked at each statement (the extension lets SQL
  // change it); empty: 1251.
  std::function<const CodePage&()> codepage;
  // When set, a log named in a query (log('...'), sessions('...')) is read
  // only if this says yes; the message of a refusal names the file.
  std::function<bool(const std::string& file)> mayRead;
};

// The refusal of a log that mayRead turns down; empty when it may be read.
std::string refusedLog(const SqlOptions& options, const std::string& file);

const CodePage& codePageOf(const SqlOptions& options);

// Shared by the tables: the whole log as a period, no filter.
ReadQuery wholeLog();
// One stretch of a scan: from from up to stopAt, kStretch bytes at the
// most (the tables look at the stop flag between stretches), with whatever
// the sink throws (memory run out) given back as a failure, so that it
// never crosses SQLite.
inline constexpr std::int64_t kStretch = std::int64_t{32} << 20;
ScanResult scanStretch(Reader& reader, std::int64_t from, RecordSink& sink, std::int64_t stopAt = Reader::kNoStop);

// The logs a table reads: names given to it (in argument order) or else the
// tool's. One named file is the one log of old (set stays empty); several
// names, or a folder, are a set, expanded and checked here. Returns the
// message of a refusal (a log that may not be read or is no log), else "".
struct TableLogs {
  std::string file;               // the one log
  std::vector<U16String> set;     // the logs of a set
  std::vector<std::string> names; // the set's logs in UTF-8, for the file column
  bool many = false;
};
std::string tableLogs(const SqlOptions& options, std::vector<std::string> given, TableLogs& out);

// What the last failing statement met: true when the log failed (missing,
// unreadable), not the statement.
struct SqlState {
  bool logFailed = false;
};

// Registers `log` and like() on db; the options and state live as long as db.
int registerLogTable(sqlite3* db, const SqlOptions& options, SqlState* state);

}  // namespace velmora::sql
