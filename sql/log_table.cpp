// The virtual table `log`. Invariants:
//  - A constraint is taken (aConstraintUsage.omit) only where the cursor
//    decides it as SQLite would (sql/text_compare.h): a text column against
//    a constant text or NULL under BINARY, NOCASE or RTRIM; LIKE while our
//    like() is the connection's; pos (and rowid) = any value, converted as
//    SQLite's numeric affinity converts it. Any other constraint is left to
//    SQLite, though its text values may still narrow what is read.
//  - The reader's filters only narrow what is read: they may let through
//    more than a constraint wants, never less. Periods are not pushed: a log
//    may step back in time, where a binary search would miss records.
//  - Rows come out in log order, which is pos order; ORDER BY pos is
//    consumed, ORDER BY date, time is not (a log may step back in time).
//  - The rowid is also a declared hidden column (`rowid`, `oid`,
//    `_rowid_`), so that SQLite's colUsed shows a query that reads it.
//  - Per record nothing is allocated: used fields are copied into a batch
//    arena whose capacity is reused, and converted only in xColumn.
#include "sql/log_table.h"
#include "sql/vtab.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/log_shape.h"
#include "core/failure.h"
#include "core/fileio.h"
#include "core/record_format.h"
#include "core/unique_resource.h"
#include "sql/sessions_table.h"
#include "sql/text_compare.h"
#include "text/codepage.h"
#include "transform/lookup.h"

namespace velmora::sql {
namespace {

enum Column : int {
  kDate, kTime, kUser, kMode, kCategory, kEvent, kNumber, kComment, kId, kObject,
  kModeText, kCategoryText, kEventText, kIsError, kPos, kFile, kArg0,
  kRowid = kArg0 + 8, kOid, kRowidUnderscored, kColumns
};
constexpr int kArgs = 8;  // log('a.log', 'old/', ...): the logs a table-valued call may name
// The rowid: pos for one log; over several, the log's index above the byte,
// so that rows of two logs at one byte stay two rows.
constexpr int kSetLogShift = 44;
constexpr std::int64_t kSetPosMask = (std::int64_t{1} << kSetLogShift) - 1;

constexpr const char* kSchema =
    "CREATE TABLE x(date TEXT, time TEXT, user TEXT, mode TEXT, category TEXT, event TEXT, number TEXT, "
    "comment TEXT, id TEXT, object TEXT, mode_text TEXT, category_text TEXT, event_text TEXT, "
    "is_error INTEGER, pos INTEGER, file TEXT, log1 HIDDEN, log2 HIDDEN, log3 HIDDEN, log4 HIDDEN, log5 HIDDEN, "
    "log6 HIDDEN, log7 HIDDEN, log8 HIDDEN, rowid INTEGER HIDDEN, oid INTEGER HIDDEN, _rowid_ INTEGER HIDDEN)";
static_assert(kColumns < 32, "idxNum holds a bit per column");

// The record field (1..10) a column shows.
int fieldOf(int column) {
  if (column <= kObject) return column + 1;
  if (column >= kModeText && column <= kEventText) return column - kModeText + 4;
  return 0;
}

bool isPosColumn(int column) { return column == kPos || column >= kRowid; }

// ---- one column's text, as xColumn gives it and the checks compare it ----------

// UTF-8 of each byte of the code page.
struct Utf8Bytes : CodePageUtf8 {
  explicit Utf8Bytes(const CodePage& cp) : CodePageUtf8(cp) {}
  // A text column (date .. object) of its field's bytes: the date as
  // YYYY-MM-DD, whatever the key holds.
  void column(int column, std::string_view field, std::string& out) const {
    if (column != kDate) return append(field, out);
    auto part = [&](std::size_t at, std::size_t n) { return at < field.size() ? field.substr(at, n) : std::string_view(); };
    append(part(0, 4), out);
    out.push_back('-');
    append(part(4, 2), out);
    out.push_back('-');
    append(part(6, std::string_view::npos), out);
  }
};

// ---- the table ----------------------------------------------------------------

// One constraint the cursor decides: op on a text column against a value.
struct Check {
  enum Kind : char { kText, kNever, kBlob };
  char op;  // = ! < l(<=) > g(>=) L(like)
  int column;
  Collation collation;
  Kind kind;
  std::string value;  // UTF-8 (the pattern for LIKE)

