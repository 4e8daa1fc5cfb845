// The virtual table `log`. Invariants:
//  - Every constraint the table takes (aConstraintUsage.omit) is checked
//    exactly by the cursor on the record's bytes, with SQLite's meaning
//    (BINARY comparison of UTF-8 text, like() below); the reader's period
//    and filters only narrow what is read, so they may let through more
//    than a constraint wants, never less.
//  - Rows come out in log order, which is time order: ORDER BY date, time
//    and pos ascending are consumed.
//  - Per record nothing is allocated: used fields are copied into a batch
//    arena whose capacity is reused, and converted only in xColumn.
#include "sql/log_table.h"
#include "sql/vtab.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/errors.h"
#include "core/fileio.h"
#include "sql/sessions_table.h"
#include "text/codepage.h"
#include "transform/transform.h"

namespace velmora::sql {
namespace {

enum Column : int {
  kDate, kTime, kUser, kMode, kCategory, kEvent, kNumber, kComment, kId, kObject,
  kModeText, kCategoryText, kEventText, kIsError, kPos, kFile, kColumns
};

constexpr const char* kSchema =
    "CREATE TABLE x(date TEXT, time TEXT, user TEXT, mode TEXT, category TEXT, event TEXT, number TEXT, "
    "comment TEXT, id TEXT, object TEXT, mode_text TEXT, category_text TEXT, event_text TEXT, "
    "is_error INTEGER, pos INTEGER, file HIDDEN)";

// The record field (1..10) a column shows.
int fieldOf(int column) {
  if (column <= kObject) return column + 1;
  if (column >= kModeText && column <= kEventText) return column - kModeText + 4;
  return 0;
}

// ---- case folding as the reader folds: through the code page ----------------

struct Pattern {
  enum Kind : char { kLit, kOne, kAny };
  struct Token {
    Kind kind;
    char16_t unit;
  };
  std::vector<Token> tokens;
};

Pattern parsePattern(std::u16string_view p, char16_t escape, const CodePage& cp) {
  Pattern out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    char16_t c = p[i];
    if (escape != 0 && c == escape && i + 1 < p.size()) {
      out.tokens.push_back({Pattern::kLit, cp.upperUnit(p[++i])});
    } else if (c == u'%') {
      if (out.tokens.empty() || out.tokens.back().kind != Pattern::kAny) out.tokens.push_back({Pattern::kAny, 0});
    } else if (c == u'_') {
      out.tokens.push_back({Pattern::kOne, 0});
    } else {
      out.tokens.push_back({Pattern::kLit, cp.upperUnit(c)});
    }
  }
  return out;
}

// s: folded units. Greedy with one backtrack point, which suffices for % and _.
bool likeMatch(const Pattern& pat, const char16_t* s, std::size_t n) {
  const auto& t = pat.tokens;
  std::size_t pi = 0, si = 0, starP = SIZE_MAX, starS = 0;
  while (si < n) {
    if (pi < t.size() && t[pi].kind != Pattern::kAny && (t[pi].kind == Pattern::kOne || t[pi].unit == s[si])) {
      ++pi, ++si;
    } else if (pi < t.size() && t[pi].kind == Pattern::kAny) {
      starP = pi++;
      starS = si;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < t.size() && t[pi].kind == Pattern::kAny) ++pi;
  return pi == t.size();
}

void foldUtf8(std::string_view text, const CodePage& cp, std::u16string& out) {
  out = fromUtf8(text);
  for (char16_t& u : out) u = cp.upperUnit(u);
}

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const CodePage& cp = codePageOf(*static_cast<const SqlOptions*>(sqlite3_user_data(ctx)));
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;  // NULL
  char16_t escape = 0;
  if (argc == 3) {
    const std::u16string e = fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[2])));
    if (e.size() != 1) {
      sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
      return;
    }
    escape = e[0];
  }
  auto* pat = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
  if (pat == nullptr) {
    const char* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    pat = new Pattern(parsePattern(fromUtf8(p ? p : ""), escape, cp));
    sqlite3_set_auxdata(ctx, 0, pat, [](void* v) { delete static_cast<Pattern*>(v); });
    pat = static_cast<Pattern*>(sqlite3_get_auxdata(ctx, 0));
    if (pat == nullptr) {
      sqlite3_result_error_nomem(ctx);
      return;
    }
  }
  const char* s = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  std::u16string folded;
  foldUtf8(s ? s : "", cp, folded);
  sqlite3_result_int(ctx, likeMatch(*pat, folded.data(), folded.size()) ? 1 : 0);
}

