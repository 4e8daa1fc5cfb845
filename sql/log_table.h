// The log as SQL: the eponymous virtual table `log` (also `log('other.log')`)
// and a byte-exact like() with SQLite's own meaning, registered on a connection
// with the table `sessions` (sql/sessions_table.h).
#pragma once

#include <csignal>
#include <functional>
#include <string>

#include "core/reader.h"
#include "sql/sqlite_api.h"

namespace velmora {
class CodePage;
}

namespace velmora::sql {

struct SqlOptions {
  std::string defaultLog;  // UTF-8 path read by a bare `log`; empty: a file must be named
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
// One stretch of a scan, [from, stopAt), with whatever the sink throws
// (memory run out) given back as a failure, so that it never crosses
// SQLite; and a failure as the message a table reports.
ScanResult scanStretch(Reader& reader, std::int64_t from, RecordSink& sink, std::int64_t stopAt);

// What the last failing statement met: true when the log failed (missing,
// unreadable), not the statement.
struct SqlState {
  bool logFailed = false;
};

// Registers `log` and like() on db; the options and state live as long as db.
int registerLogTable(sqlite3* db, const SqlOptions& options, SqlState* state);

}  // namespace velmora::sql