  bool passes(std::string_view text) const {
    if (kind == kNever) return false;
    if (kind == kBlob) return op == '!' || op == '<' || op == 'l';  // text sorts before a blob
    if (op == 'L') return likeMatch(value, text);
    const int cmp = compareText(collation, text, value);
    switch (op) {
      case '=': return cmp == 0;
      case '!': return cmp != 0;
      case '<': return cmp < 0;
      case 'l': return cmp <= 0;
      case '>': return cmp > 0;
      default: return cmp >= 0;
    }
  }
};

struct Row {
  std::int64_t pos;
  int log;  // its log in a set
  std::uint64_t count;  // grouped: the rows of the group still to hand out
  bool error;
  std::array<std::uint32_t, 11> off, len;
};

// A term of the grouped rows' order: a column, descending or not.
struct GroupTerm {
  int column;
  bool desc;
};

struct Cursor : CursorBase {
  explicit Cursor(sqlite3_vtab* table)
      : CursorBase(table), translator(std::make_unique<CodeTranslator>(codePageOf(ctx->options), fieldSet({4, 5, 6}))) {}

  std::unique_ptr<Reader> reader;
  std::unique_ptr<LogSetReader> set;  // instead of reader, for several logs
  TableLogs logs;
  // The names given as arguments, as SQLite may read them back to check a
  // constraint it did not leave to us.
  std::array<std::optional<std::string>, kArgs> args;
  bool stopped = false;  // the last stretch ended at the sink's request
  std::unique_ptr<Utf8Bytes> utf8;
  std::vector<Check> checks;
  std::array<bool, 11> copy{};  // fields to keep
  bool wantError = false;
  std::vector<Row> rows;
  std::vector<char> arena;
  std::size_t index = 0;
  std::int64_t next = -1, stopAt = INT64_MAX, only = 0;  // only: the pos of a seek
  int onlyLog = -1;  // and its log, in a set
  bool finished = true;
  // Grouped: rows that SQLite needs only adjacent (a GROUP BY on the used
  // columns alone) are counted per group while the log is read, and each
  // group's row is handed out as many times, the groups in the order
  // SQLite asked for, so that SQLite's sorter has nothing to do.
  bool grouped = false, emitted = false;
  std::vector<GroupTerm> groupOrder;
  std::string key;
  std::unordered_map<std::string, std::uint64_t> groups;
  std::string file;
  std::string text;  // a converted cell, reused
  std::unique_ptr<CodeTranslator> translator;  // the text columns of mode, category and event

  static constexpr std::size_t kBatch = 4096, kArena = 1 << 20;

  bool passes(const RecordFields& f) {
    for (const Check& c : checks) {
      text.clear();
      utf8->column(c.column, f[static_cast<std::size_t>(fieldOf(c.column))], text);
      if (!c.passes(text)) return false;
    }
    return true;
  }

  // Where the reader's record contract meets the table: the position and
  // the error bit come with the record.
  bool record(const Record& record) override {
    stopped = !take(record.fields, record.position, record.log, wantError && record.error);
    return !stopped;
  }