// ---- the table ----------------------------------------------------------------

// One constraint the cursor checks: op on a column against values.
struct Check {
  char op;  // = (also IN) ! < l(<=) > g(>=) L(like)
  int column;
  bool null = false, blob = false;
  std::vector<std::string> utf8;   // the values as text
  std::vector<std::string> bytes;  // =, IN, !=: the values as log bytes (those the code page can write)
  Pattern pattern;
};

struct Row {
  std::int64_t pos;
  std::uint64_t count;  // grouped: the rows of the group still to hand out
  bool error;
  std::array<std::uint32_t, 11> off, len;
};

// UTF-8 of each byte of the code page.
struct Utf8Bytes {
  std::array<std::array<char, 4>, 256> text{};
  std::array<std::uint8_t, 256> size{};
  std::array<char16_t, 256> folded{};
  explicit Utf8Bytes(const CodePage& cp) {
    for (int b = 0; b < 256; ++b) {
      const std::string s = toUtf8(std::u16string(1, cp.toUnit(static_cast<unsigned char>(b))));
      size[b] = static_cast<std::uint8_t>(std::min<std::size_t>(s.size(), 4));
      std::memcpy(text[b].data(), s.data(), size[b]);
      folded[b] = cp.upperUnit(cp.toUnit(static_cast<unsigned char>(b)));
    }
  }
  void append(std::string_view bytes, std::string& out) const {
    for (char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x80) out.push_back(c);
      else out.append(text[b].data(), size[b]);
    }
  }
};

struct Cursor : RecordSink {
  sqlite3_vtab* vtab = nullptr;
  TableContext* ctx = nullptr;
  std::unique_ptr<Reader> reader;
  bool stopped = false;  // the last stretch ended at the sink's request
  std::unique_ptr<Utf8Bytes> utf8;
  std::vector<Check> checks;
  std::array<bool, 11> copy{};  // fields to keep
  bool wantError = false;
  std::vector<Row> rows;
  std::vector<char> arena;
  std::size_t index = 0;
  std::int64_t next = -1, stopAt = INT64_MAX, only = 0;  // only: the pos of a seek
  bool finished = true;
  // Grouped: rows that SQLite needs only adjacent (a GROUP BY or DISTINCT
  // on the used columns alone) are counted per group while the log is
  // read, and each group's row is handed out as many times, in the
  // groups' sorted order, so that SQLite's sorter has nothing to do.
  bool grouped = false, emitted = false;
  std::string groupOrder;  // the columns SQLite groups by, as letters
  std::string key;
  std::unordered_map<std::string, std::uint64_t> groups;
  std::string file;
  std::string text;        // a converted cell, reused
  std::u16string units;    // folded units of a field, reused
  std::array<std::unordered_map<std::string, std::string>, 11> translated;
  Transform transform;

  static constexpr std::size_t kBatch = 4096, kArena = 1 << 20;
  static constexpr std::int64_t kStretch = 32 << 20;  // read between looks at the stop flag

