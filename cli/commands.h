// The subcommands of the velmora tool: each reads the log through the typed
// reader or one of the whole-log tasks and prints what it returns.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/format.h"
#include "cli/query.h"
#include "sample/sample.h"

namespace velmora {
class Failure;
}

namespace velmora::cli {

enum ExitCode : int {
  kSuccess = 0,
  kNothingFound = 1,
  kBadUsage = 2,
  kFailed = 3,  // NumErr and TextErr are printed
};

// A wrong argument found after parsing: the message says what is wrong and
// what is expected; the tool ends with kBadUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where a command prints, and how.
struct Io {
  std::ostream& out;
  std::ostream& err;
  Format format = Format::Tsv;
  bool progress = false;  // a progress line on err (err is a terminal)
  bool outIsTerminal = false;  // out is a terminal: control characters escaped in every format
  bool outputFailureSaid = false;  // a command reported a write error of out itself
  // The log's code page, from --codepage; nullptr: the default one. It
  // outlives the command.
  const CodePage* codepage = nullptr;
  const CodePage& codePage() const { return codepage ? *codepage : defaultCodePage(); }
};

// log is the first of logs; logs empty stands for log alone.
struct DataRequest {
  std::string log;
  std::vector<std::string> logs;
  std::string resumeAt;  // --resume LOG:BYTE over a set of logs
  bool namedPosition = false;  // positions printed name the log (a set's live log followed)
  PeriodOptions period;
  FilterOptions filters;
  std::optional<std::string> columns, translate, group, order;
  std::int64_t resume = 0;  // 64-bit: a log may be longer than 2 GiB
  bool follow = false;
  double maxIdle = 0;        // seconds without new records that end --follow; 0: never
  double pollInterval = 0.2; // seconds between looks at a followed log
};

struct UsersRequest {
  std::string log;
  std::vector<std::string> logs;
  std::int64_t start = 0;  // 64-bit, as --resume
};

struct StripRequest {
  std::string log, out, errors;
};

struct ReplaceRequest {
  std::string log, list, out;
};

struct SampleRequest {
  std::string out;  // "-" for standard output
  SampleOptions options;
};

// The names a request reads: logs, or log alone.
inline std::vector<std::string> logNames(const std::string& log, const std::vector<std::string>& logs) {
  return logs.empty() ? std::vector<std::string>{log} : logs;
}

// Each returns an ExitCode; UsageError escapes for bad arguments.
int runData(const DataRequest& request, Io& io);
int runUsers(const UsersRequest& request, Io& io);
int runStripErrors(const StripRequest& request, Io& io);
int runReplaceKeys(const ReplaceRequest& request, Io& io);
int runSample(const SampleRequest& request, Io& io);

// Report what stopped the reader: the NumErr and TextErr of its failure, or
// a log that is missing. Both give kFailed.
int reportFailure(const Failure& failure, Io& io);
// Inside a catch block: the exception as the failure the script class
// would record for it (its NumErr and TextErr).
Failure currentFailure();
// Says how many records were too long to read (none: nothing said).
void noteOversize(std::int64_t count, std::int64_t first, Io& io);
int reportMissingLog(const std::string& log, Io& io);

// The code page of --codepage; UsageError for one the system does not know.
std::unique_ptr<CodePage> makeCodePage(unsigned number);

// YYYY-MM-DD becomes YYYYMMDD; any other text is left for SetDateTimes to judge.
std::string normaliseDate(const std::string& text);

// A write error of standard output (error: its errno): a message, unless the
// reader went away, that names the position from which nothing is lost
// (safe < 1: from the start). Returns kFailed, or code for a closed pipe.
int reportOutputFailure(int error, std::int64_t safe, const char* option, int code, Io& io);

// Set by SIGINT/SIGTERM; --follow ends cleanly when it is.
void installStopHandlers();
bool stopRequested();

}  // namespace velmora::cli