  bool take(const RecordFields& f, std::int64_t position, int log, bool error) {
    // A seek: that one record; in a set, that byte of every log.
    if (only != 0 && (position != only || (onlyLog >= 0 && log != onlyLog))) return set || position < only;
    if (!passes(f)) return true;
    if (grouped) {
      key.clear();
      for (int k = 1; k <= 10; ++k) {
        if (!copy[k]) continue;
        const auto n = static_cast<std::uint32_t>(f[k].size());
        key.append(reinterpret_cast<const char*>(&n), sizeof n);
        key.append(f[k]);
      }
      auto it = groups.find(key);
      if (it == groups.end()) it = groups.emplace(key, 0).first;
      ++it->second;
      return true;
    }
    Row& r = rows.emplace_back();
    r.pos = position;
    r.log = log;
    r.count = 1;
    r.error = error;
    for (int k = 1; k <= 10; ++k) {
      if (!copy[k]) continue;
      r.off[k] = static_cast<std::uint32_t>(arena.size());
      r.len[k] = static_cast<std::uint32_t>(f[k].size());
      arena.insert(arena.end(), f[k].begin(), f[k].end());
    }
    return (only == 0 || set) && rows.size() < kBatch && arena.size() < kArena;
  }

  // Fills the next batch; false on a failure (the message set).
  int fill() {
    rows.clear();
    arena.clear();
    index = 0;
    while (rows.empty() && !finished) {
      if (ctx->options.stop != nullptr && *ctx->options.stop) return SQLITE_INTERRUPT;
      if (set) {
        stopped = false;
        SetScanResult part;
        try {
          part = set->more(*this);
        } catch (const std::exception&) {
          part.failure = currentFailure();
        }
        if (part.failure) return fail(describe(*part.failure));
        finished = set->done();
        continue;
      }
      stopped = false;
      const ScanResult stretch = scanStretch(*reader, next, *this, stopAt);
      if (stretch.failure) return fail(describe(*stretch.failure));
      next = stretch.next;
      // Done at the log's end (or the seek's); a stretch that got to its
      // stop, or that the sink ended, goes on.
      finished = next < 1 || (!stopped && !stretch.reachedStop) || next >= stopAt;
    }
    if (grouped && finished && !emitted) emitGroups();
    return SQLITE_OK;
  }

  std::string_view field(const Row& r, int f) const { return std::string_view(arena.data() + r.off[f], r.len[f]); }

  void emitGroups() {
    emitted = true;
    for (const auto& [k, count] : groups) {
      Row& r = rows.emplace_back();
      r.pos = 0;
      r.log = 0;
      r.count = count;
      r.error = false;
      std::size_t at = 0;
      for (int f = 1; f <= 10; ++f) {
        if (!copy[f]) continue;
        std::uint32_t n;
        std::memcpy(&n, k.data() + at, sizeof n);
        at += sizeof n;
        r.off[f] = static_cast<std::uint32_t>(arena.size());
        r.len[f] = n;
        arena.insert(arena.end(), k.data() + at, k.data() + at + n);
        at += n;
      }
    }
    groups.clear();
    // SQLite's order of the groups: BINARY on each column's text, each term
    // ascending or descending as asked.
    std::string a, b;
    std::sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) {
      for (const GroupTerm& t : groupOrder) {
        const int f = fieldOf(t.column);
        a.clear();
        b.clear();
        utf8->column(t.column, field(x, f), a);
        utf8->column(t.column, field(y, f), b);
        if (const int c = a.compare(b); c != 0) return t.desc ? c > 0 : c < 0;
      }
      return false;
    });
  }

};

int xConnect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  return connectTable(db, aux, kSchema, out);
}

char opOf(unsigned char op) {
  switch (op) {
    case SQLITE_INDEX_CONSTRAINT_EQ: return '=';
    case SQLITE_INDEX_CONSTRAINT_NE: return '!';
    case SQLITE_INDEX_CONSTRAINT_LT: return '<';
    case SQLITE_INDEX_CONSTRAINT_LE: return 'l';
    case SQLITE_INDEX_CONSTRAINT_GT: return '>';
    case SQLITE_INDEX_CONSTRAINT_GE: return 'g';
    case SQLITE_INDEX_CONSTRAINT_LIKE: return 'L';
    default: return 0;
  }
}