  bool passes(const RecordFields& f) {
    for (const Check& c : checks) {
      text.clear();
      const int field = fieldOf(c.column);
      if (c.column == kDate) {
        const std::string_view d = f[1];
        utf8->append(d.substr(0, 4), text);
        text.push_back('-');
        utf8->append(d.substr(4, 2), text);
        text.push_back('-');
        utf8->append(d.substr(6, 2), text);
      } else if (c.op != '=' && c.op != '!') {
        utf8->append(f[field], text);
      }
      bool ok;
      if (c.null) {
        ok = false;
      } else if (c.op == '=' || c.op == '!') {
        bool found = false;
        if (c.column == kDate) {
          for (const std::string& v : c.utf8) found = found || v == text;
        } else {
          for (const std::string& v : c.bytes) found = found || v == f[field];
        }
        ok = c.op == '=' ? found : (c.blob || !found);
      } else if (c.op == 'L') {
        units.clear();
        for (char ch : f[field]) units.push_back(utf8->folded[static_cast<unsigned char>(ch)]);
        ok = likeMatch(c.pattern, units.data(), units.size());
      } else if (c.blob) {
        ok = c.op == '<' || c.op == 'l';  // text sorts before a blob
      } else {
        const int cmp = text.compare(c.utf8[0]);
        ok = c.op == '<' ? cmp < 0 : c.op == 'l' ? cmp <= 0 : c.op == '>' ? cmp > 0 : cmp >= 0;
      }
      if (!ok) return false;
    }
    return true;
  }

  bool record(const RecordFields& f) override {
    stopped = !take(f, reader->recordPosition());
    return !stopped;
  }

  bool take(const RecordFields& f, std::int64_t position) {
    if (only != 0 && position != only) return position < only;  // a seek: that one record
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
    r.count = 1;
    r.error = wantError && ((f[7].size() == 1 && f[7][0] == '5') || f[8].data() == nullptr);
    for (int k = 1; k <= 10; ++k) {
      if (!copy[k]) continue;
      r.off[k] = static_cast<std::uint32_t>(arena.size());
      r.len[k] = static_cast<std::uint32_t>(f[k].size());
      arena.insert(arena.end(), f[k].begin(), f[k].end());
    }
    return only == 0 && rows.size() < kBatch && arena.size() < kArena;
  }

  // Fills the next batch; false on a failure (the message set).
  int fill() {
    rows.clear();
    arena.clear();
    index = 0;
    while (rows.empty() && !finished) {
      if (ctx->options.stop != nullptr && *ctx->options.stop) return SQLITE_INTERRUPT;
      const std::int64_t until = std::min(stopAt, next > INT64_MAX - kStretch ? INT64_MAX : next + kStretch);
      stopped = false;
      const ScanResult stretch = scanStretch(*reader, next, *this, until);
      if (stretch.failure) return fail(failureText(*stretch.failure));
      next = stretch.next;
      // Done at the period's end or the log's; a stretch that got to its
      // stop, or that the sink ended, goes on.
      finished = next < 1 || (!stopped && !stretch.reachedStop) || next >= stopAt;
    }
    if (grouped && finished && !emitted) emitGroups();
    return SQLITE_OK;
  }

  void emitGroups() {
    emitted = true;
    for (const auto& [k, count] : groups) {
      Row& r = rows.emplace_back();
      r.pos = 0;
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
    // SQLite's order of the groups: BINARY on the UTF-8 of each column.
    std::string a, b;
    std::sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) {
      for (char letter : groupOrder) {
        const int f = fieldOf(letter - 'a');
        a.clear();
        b.clear();
        utf8->append(std::string_view(arena.data() + x.off[f], x.len[f]), a);
        utf8->append(std::string_view(arena.data() + y.off[f], y.len[f]), b);
        if (const int c = a.compare(b); c != 0) return c < 0;
      }
      return false;
    });
  }

  int fail(const std::string& message) { return failTable(vtab, ctx, message); }
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

