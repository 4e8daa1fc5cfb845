// What every table of ours shares with SQLite's virtual-table interface:
// the context a module is registered with, connecting and disconnecting a
// table of a given shape, and a failure reported on the table.
#pragma once

#include <memory>
#include <string>

#include "core/unique_resource.h"
#include "sql/log_table.h"
#include "sql/sqlite_api.h"

namespace velmora::sql {

// Owned by the module (SQLite deletes it with the connection).
struct TableContext {
  SqlOptions options;
  SqlState* state;
  // True while like() is still ours (sql/text_compare.h); a table without
  // LIKE constraints holds none.
  std::shared_ptr<bool> likeIsOurs;
};

// A table: SQLite's base first, so that a sqlite3_vtab* is one of these.
struct TableVtab {
  sqlite3_vtab base{};
  TableContext* ctx = nullptr;
  sqlite3* db = nullptr;
};

inline int connectTable(sqlite3* db, void* aux, const char* schema, sqlite3_vtab** out) {
  const int rc = sqlite3_declare_vtab(db, schema);
  if (rc != SQLITE_OK) return rc;
  auto* t = new TableVtab;
  t->ctx = static_cast<TableContext*>(aux);
  t->db = db;
  *out = &t->base;
  return SQLITE_OK;
}

inline int disconnectTable(sqlite3_vtab* v) {
  delete reinterpret_cast<TableVtab*>(v);
  return SQLITE_OK;
}

// The message goes to SQLite; a failing log (not the statement) is noted.
inline int failTable(sqlite3_vtab* vtab, TableContext* ctx, const std::string& message) {
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
  if (ctx->state) ctx->state->logFailed = true;
  return SQLITE_ERROR;
}

// What a table's cursor shares: its table and the context it reads under.
// A cursor is a sink of the reader's records.
struct CursorBase : RecordSink {
  explicit CursorBase(sqlite3_vtab* table) : vtab(table), ctx(reinterpret_cast<TableVtab*>(table)->ctx) {}
  int fail(const std::string& message) { return failTable(vtab, ctx, message); }

  sqlite3_vtab* vtab;
  TableContext* ctx;
};

// What SQLite holds of a cursor: its base first, so that the one converts
// to the other.
template <class Cursor>
struct CursorHandle {
  sqlite3_vtab_cursor base;
  Cursor* cursor;
};

template <class Cursor>
void closeCursorHandle(sqlite3_vtab_cursor* c) {
  auto* h = reinterpret_cast<CursorHandle<Cursor>*>(c);
  delete h->cursor;
  delete h;
}
// Owns a cursor until SQLite is handed it (xOpen), and again from xClose.
template <class Cursor>
using CursorOwner = UniqueResource<sqlite3_vtab_cursor*, closeCursorHandle<Cursor>>;

template <class Cursor>
Cursor* cursorOf(sqlite3_vtab_cursor* c) {
  return reinterpret_cast<CursorHandle<Cursor>*>(c)->cursor;
}

// xOpen and xClose of a table whose cursor is made from its table.
template <class Cursor>
int openCursor(sqlite3_vtab* v, sqlite3_vtab_cursor** out) {
  auto* h = new CursorHandle<Cursor>{};
  CursorOwner<Cursor> owner(&h->base);
  h->cursor = new Cursor(v);
  *out = owner.release();
  return SQLITE_OK;
}

template <class Cursor>
int closeCursor(sqlite3_vtab_cursor* c) {
  const CursorOwner<Cursor> owner(c);
  return SQLITE_OK;
}

// An eponymous table's module: no xCreate, so the table exists on every
// connection under the module's name.
struct TableFunctions {
  decltype(sqlite3_module::xConnect) connect;
  decltype(sqlite3_module::xBestIndex) bestIndex;
  decltype(sqlite3_module::xOpen) open;
  decltype(sqlite3_module::xClose) close;
  decltype(sqlite3_module::xFilter) filter;
  decltype(sqlite3_module::xNext) next;
  decltype(sqlite3_module::xEof) eof;
  decltype(sqlite3_module::xColumn) column;
  decltype(sqlite3_module::xRowid) rowid;
};

inline sqlite3_module eponymousModule(const TableFunctions& f) {
  sqlite3_module m{};
  m.xConnect = f.connect;
  m.xBestIndex = f.bestIndex;
  m.xDisconnect = disconnectTable;
  m.xDestroy = disconnectTable;
  m.xOpen = f.open;
  m.xClose = f.close;
  m.xFilter = f.filter;
  m.xNext = f.next;
  m.xEof = f.eof;
  m.xColumn = f.column;
  m.xRowid = f.rowid;
  return m;
}

// Registers module under name with a context that lives as long as db.
inline int registerTable(sqlite3* db, const char* name, const sqlite3_module& module, const SqlOptions& options,
                         SqlState* state, std::shared_ptr<bool> likeIsOurs = {}) {
  auto* ctx = new TableContext{options, state, std::move(likeIsOurs)};
  return sqlite3_create_module_v2(db, name, &module, ctx, [](void* p) { delete static_cast<TableContext*>(p); });
}

}  // namespace velmora::sql