// idxStr: four letters per xFilter argument: the op ('F' the file, 'P' a
// seek by position, 'I' an IN list taken whole), the column, the
// collation, and '1' when the constraint is the cursor's to decide (omit)
// or '0' when its values only narrow what is read. Then, for grouped rows,
// '#' and the order's columns ('-' before a descending one).
// idxNum: colUsed.
int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info) {
  const TableContext* ctx = reinterpret_cast<TableVtab*>(v)->ctx;
  const bool push = ctx->options.pushDown;
  std::string plan;
  int args = 0;
  double cost = 1e7, rows = 1e6;
  bool fileUnusable = false, seek = false;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    const int column = c.iColumn < 0 || isPosColumn(c.iColumn) ? kPos : c.iColumn;
    char op = opOf(c.op);
    char collation = static_cast<char>(Collation::kBinary);
    bool omit = false;
    if (c.iColumn >= kArg0 && c.iColumn < kArg0 + kArgs && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      if (!c.usable) {
        fileUnusable = true;
        continue;
      }
      op = 'F';
      omit = true;
    } else if (!push || !c.usable || op == 0) {
      continue;
    } else if (column == kPos) {
      if (op != '=' || seek) continue;
      // Over several logs pos repeats; the rowid names the log too.
      const bool rowid = c.iColumn < 0 || c.iColumn >= kRowid;
      op = rowid ? 'R' : 'P';
      omit = seek = true;
      cost = 1, rows = 1;
      if (rowid) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
    } else if (column >= kDate && column <= kObject) {
      if (op == 'L') {
        if (!*ctx->likeIsOurs) continue;
        omit = true;
      } else {
        Collation k;
        if (!collationOf(sqlite3_vtab_collation(info, i), k)) continue;
        collation = static_cast<char>(k);
        sqlite3_value* rhs = nullptr;
        if (op == '=' && sqlite3_vtab_in(info, i, -1)) {
          sqlite3_vtab_in(info, i, 1);
          op = 'I';
        } else if (sqlite3_vtab_rhs_value(info, i, &rhs) == SQLITE_OK && rhs != nullptr &&
                   (sqlite3_value_type(rhs) == SQLITE_TEXT || sqlite3_value_type(rhs) == SQLITE_NULL)) {
          // A constant text meets a text column as text, whatever SQLite's
          // affinity rules; a number may meet it as a number (CAST(5 AS
          // INTEGER) against '05'), which SQLite alone can tell.
          omit = true;
        }
        if (!omit && (op != '=' && op != 'I')) continue;
        if (!omit && column < kUser) continue;
      }
      if (column >= kUser && op != '!') cost /= op == 'L' ? 2 : 20, rows /= op == 'L' ? 2 : 20;
    } else {
      continue;
    }
    plan += op;
    plan += static_cast<char>('a' + (op == 'F' ? c.iColumn : column));
    plan += collation;
    plan += omit ? '1' : '0';
    info->aConstraintUsage[i].argvIndex = ++args;
    info->aConstraintUsage[i].omit = omit ? 1 : 0;
  }
  if (fileUnusable) return SQLITE_CONSTRAINT;
  std::string groupOrder;
  if (push && info->nOrderBy > 0) {
    const auto& first = info->aOrderBy[0];
    if ((first.iColumn < 0 || isPosColumn(first.iColumn)) && !first.desc) {
      info->orderByConsumed = 1;  // the log's order
    } else if (sqlite3_vtab_distinct(info) == 1) {  // GROUP BY; DISTINCT keeps the order of first sight
      sqlite3_uint64 keys = ((sqlite3_uint64{1} << kArgs) - 1) << kArg0;
      for (int k = 0; k < info->nOrderBy; ++k) {
        const auto& o = info->aOrderBy[k];
        if (o.iColumn < kDate || o.iColumn > kObject) {
          keys = ~sqlite3_uint64{0};
          break;
        }
        keys |= sqlite3_uint64{1} << o.iColumn;
        if (o.desc) groupOrder.push_back('-');
        groupOrder.push_back(static_cast<char>('a' + o.iColumn));
      }
      // Any other column (the rowid included) needs the rows themselves.
      if ((info->colUsed & ~keys) == 0) {
        info->orderByConsumed = 1;
        plan += "#" + groupOrder;
      }
    }
  }
  info->idxNum = static_cast<int>(info->colUsed & ((1u << kColumns) - 1));
  info->idxStr = sqlite3_mprintf("%s", plan.c_str());
  info->needToFreeIdxStr = 1;
  info->estimatedCost = cost;
  info->estimatedRows = static_cast<sqlite3_int64>(rows);
  return SQLITE_OK;
}

