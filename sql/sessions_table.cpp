// Sessions are few beside records: the cursor pairs the whole log's Open
// and Close records at xFilter and hands the list out. A session may begin
// before any period asked for, so no period is pushed down; the reader
// narrows by the two event codes alone.
#include "sql/sessions_table.h"
#include "sql/vtab.h"

#include <algorithm>
#include <memory>
#include <string>

#include "core/log_set.h"
#include "core/log_shape.h"
#include "core/sessions.h"
#include "core/fileio.h"
#include "core/reader.h"
#include "core/unique_resource.h"
#include "text/codepage.h"
#include "text/text.h"

namespace velmora::sql {
namespace {

enum Column : int { kUser, kMode, kStart, kEnd, kSeconds, kFile, kArg0 };
constexpr int kArgs = 8;  // sessions('a.log', 'old/', ...)

constexpr const char* kSchema =
    "CREATE TABLE x(user TEXT, mode TEXT, start TEXT, end TEXT, seconds INTEGER, file TEXT, log1 HIDDEN, "
    "log2 HIDDEN, log3 HIDDEN, log4 HIDDEN, log5 HIDDEN, log6 HIDDEN, log7 HIDDEN, log8 HIDDEN)";

struct Cursor : CursorBase {
  explicit Cursor(sqlite3_vtab* table) : CursorBase(table) {}

  SessionPairing pairing;
  std::vector<Session> sessions;
  std::size_t index = 0;
  std::string file, text;
  TableLogs logs;
  std::vector<int> logOf;  // per session, the log of the record that begins it
  std::vector<std::pair<int, std::string>> named;  // the names given, by argument, for SQLite to read back

  bool record(const Record& record) override {
    const std::size_t before = pairing.sessions().size();
    pairing.record(record.fields);
    if (pairing.sessions().size() > before) logOf.push_back(record.log);
    return true;
  }
};

int xConnect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  return connectTable(db, aux, kSchema, out);
}

// Only the logs named are taken; SQLite checks everything else. idxStr:
// the argument number of each xFilter argument, one digit each.
int xBestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  std::string args;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    if (c.iColumn < kArg0 || c.iColumn >= kArg0 + kArgs || c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    if (!c.usable) return SQLITE_CONSTRAINT;
    args += static_cast<char>('0' + c.iColumn - kArg0);
    info->aConstraintUsage[i].argvIndex = static_cast<int>(args.size());
    info->aConstraintUsage[i].omit = 1;
  }
  info->idxStr = sqlite3_mprintf("%s", args.c_str());
  info->needToFreeIdxStr = 1;
  info->estimatedCost = 1e7;
  info->estimatedRows = 1000;
  return SQLITE_OK;
}

Cursor* cursorOf(sqlite3_vtab_cursor* b) { return sql::cursorOf<Cursor>(b); }

