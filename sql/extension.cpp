// The same tables as a loadable extension: `.load ./velmora_sqlite` in the
// sqlite3 shell, then SELECT ... FROM log('events.log').
// velmora_codepage(N) chooses the log's code page (1251 until then).
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "sql/log_table.h"
#include "text/codepage.h"

namespace {

void codepageFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int n = sqlite3_value_int(argv[0]);
  if (n <= 0 || !velmora::CodePage::select(static_cast<unsigned>(n))) {
    sqlite3_result_error(ctx, "velmora_codepage: not a code page this system knows (1251, 1252 or 866)", -1);
    return;
  }
  sqlite3_result_int(ctx, n);
}

}  // namespace

extern "C"
#ifdef _WIN32
__declspec(dllexport)
#endif
int sqlite3_extension_init(sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  static velmora::sql::SqlState state;
  int rc = velmora::sql::registerLogTable(db, velmora::sql::SqlOptions{}, &state);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "velmora_codepage", 1, SQLITE_UTF8, nullptr, codepageFunction, nullptr, nullptr);
  if (rc != SQLITE_OK) *error = sqlite3_mprintf("velmora: %s", sqlite3_errstr(rc));
  return rc;
}