Cursor* cursorOf(sqlite3_vtab_cursor* c) { return sql::cursorOf<Cursor>(c); }

std::string valueText(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string();
}

// The position SQLite's comparison with an INTEGER column matches: the
// value under numeric affinity ('1.0' and 1.0 are 1); 0 for none.
std::int64_t positionOf(sqlite3_value* v) {
  sqlite3_value* num = sqlite3_value_dup(v);
  if (num == nullptr) return 0;
  std::int64_t pos = 0;
  const int type = sqlite3_value_numeric_type(num);
  if (type == SQLITE_INTEGER) {
    pos = sqlite3_value_int64(num);
  } else if (type == SQLITE_FLOAT) {
    const double d = sqlite3_value_double(num);
    if (d >= 1 && d < 9.0e18 && static_cast<double>(static_cast<std::int64_t>(d)) == d) pos = static_cast<std::int64_t>(d);
  }
  sqlite3_value_free(num);
  return pos < 1 ? 0 : pos;
}

// A text the reader's filters can look for: UTF-8 that converts both ways,
// no NUL and no "|" (the filters' separator).
bool filterable(const std::string& utf8) {
  return utf8.find('\0') == std::string::npos && utf8.find('|') == std::string::npos && toUtf8(fromUtf8(utf8)) == utf8;
}

// The longest run of plain characters of a LIKE pattern (no escape), and
// whether it has a wildcard.
std::string longestLiteral(const std::string& pattern, bool& wild) {
  std::string run, best;
  wild = false;
  for (char ch : pattern) {
    if (ch == '%' || ch == '_') {
      wild = true;
      if (run.size() > best.size()) best = run;
      run.clear();
    } else {
      run.push_back(ch);
    }
  }
  if (run.size() > best.size()) best = run;
  return best;
}