int xFilter(sqlite3_vtab_cursor* b, int, const char* idxStr, int argc, sqlite3_value** argv) {
  Cursor& c = *cursorOf(b);
  c.sessions.clear();
  c.logOf.clear();
  c.index = 0;
  c.pairing = SessionPairing{};
  std::vector<std::pair<int, std::string>>& named = c.named;
  named.clear();
  for (int k = 0; k < argc && idxStr != nullptr && idxStr[k] != '\0'; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return SQLITE_OK;
    const unsigned char* t = sqlite3_value_text(argv[k]);
    named.emplace_back(idxStr[k] - '0',
                       std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_value_bytes(argv[k]))));
  }
  // SQLite may pass one argument twice (in the plans of an OR).
  std::sort(named.begin(), named.end());
  std::vector<std::string> given;
  for (std::size_t k = 0; k < named.size(); ++k)
    if (k == 0 || named[k].first != named[k - 1].first) given.push_back(named[k].second);
  if (const std::string refused = tableLogs(c.ctx->options, std::move(given), c.logs); !refused.empty())
    return c.fail(refused == "-" ? "the table sessions needs a log file: SELECT ... FROM sessions('events.log')"
                                 : refused);
  c.file = c.logs.file;
  ReadQuery q = wholeLog();
  q.filters[6] = FieldFilter{true, true, false, {u"OpenSession", u"CloseSession"}};
  if (c.logs.many) {
    // The set's records in time order pair as one log's would.
    LogSetReader set(c.logs.set, std::move(q), codePageOf(c.ctx->options));
    if (const auto failure = set.start()) return c.fail(describe(*failure));
    while (!set.done()) {
      if (c.ctx->options.stop != nullptr && *c.ctx->options.stop) return SQLITE_INTERRUPT;
      SetScanResult part;
      try {
        part = set.more(c);
      } catch (const std::exception&) {
        part.failure = currentFailure();
      }
      if (part.failure) return c.fail(describe(*part.failure));
    }
    c.pairing.finish();
    c.sessions = c.pairing.sessions();
    return SQLITE_OK;
  }
  Reader reader(fromUtf8(c.file), std::move(q), codePageOf(c.ctx->options));
  reader.beginSession();  // the stretches below read as one scan
  const ScanResult start = reader.findStart();
  if (start.failure) return c.fail(describe(*start.failure));
  std::int64_t next = start.next;
  if (next < 1) {
    if (!fileExists(fromUtf8(c.file))) return c.fail("the log \"" + c.file + "\" does not exist or is not a file");
    return SQLITE_OK;
  }
  for (;;) {
    if (c.ctx->options.stop != nullptr && *c.ctx->options.stop) return SQLITE_INTERRUPT;
    const ScanResult stretch = scanStretch(reader, next, c);
    if (stretch.failure) return c.fail(describe(*stretch.failure));
    next = stretch.next;
    if (next < 1 || !stretch.reachedStop) break;  // the sink never ends a stretch
  }
  c.pairing.finish();
  c.sessions = c.pairing.sessions();
  return SQLITE_OK;
}

int xNext(sqlite3_vtab_cursor* b) {
  ++cursorOf(b)->index;
  return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* b) {
  const Cursor& c = *cursorOf(b);
  return c.index >= c.sessions.size();
}

// 'YYYY-MM-DD HH:MM:SS', as the log table's date and time joined by a blank.
void appendMoment(const std::string& key, const CodePage& cp, std::string& out) {
  const std::string text = toUtf8(cp.decode(key));
  if (key.size() == 16) out = text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2) + " " + text.substr(8);
  else out = text;
}

int xColumn(sqlite3_vtab_cursor* b, sqlite3_context* ctx, int column) {
  Cursor& c = *cursorOf(b);
  const Session& s = c.sessions[c.index];
  switch (column) {
    case kUser: c.text = toUtf8(codePageOf(c.ctx->options).decode(s.user)); break;
    case kMode: c.text = toUtf8(codePageOf(c.ctx->options).decode(s.mode)); break;
    case kStart:
    case kEnd: {
      const std::string& key = column == kStart ? s.start : s.end;
      if (key.empty()) {
        sqlite3_result_null(ctx);
        return SQLITE_OK;
      }
      appendMoment(key, codePageOf(c.ctx->options), c.text);
      break;
    }
    case kSeconds: {
      const std::int64_t n = s.start.empty() || s.end.empty() ? -1 : secondsBetween(s.start, s.end);
      if (n < 0) sqlite3_result_null(ctx);
      else sqlite3_result_int64(ctx, n);
      return SQLITE_OK;
    }
    case kFile:
      c.text = c.logs.many && c.index < c.logOf.size() ? c.logs.names[static_cast<std::size_t>(c.logOf[c.index])] : c.file;
      break;
    default: {
      // An argument, read back by SQLite.
      const auto it = std::find_if(c.named.begin(), c.named.end(), [&](const auto& n) { return n.first == column - kArg0; });
      if (it == c.named.end()) {
        sqlite3_result_null(ctx);
        return SQLITE_OK;
      }
      c.text = it->second;
    }
  }
  sqlite3_result_text(ctx, c.text.data(), static_cast<int>(c.text.size()), SQLITE_TRANSIENT);
  return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* b, sqlite3_int64* out) {
  *out = static_cast<sqlite3_int64>(cursorOf(b)->index + 1);
  return SQLITE_OK;
}

const sqlite3_module kModule =
    eponymousModule({xConnect, xBestIndex, openCursor<Cursor>, closeCursor<Cursor>, xFilter, xNext, xEof, xColumn, xRowid});

}  // namespace

int registerSessionsTable(sqlite3* db, const SqlOptions& options, SqlState* state) {
  return registerTable(db, "sessions", kModule, options, state);
}

}  // namespace velmora::sql