// idxStr: one op and one column letter per xFilter argument; 'F' the file,
// 'P' a seek by position, 'I' an IN list taken whole. idxNum: colUsed.
int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info) {
  const TableContext* ctx = reinterpret_cast<TableVtab*>(v)->ctx;
  std::string plan;
  double cost = 1e7, rows = 1e6;
  bool grouped = false;
  std::string groupOrder;
  bool fileUnusable = false;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    const int column = c.iColumn < 0 ? kPos : c.iColumn;
    char op = opOf(c.op);
    if (column == kFile && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      if (!c.usable) {
        fileUnusable = true;
        continue;
      }
      op = 'F';
    } else if (!ctx->options.pushDown || !c.usable || op == 0) {
      continue;
    } else if (column == kPos) {
      if (op != '=') continue;
      op = 'P';
      cost = 1, rows = 1;
      info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
    } else if (column == kDate || column == kTime) {
      if (op == '!' || op == 'L') continue;
      if (column == kDate) cost /= op == '=' ? 300 : 4, rows /= op == '=' ? 300 : 4;
    } else if (column >= kUser && column <= kObject) {
      if (op == '<' || op == 'l' || op == '>' || op == 'g') continue;
      if (op == '=' && sqlite3_vtab_in(info, i, -1)) {
        sqlite3_vtab_in(info, i, 1);
        op = 'I';
      }
      if (op != '!') cost /= op == 'L' ? 2 : 20, rows /= op == 'L' ? 2 : 20;
    } else {
      continue;
    }
    plan.push_back(op);
    plan.push_back(static_cast<char>('a' + column));
    info->aConstraintUsage[i].argvIndex = static_cast<int>(plan.size() / 2);
    info->aConstraintUsage[i].omit = 1;
  }
  if (fileUnusable) return SQLITE_CONSTRAINT;
  if (ctx->options.pushDown && info->nOrderBy > 0) {
    bool consumed = true;
    for (int k = 0; k < info->nOrderBy && consumed; ++k) {
      const auto& o = info->aOrderBy[k];
      const int column = o.iColumn < 0 ? kPos : o.iColumn;
      if (o.desc) consumed = false;
      else if (column == kPos) break;
      else if (column == kDate) consumed = k == 0;
      else if (column == kTime) consumed = k > 0 && info->aOrderBy[k - 1].iColumn == kDate;
      else consumed = false;
    }
    info->orderByConsumed = consumed ? 1 : 0;
    const int distinct = consumed ? 0 : sqlite3_vtab_distinct(info);
    if (distinct == 1) {  // GROUP BY; DISTINCT keeps the order of first sight
      sqlite3_uint64 keys = 0;
      bool ok = true;
      for (int k = 0; k < info->nOrderBy; ++k) {
        const auto& o = info->aOrderBy[k];
        ok = ok && !o.desc && o.iColumn >= kDate && o.iColumn <= kObject;
        if (!ok) break;
        keys |= sqlite3_uint64{1} << o.iColumn;
        groupOrder.push_back(static_cast<char>('a' + o.iColumn));
      }
      if (ok && (info->colUsed & ~keys & ~(sqlite3_uint64{1} << kFile)) == 0) {
        info->orderByConsumed = 1;
        grouped = true;
      }
    }
  }
  info->idxNum = static_cast<int>(info->colUsed & 0xFFFF) | (info->colUsed >> 63 ? 0xFFFF : 0) | (grouped ? 1 << 16 : 0);
  if (grouped) plan += "#" + groupOrder;
  info->idxStr = sqlite3_mprintf("%s", plan.c_str());
  info->needToFreeIdxStr = 1;
  info->estimatedCost = cost;
  info->estimatedRows = static_cast<sqlite3_int64>(rows);
  return SQLITE_OK;
}

// What SQLite holds: its cursor base first, so that the one converts to the other.
struct Handle {
  sqlite3_vtab_cursor base;
  Cursor* cursor;
};

int xOpen(sqlite3_vtab* v, sqlite3_vtab_cursor** out) {
  auto* h = new Handle{};
  h->cursor = new Cursor;
  h->cursor->vtab = v;
  h->cursor->ctx = reinterpret_cast<TableVtab*>(v)->ctx;
  h->cursor->transform.SetTransformStr(u"0111");
  *out = &h->base;
  return SQLITE_OK;
}

Cursor* cursorOf(sqlite3_vtab_cursor* c) { return reinterpret_cast<Handle*>(c)->cursor; }

int xClose(sqlite3_vtab_cursor* c) {
  delete cursorOf(c);
  delete reinterpret_cast<Handle*>(c);
  return SQLITE_OK;
}

std::string valueText(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string();
}

// A 'YYYY-MM-DD' text as the 8 bytes of a key's date, or "".
std::string dateBytes(const std::string& v) {
  if (v.size() != 10 || v[4] != '-' || v[7] != '-') return "";
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (v[i] < '0' || v[i] > '9') return "";
  return v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
}