int xFilter(sqlite3_vtab_cursor* base, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
  Cursor& c = *cursorOf(base);
  auto* table = reinterpret_cast<TableVtab*>(c.vtab);
  const CodePage& cp = codePageOf(c.ctx->options);
  if (!c.utf8) c.utf8 = std::make_unique<Utf8Bytes>(cp);
  c.checks.clear();
  c.rows.clear();
  c.index = 0;
  c.finished = true;
  c.only = 0;
  c.stopAt = INT64_MAX;
  c.set.reset();
  c.onlyLog = -1;
  char seekBy = 0;
  std::int64_t seekValue = 0;
  std::vector<std::pair<int, std::string>> named;  // the table-valued call's logs, by argument
  ReadQuery q = wholeLog();
  bool empty = false;
  std::array<int, 11> filterRank{};  // 2: = or IN, 1: LIKE
  const std::size_t n = std::strcspn(idxStr, "#");
  c.grouped = idxStr[n] == '#';
  c.emitted = false;
  c.groups.clear();
  c.groupOrder.clear();
  for (const char* g = c.grouped ? idxStr + n + 1 : ""; *g; ++g) {
    const bool desc = *g == '-';
    if (desc) ++g;
    c.groupOrder.push_back({*g - 'a', desc});
  }
  c.copy.fill(false);
  for (std::size_t k = 0; 4 * k + 3 < n && static_cast<int>(k) < argc; ++k) {
    const char op = idxStr[4 * k];
    const int column = idxStr[4 * k + 1] - 'a';
    const auto collation = static_cast<Collation>(idxStr[4 * k + 2]);
    const bool omit = idxStr[4 * k + 3] == '1';
    sqlite3_value* v = argv[k];
    if (op == 'F') {
      if (sqlite3_value_type(v) == SQLITE_NULL) empty = true;
      named.emplace_back(column, valueText(v));
      continue;
    }
    if (op == 'P' || op == 'R') {
      const std::int64_t pos = positionOf(v);
      if (pos == 0) empty = true;
      seekBy = op;
      seekValue = pos;
      continue;
    }
    // The values' texts, each taken at once (the next one of an IN list may
    // reuse it); narrowing needs them all text.
    std::vector<std::string> texts;
    bool allText = true;
    auto take = [&](sqlite3_value* item) {
      const int type = sqlite3_value_type(item);
      if (type == SQLITE_NULL) return;
      allText = allText && (type == SQLITE_TEXT || op == 'L');
      texts.push_back(valueText(item));
    };
    if (op == 'I') {
      sqlite3_value* item = nullptr;
      for (int rc = sqlite3_vtab_in_first(v, &item); rc == SQLITE_OK && item; rc = sqlite3_vtab_in_next(v, &item))
        take(item);
    } else {
      take(v);
    }
    if (omit) {
      Check check{op, column, collation, Check::kText, {}};
      if (texts.empty()) check.kind = Check::kNever;  // against NULL nothing holds
      else if (op != 'L' && sqlite3_value_type(v) == SQLITE_BLOB) check.kind = Check::kBlob;
      else check.value = texts[0];
      if (op == 'L' && check.value.size() >
                           static_cast<std::size_t>(sqlite3_limit(table->db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1))) {
        sqlite3_free(c.vtab->zErrMsg);
        c.vtab->zErrMsg = sqlite3_mprintf("LIKE or GLOB pattern too complex");
        return SQLITE_ERROR;
      }
      if (check.kind == Check::kNever && op != '!') empty = true;
      c.checks.push_back(std::move(check));
    }
    // What the reader can narrow by: fields 3-7 compared whole, 8-10 found
    // anywhere, both folded, so a superset of what SQLite keeps.
    if (column < kUser || texts.empty() || !allText) continue;
    const int f = column + 1;
    FieldFilter filter{true, f < 8, false, {}};
    int rank = 0;
    bool ok = true;
    if (op == '=' || op == 'I') {
      rank = 2;
      ok = collation == Collation::kBinary || collation == Collation::kNocase;
      for (const std::string& t : texts) {
        ok = ok && filterable(t) && !(f >= 8 && t.empty());
        filter.values.push_back(fromUtf8(t));
      }
    } else if (op == 'L') {
      rank = 1;
      bool wild = false;
      const std::string lit = longestLiteral(texts[0], wild);
      ok = !lit.empty() && filterable(lit) && (f >= 8 || !wild);
      filter.values.push_back(fromUtf8(lit));
    }
    if (ok && rank > filterRank[f]) {
      filterRank[f] = rank;
      q.filters[static_cast<std::size_t>(f)] = std::move(filter);
    }
  }
  const int used = idxNum;
  for (int col = 0; col < kIsError; ++col)
    if (used & (1 << col)) c.copy[fieldOf(col)] = true;
  c.wantError = (used & (1 << kIsError)) != 0;
  if (empty) return SQLITE_OK;
  // SQLite may pass one argument twice (in the plans of an OR).
  std::sort(named.begin(), named.end());
  c.args.fill(std::nullopt);
  for (const auto& [arg, name] : named) c.args[static_cast<std::size_t>(arg - kArg0)] = name;
  std::vector<std::string> given;
  for (std::size_t k = 0; k < named.size(); ++k)
    if (k == 0 || named[k].first != named[k - 1].first) given.push_back(std::move(named[k].second));
  if (const std::string refused = tableLogs(c.ctx->options, std::move(given), c.logs); !refused.empty())
    return c.fail(refused == "-" ? "the table log needs a log file: SELECT ... FROM log('events.log')" : refused);
  c.file = c.logs.file;
  if (seekBy != 0) {
    // In a set the rowid holds the log above the byte.
    c.only = seekBy == 'R' && c.logs.many ? seekValue & kSetPosMask : seekValue;
    if (seekBy == 'R' && c.logs.many) c.onlyLog = static_cast<int>(seekValue >> kSetLogShift);
    if (c.only == 0 || c.only == 2) return SQLITE_OK;
  }
  if (c.logs.many) {
    c.set = std::make_unique<LogSetReader>(c.logs.set, std::move(q), cp);
    if (const auto failure = c.set->start()) return c.fail(describe(*failure));
    c.finished = c.set->done();
    return c.fill();
  }
  c.reader = std::make_unique<Reader>(fromUtf8(c.file), std::move(q), cp);
  // The stretches of the scan go on with the log, windows and prefilter
  // the first one opened.
  c.reader->beginSession();
  if (c.only != 0) {
    c.next = c.only == 1 ? 1 : c.only - 2;  // from the line end before it: a line starts there
    // A line that starts before the stop is examined whole, however long:
    // the stop just after pos leaves that one record.
    c.stopAt = c.only + 1;
  } else {
    const ScanResult start = c.reader->findStart();
    if (start.failure) return c.fail(describe(*start.failure));
    c.next = start.next;
    if (c.next < 1) {
      if (!fileExists(fromUtf8(c.file))) return c.fail("the log \"" + c.file + "\" does not exist or is not a file");
      return SQLITE_OK;
    }
  }
  c.finished = false;
  const int rc = c.fill();
  if (rc == SQLITE_OK && c.rows.empty() && c.only != 0 && !fileExists(fromUtf8(c.file)))
    return c.fail("the log \"" + c.file + "\" does not exist or is not a file");
  return rc;
}

