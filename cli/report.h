// velmora report: one HTML file that shows a query's records over time,
// stacked by run mode with error records in their own colour, the top users
// and events, and the error records with their comments. Inline CSS and
// SVG only: no script, no external resource, readable offline and printable.
#pragma once

#include <string>

#include "cli/commands.h"
#include "cli/query.h"
#include "cli/summary.h"
#include "core/sessions.h"

namespace velmora::cli {

struct ReportRequest {
  std::string log, out;
  std::vector<std::string> logs;
  PeriodOptions period;
  FilterOptions filters;
  std::string by;      // as for stats
  bool raw = false;
  int top = 25;        // users and events shown; 0: all
  int errorRows = 300; // error records listed whole
};

int runReport(const ReportRequest& request, Io& io);

// The page for a summary; title names the log. Exposed for tests.
struct ReportPage {
  std::string title;
  const Summary* summary = nullptr;
  const std::vector<ErrorRecord>* errors = nullptr;  // the first error records, log bytes
  const std::vector<Session>* sessions = nullptr;   // the whole log's, paired
  bool raw = false;
  int top = 25;
  const CodePage* codepage = nullptr;  // the log's; nullptr: the default
};
std::string renderReport(const ReportPage& page);

}  // namespace velmora::cli