// The log bytes of UTF-8 text, when every character has a byte.
bool logBytes(const std::string& utf8, const CodePage& cp, std::string& out) {
  out.clear();
  for (char16_t u : fromUtf8(utf8)) {
    const auto b = cp.toByte(u);
    if (!b) return false;
    out.push_back(static_cast<char>(*b));
  }
  return true;
}

int xFilter(sqlite3_vtab_cursor* base, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
  Cursor& c = *cursorOf(base);
  const CodePage& cp = codePageOf(c.ctx->options);
  if (!c.utf8) c.utf8 = std::make_unique<Utf8Bytes>(cp);
  c.checks.clear();
  c.rows.clear();
  c.index = 0;
  c.finished = true;
  c.only = 0;
  c.stopAt = INT64_MAX;
  c.file = c.ctx->options.defaultLog;
  ReadQuery q = wholeLog();
  bool empty = false;
  std::string dateLo, dateHi;  // a date range both of whose ends are one day, for time bounds
  std::vector<std::pair<char, std::string>> times;
  std::array<int, 11> filterRank{};  // 3: = or IN, 2: LIKE, 1: !=
  const std::size_t n = std::strcspn(idxStr, "#");
  c.grouped = (idxNum & (1 << 16)) != 0;
  c.emitted = false;
  c.groups.clear();
  c.groupOrder = c.grouped ? std::string(idxStr + n + 1) : std::string();
  c.copy.fill(false);
  for (std::size_t k = 0; 2 * k + 1 < n && static_cast<int>(k) < argc; ++k) {
    const char op = idxStr[2 * k];
    const int column = idxStr[2 * k + 1] - 'a';
    sqlite3_value* v = argv[k];
    if (op == 'F') {
      if (sqlite3_value_type(v) == SQLITE_NULL) empty = true;
      c.file = valueText(v);
      continue;
    }
    if (op == 'P') {
      sqlite3_value* num = sqlite3_value_dup(v);
      sqlite3_value_numeric_type(num);
      const bool integer = sqlite3_value_type(num) == SQLITE_INTEGER;
      const sqlite3_int64 pos = sqlite3_value_int64(num);
      sqlite3_value_free(num);
      if (!integer || pos < 1 || pos == 2 || (c.only != 0 && c.only != pos)) empty = true;
      c.only = pos;
      continue;
    }
    Check check;
    check.op = op == 'I' ? '=' : op;
    check.column = column;
    // Each value is taken at once: the next one of an IN list may reuse it.
    auto take = [&](sqlite3_value* item) {
      if (sqlite3_value_type(item) == SQLITE_BLOB && check.op == '=') return;  // text never equals a blob
      check.utf8.push_back(valueText(item));
      std::string bytes;
      if (logBytes(check.utf8.back(), cp, bytes)) check.bytes.push_back(std::move(bytes));
    };
    if (op == 'I') {
      sqlite3_value* item = nullptr;
      for (int rc = sqlite3_vtab_in_first(v, &item); rc == SQLITE_OK && item; rc = sqlite3_vtab_in_next(v, &item))
        if (sqlite3_value_type(item) != SQLITE_NULL) take(item);
    } else {
      check.null = sqlite3_value_type(v) == SQLITE_NULL;
      check.blob = sqlite3_value_type(v) == SQLITE_BLOB;
      if (!check.null) take(v);
    }
    if (check.op == 'L' && !check.null) check.pattern = parsePattern(fromUtf8(check.utf8.at(0)), 0, cp);
    if (check.op == '=' && check.utf8.empty()) empty = true;
    if (check.utf8.empty()) check.null = true;

    // What the reader can narrow by.
    if (column == kDate && !check.null && !check.blob && check.op != 'L') {
      const std::string d = dateBytes(check.utf8[0]);
      if (!d.empty() && check.utf8.size() == 1) {
        std::string last = d;
        if (last.back() > '\0') --last.back();
        if (check.op == '=' || check.op == 'g') q.begin = std::max(q.begin, d + std::string(10, '\0'));
        if (check.op == '>') q.begin = std::max(q.begin, d + std::string(10, '\xFF'));
        if (check.op == '=' || check.op == 'l') q.end = std::min(q.end, d + std::string(10, '\xFF'));
        if (check.op == '<') q.end = std::min(q.end, last + std::string(10, '\xFF'));
        if (check.op == '=' || check.op == 'g') dateLo = std::max(dateLo, d);
        if (check.op == '=' || check.op == 'l') dateHi = dateHi.empty() ? d : std::min(dateHi, d);
      }
    } else if (column == kTime && !check.null && !check.blob && check.utf8[0].size() == 8) {
      times.emplace_back(check.op, check.utf8[0]);
    } else if (column >= kUser && column <= kObject) {
      const int f = column + 1;
      int rank = 0;
      // Compared whole in fields 3-7, found anywhere in 8-10 (SQLite still
      // checks each row itself).
      FieldFilter filter{true, f < 8, false, {}};
      bool ok = !check.null;
      if (check.op == '=' && !check.bytes.empty()) {
        rank = 3;
        for (const std::string& u : check.utf8) {
          ok = ok && u.find('|') == std::string::npos && !(f >= 8 && u.empty());
          filter.values.push_back(fromUtf8(u));
        }
      } else if (check.op == 'L' && ok) {
        rank = 2;
        // The longest literal run: found anywhere (fields 8-10), or the
        // whole value when the pattern has no wildcard (3-7).
        std::u16string run, best;
        bool wild = false;
        for (const auto& t : check.pattern.tokens) {
          if (t.kind == Pattern::kLit) {
            run.push_back(t.unit);
          } else {
            wild = true;
            if (run.size() > best.size()) best = run;
            run.clear();
          }
        }
        if (run.size() > best.size()) best = run;
        const std::string lit = toUtf8(best);
        ok = !best.empty() && lit.find('|') == std::string::npos && (f >= 8 || !wild);
        filter.values.push_back(std::move(best));
      } else if (check.op == '!' && ok && f <= 7 && !check.blob && check.bytes.size() == 1) {
        // Left out by the reader only when no other byte folds to the same letters.
        rank = 1;
        for (char ch : check.bytes[0]) {
          const char16_t folded = c.utf8->folded[static_cast<unsigned char>(ch)];
          for (int b = 0; b < 256; ++b)
            if (b != static_cast<unsigned char>(ch) && c.utf8->folded[b] == folded) ok = false;
        }
        ok = ok && check.utf8[0].find('|') == std::string::npos;
        filter.values.push_back(fromUtf8(check.utf8[0]));
        filter.invert = true;
      }
      if (ok && rank > filterRank[f]) {
        filterRank[f] = rank;
        q.filters[static_cast<std::size_t>(f)] = std::move(filter);
      }
    }
    c.checks.push_back(std::move(check));
  }
  if (!dateLo.empty() && dateLo == dateHi) {
    const std::string day = dateLo + ";";
    for (const auto& [op, t] : times) {
      if (op == '=' || op == 'g') q.begin = std::max(q.begin, day + t + '\0');
      if (op == '>') q.begin = std::max(q.begin, day + t + '\xFF');
      if (op == '=' || op == 'l') q.end = std::min(q.end, day + t + '\xFF');
      if (op == '<') q.end = std::min(q.end, day + t + '\0');
    }
  }
  const int used = idxNum & 0xFFFF;
  for (int col = 0; col < kIsError; ++col)
    if (used & (1 << col)) c.copy[fieldOf(col)] = true;
  c.wantError = (used & (1 << kIsError)) != 0;
  if (empty) return SQLITE_OK;
  if (c.file.empty()) {
    return c.fail("the table log needs a log file: SELECT ... FROM log('events.log')");
  }
  if (q.begin > q.end) return SQLITE_OK;
  if (const std::string refused = refusedLog(c.ctx->options, c.file); !refused.empty()) return c.fail(refused);
  c.reader = std::make_unique<Reader>(fromUtf8(c.file), std::move(q), cp);
  if (c.only != 0) {
    c.next = c.only == 1 ? 1 : c.only - 2;  // from the line end before it: a line starts there
    // A line that starts before the stop is examined whole, however long:
    // the stop just after pos leaves that one record.
    c.stopAt = c.only + 1;
  } else {
    const ScanResult start = c.reader->findStart();
    if (start.failure) return c.fail(failureText(*start.failure));
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

int xColumn(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int column) {
  Cursor& c = *cursorOf(base);
  const Row& r = c.rows[c.index];
  auto bytes = [&](int field) { return std::string_view(c.arena.data() + r.off[field], r.len[field]); };
  c.text.clear();
  switch (column) {
    case kIsError: sqlite3_result_int(ctx, r.error ? 1 : 0); return SQLITE_OK;
    case kPos: sqlite3_result_int64(ctx, r.pos); return SQLITE_OK;
    case kFile: sqlite3_result_text(ctx, c.file.data(), static_cast<int>(c.file.size()), SQLITE_TRANSIENT); return SQLITE_OK;
    case kDate: {
      const std::string_view d = bytes(1);
      c.utf8->append(d.substr(0, 4), c.text);
      c.text.push_back('-');
      c.utf8->append(d.substr(4, 2), c.text);
      c.text.push_back('-');
      c.utf8->append(d.substr(6), c.text);
      break;
    }
    case kModeText:
    case kCategoryText:
    case kEventText: {
      const int field = fieldOf(column);
      auto& cache = c.translated[field];
      const std::string_view code = bytes(field);
      auto it = cache.find(std::string(code));
      if (it == cache.end()) {
        if (cache.size() > 4096) cache.clear();  // a damaged log's ever new codes
        std::u16string units = codePageOf(c.ctx->options).decode(code);
        c.transform.TransformCol(units, static_cast<std::int16_t>(field));
        it = cache.emplace(std::string(code), toUtf8(units)).first;
      }
      sqlite3_result_text(ctx, it->second.data(), static_cast<int>(it->second.size()), SQLITE_TRANSIENT);
      return SQLITE_OK;
    }
    default: c.utf8->append(bytes(fieldOf(column)), c.text);
  }
  sqlite3_result_text(ctx, c.text.data(), static_cast<int>(c.text.size()), SQLITE_TRANSIENT);
  return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
  const Cursor& c = *cursorOf(base);
  *out = c.rows[c.index].pos;
  return SQLITE_OK;
}

const sqlite3_module kModule =
    eponymousModule({xConnect, xBestIndex, xOpen, xClose, xFilter, xNext, xEof, xColumn, xRowid});

}  // namespace

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
  q.begin = std::string(18, '\0');
  q.end = std::string(18, '\xFF');
  return q;
}

