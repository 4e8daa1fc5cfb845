// The same tables as a loadable extension: `.load ./velmora_sqlite` in the
// sqlite3 shell, then SELECT ... FROM log('events.log').
// velmora_codepage(N) chooses the log's code page (1251 until then).
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <map>
#include <memory>

#include "decode/decoders.h"
#include "sql/log_table.h"
#include "text/codepage.h"

namespace {

// The module's code page. Every page made stays, so that a statement still
// running when SQL chooses another keeps reading through its own.
std::map<unsigned, std::unique_ptr<velmora::CodePage>> gPages;
const velmora::CodePage* gPage = nullptr;

const velmora::CodePage& modulePage() {
  if (gPage == nullptr) gPage = (gPages[1251] = velmora::CodePage::make(1251)).get();
  return *gPage;
}

void codepageFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int n = sqlite3_value_int(argv[0]);
  const auto number = static_cast<unsigned>(n);
  std::unique_ptr<velmora::CodePage>& page = gPages[n > 0 ? number : 0];
  if (n > 0 && !page) page = velmora::CodePage::make(number);
  if (!page) {
    sqlite3_result_error(ctx, "velmora_codepage: not a code page this system knows (1251, 1252 or 866)", -1);
    return;
  }
  gPage = page.get();
  sqlite3_result_int(ctx, n);
}

}  // namespace

extern "C"
#ifdef _WIN32
__declspec(dllexport)
#endif
int sqlite3_extension_init(sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  velmora::registerDecoders();  // compressed logs read as their text
  static velmora::sql::SqlState state;
  velmora::sql::SqlOptions options;
  options.codepage = modulePage;
  int rc = velmora::sql::registerLogTable(db, options, &state);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "velmora_codepage", 1, SQLITE_UTF8, nullptr, codepageFunction, nullptr, nullptr);
  if (rc != SQLITE_OK) *error = sqlite3_mprintf("velmora: %s", sqlite3_errstr(rc));
  return rc;
}