int xNext(sqlite3_vtab_cursor* base) {
  Cursor& c = *cursorOf(base);
  if (c.grouped && c.rows[c.index].count > 1) {
    --c.rows[c.index].count;
    return SQLITE_OK;
  }
  if (++c.index < c.rows.size()) return SQLITE_OK;
  return c.fill();
}

int xEof(sqlite3_vtab_cursor* base) {
  const Cursor& c = *cursorOf(base);
  return c.index >= c.rows.size();
}

// (kSetLogShift)
std::int64_t rowidOf(const Cursor& c, const Row& r) {
  return c.set ? (static_cast<std::int64_t>(r.log) << kSetLogShift) | r.pos : r.pos;
}

int xColumn(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int column) {
  Cursor& c = *cursorOf(base);
  const Row& r = c.rows[c.index];
  c.text.clear();
  if (isPosColumn(column)) {
    sqlite3_result_int64(ctx, column == kPos ? r.pos : rowidOf(c, r));
    return SQLITE_OK;
  }
  switch (column) {
    case kIsError: sqlite3_result_int(ctx, r.error ? 1 : 0); return SQLITE_OK;
    case kArg0: case kArg0 + 1: case kArg0 + 2: case kArg0 + 3:
    case kArg0 + 4: case kArg0 + 5: case kArg0 + 6: case kArg0 + 7: {
      const auto& name = c.args[static_cast<std::size_t>(column - kArg0)];
      if (name) sqlite3_result_text(ctx, name->data(), static_cast<int>(name->size()), SQLITE_TRANSIENT);
      else sqlite3_result_null(ctx);
      return SQLITE_OK;
    }
    case kFile: {
      const std::string& file = c.set ? c.logs.names[static_cast<std::size_t>(r.log)] : c.file;
      sqlite3_result_text(ctx, file.data(), static_cast<int>(file.size()), SQLITE_TRANSIENT);
      return SQLITE_OK;
    }
    case kModeText:
    case kCategoryText:
    case kEventText: {
      const int field = fieldOf(column);
      const std::string& shown = c.translator->utf8(field, c.field(r, field));
      sqlite3_result_text(ctx, shown.data(), static_cast<int>(shown.size()), SQLITE_TRANSIENT);
      return SQLITE_OK;
    }
    default: c.utf8->column(column, c.field(r, fieldOf(column)), c.text);
  }
  sqlite3_result_text(ctx, c.text.data(), static_cast<int>(c.text.size()), SQLITE_TRANSIENT);
  return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
  const Cursor& c = *cursorOf(base);
  *out = rowidOf(c, c.rows[c.index]);
  return SQLITE_OK;
}