ScanResult scanStretch(Reader& reader, std::int64_t from, RecordSink& sink, std::int64_t stopAt) {
  ScanResult r;
  try {
    return reader.scan(from, sink, stopAt);
  } catch (const Failure& f) {
    r.failure = f;
  } catch (const std::bad_alloc&) {
    r.failure = Failure(ErrorNumber::OutOfMemory, u"Недостаточно памяти");
  } catch (const std::exception& e) {
    r.failure = Failure(ErrorNumber::InternalError, u"Внутренняя ошибка: " + fromUtf8(e.what()));
  }
  return r;
}

std::string failureText(const Failure& failure) {
  return "NumErr " + std::to_string(failure.number()) + ": " + toUtf8(failure.text());
}

int registerLogTable(sqlite3* db, const SqlOptions& options, SqlState* state) {
  int rc = registerTable(db, "log", kModule, options, state);
  if (rc == SQLITE_OK) rc = registerSessionsTable(db, options, state);
  for (int args : {2, 3}) {
    if (rc == SQLITE_OK)
      rc = sqlite3_create_function_v2(db, "like", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, new SqlOptions(options),
                                      likeFunction, nullptr, nullptr,
                                      [](void* p) { delete static_cast<SqlOptions*>(p); });
  }
  return rc;
}

}  // namespace velmora::sql
