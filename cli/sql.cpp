// velmora sql: SQL statements over the log (sql/log_table.h), printed in
// the tool's formats. Exit 2 for a statement SQLite refuses, 3 for a log
// that fails, 130 when interrupted.
#include "cli/sql.h"

#include <csignal>
#include <iostream>
#include <iterator>
#include <ostream>

#include "cli/files.h"
#include "cli/log_names.h"
#include "cli/stream_printer.h"
#include "text/codepage.h"

#ifdef VELMORA_HAVE_SQL
#include "core/unique_resource.h"
#include "sql/log_table.h"
#endif

namespace velmora::cli {

#ifndef VELMORA_HAVE_SQL

int runSql(const SqlRequest&, Io& io) {
  io.err << "velmora: this build has no SQL: it was made without SQLite (see README, \"SQL over the log\")\n";
  return kFailed;
}

#else

namespace {

using UniqueStmt = UniqueResource<sqlite3_stmt*, sqlite3_finalize>;

volatile std::sig_atomic_t gSqlStop = 0;
sqlite3* gDb = nullptr;

extern "C" void onSqlInterrupt(int) {
  gSqlStop = 1;
  if (gDb) sqlite3_interrupt(gDb);
}

struct Db {
  sqlite3* db = nullptr;
  ~Db() {
    gDb = nullptr;
    sqlite3_close(db);
  }
};

// One statement's rows; the exit code.
int runStatement(sqlite3* db, sqlite3_stmt* stmt, Io& io, const sql::SqlState& state) {
  const int n = sqlite3_column_count(stmt);
  StreamPrinter printer(io.format, io.out, io.codePage());
  std::vector<Cell> cells(static_cast<std::size_t>(n));
  std::size_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (rows++ == 0) {
      std::vector<std::string> names;
      for (int i = 0; i < n; ++i) names.emplace_back(sqlite3_column_name(stmt, i));
      // Each value says whether it is a number (below); a column is only
      // aligned as one in the table when its first value is.
      std::vector<bool> numeric;
      if (io.format == Format::Table) {
        for (int i = 0; i < n; ++i) {
          const int type = sqlite3_column_type(stmt, i);
          numeric.push_back(type == SQLITE_INTEGER || type == SQLITE_FLOAT);
        }
      }
      printer.setColumns(std::move(names), std::move(numeric));
    }
    for (int i = 0; i < n; ++i) {
      const int type = sqlite3_column_type(stmt, i);
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      cells[static_cast<std::size_t>(i)] =
          Cell{std::string_view(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))), false,
               type == SQLITE_INTEGER || type == SQLITE_FLOAT, type == SQLITE_NULL};
    }
    printer.row(cells.data());
    if (rows % 4096 == 0) printer.flush(false);
  }
  printer.flush(true);
  io.out.flush();
  if (rc == SQLITE_DONE) return kSuccess;
  if (rc == SQLITE_INTERRUPT || gSqlStop) {
    io.err << "velmora: interrupted\n";
    return 130;
  }
  io.err << "velmora: " << sqlite3_errmsg(db) << "\n";
  return state.logFailed ? kFailed : kBadUsage;
}

}  // namespace

int runSql(const SqlRequest& r, Io& io) {
  // The log named on the command line is refused up front, as every
  // reading command refuses it; logs named in the statement, by the tables.
  const std::vector<std::string> names = logNames(r.log, r.logs);
  if (manyLogs(names)) {
    std::vector<U16String> logs;
    if (const int code = resolveLogs(names, io.err, logs)) return code;
  } else if (!r.log.empty()) {
    if (const int code = checkLog(r.log, io.err)) return code;
  }
  std::string text = r.query ? *r.query : std::string(std::istreambuf_iterator<char>(std::cin), {});
  Db d;
  if (sqlite3_open(":memory:", &d.db) != SQLITE_OK) {
    io.err << "velmora: SQLite: " << sqlite3_errmsg(d.db) << "\n";
    return kFailed;
  }
  sql::SqlState state;
  sql::SqlOptions options;
  options.defaultLog = r.log;
  if (manyLogs(names)) options.defaultLogs = names;
  options.pushDown = r.pushDown;
  options.stop = &gSqlStop;
  const CodePage& cp = io.codePage();
  options.codepage = [&cp]() -> const CodePage& { return cp; };
  if (sql::registerLogTable(d.db, options, &state) != SQLITE_OK) {
    io.err << "velmora: SQLite: " << sqlite3_errmsg(d.db) << "\n";
    return kFailed;
  }
  gDb = d.db;
  std::signal(SIGINT, onSqlInterrupt);
  const char* p = text.c_str();
  while (*p) {
    UniqueStmt stmt;
    const char* tail = nullptr;
    state.logFailed = false;
    if (sqlite3_prepare_v2(d.db, p, -1, stmt.put(), &tail) != SQLITE_OK) {
      io.err << "velmora: " << sqlite3_errmsg(d.db) << "\n";
      return state.logFailed ? kFailed : kBadUsage;
    }
    p = tail;
    if (!stmt) continue;  // blanks or a comment
    const int rc = runStatement(d.db, stmt.get(), io, state);
    if (rc != kSuccess) return rc;
  }
  return kSuccess;
}

#endif

}  // namespace velmora::cli