const sqlite3_module kModule =
    eponymousModule({xConnect, xBestIndex, openCursor<Cursor>, closeCursor<Cursor>, xFilter, xNext, xEof, xColumn, xRowid});

}  // namespace

std::string tableLogs(const SqlOptions& options, std::vector<std::string> given, TableLogs& out) {
  out = TableLogs{};
  if (given.empty()) given = options.defaultLogs;
  if (given.empty() && !options.defaultLog.empty()) given.push_back(options.defaultLog);
  if (given.empty() || (given.size() == 1 && given.front().empty())) return "-";
  // A log the caller may not read is refused before anything looks at it.
  for (const std::string& g : given)
    if (std::string refused = refusedLog(options, g); !refused.empty()) return refused;
  std::vector<U16String> names;
  for (const std::string& g : given) names.push_back(fromUtf8(g));
  if (given.size() == 1 && checkLogShape(names.front()).shape != LogShape::Folder) {
    out.file = given.front();
    if (const LogShapeCheck shape = checkLogShape(names.front()); shape.shape != LogShape::Fine)
      return describeLogShape(shape, out.file);
    return {};
  }
  out.many = true;
  LogList list = listLogs(names);
  for (const U16String& log : list.logs) {
    out.names.push_back(toUtf8(log));
    if (std::string refused = refusedLog(options, out.names.back()); !refused.empty()) return refused;
  }
  if (list.refused) return describeLogShape(list.refused->second, toUtf8(list.refused->first));
  if (list.logs.empty()) return describeNoLog(list);
  out.set = std::move(list.logs);
  out.file = out.names.front();
  return {};
}

std::string refusedLog(const SqlOptions& options, const std::string& file) {
  if (!options.mayRead || options.mayRead(file)) return {};
  return "the log \"" + file + "\" may not be read here: only the served log";
}

const CodePage& codePageOf(const SqlOptions& options) {
  static const std::unique_ptr<CodePage> fallback = CodePage::make(1251);
  return options.codepage ? options.codepage() : *fallback;
}

ReadQuery wholeLog() {
  ReadQuery q;
  q.begin = openBeginKey();
  q.end = openEndKey();
  return q;
}

ScanResult scanStretch(Reader& reader, std::int64_t from, RecordSink& sink, std::int64_t stopAt) {
  ScanResult r;
  try {
    return reader.scan(from, sink, std::min(stopAt, from > INT64_MAX - kStretch ? INT64_MAX : from + kStretch));
  } catch (const std::exception&) {
    r.failure = currentFailure();
  }
  return r;
}


int registerLogTable(sqlite3* db, const SqlOptions& options, SqlState* state) {
  auto likeIsOurs = std::make_shared<bool>(true);
  int rc = registerTable(db, "log", kModule, options, state, likeIsOurs);
  if (rc == SQLITE_OK) rc = registerSessionsTable(db, options, state);
  if (rc == SQLITE_OK) rc = registerLike(db, likeIsOurs);
  return rc;
}

}  // namespace velmora::sql
