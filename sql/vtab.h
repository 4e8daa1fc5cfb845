// What every table of ours shares with SQLite's virtual-table interface:
// the context a module is registered with, connecting and disconnecting a
// table of a given shape, and a failure reported on the table.
#pragma once

#include <string>

#include "sql/log_table.h"
#include "sql/sqlite_api.h"

namespace velmora::sql {

// Owned by the module (SQLite deletes it with the connection).
struct TableContext {
  SqlOptions options;
  SqlState* state;
};

// A table: SQLite's base first, so that a sqlite3_vtab* is one of these.
struct TableVtab {
  sqlite3_vtab base{};
  TableContext* ctx = nullptr;
};

inline int connectTable(sqlite3* db, void* aux, const char* schema, sqlite3_vtab** out) {
  const int rc = sqlite3_declare_vtab(db, schema);
  if (rc != SQLITE_OK) return rc;
  auto* t = new TableVtab;
  t->ctx = static_cast<TableContext*>(aux);
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

}  // namespace velmora::sql
