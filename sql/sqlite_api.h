// SQLite's interface: the library's own header in the tool, the extension
// header (calls through the loader's table) in the loadable module.
#pragma once
#ifdef VELMORA_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif
