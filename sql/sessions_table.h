// The eponymous virtual table `sessions` (also `sessions('other.log')`):
// the log's sessions as core/sessions.h pairs them.
#pragma once

#include "sql/log_table.h"

namespace velmora::sql {

int registerSessionsTable(sqlite3* db, const SqlOptions& options, SqlState* state);

}  // namespace velmora::sql
