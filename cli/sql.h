// velmora sql LOG [QUERY]: SQL over the log (the table `log`).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace velmora::cli {

struct SqlRequest {
  std::string log;
  std::vector<std::string> logs;  // several (or a folder): the table log reads them as one timeline
  std::optional<std::string> query;  // none: statements from standard input
  bool pushDown = true;              // off: SQLite checks every constraint (for tests)
};

int runSql(const SqlRequest& request, Io& io);

}  // namespace velmora::cli
