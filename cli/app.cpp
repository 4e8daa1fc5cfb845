#include "cli/app.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <climits>
#include <cstdint>
#include <limits>
#include <memory>
#include <cstdio>
#include <ostream>

#include "cli/commands.h"
#include "cli/log_names.h"
#include "cli/files.h"
#include "cli/query.h"
#include "cli/report.h"
#include "cli/serve.h"
#include "cli/sql.h"
#include "cli/stats.h"
#include "cli/terminal.h"
#include "decode/decoders.h"
#include "text/codepage.h"

namespace velmora::cli {
namespace {

constexpr const char* kDescription =
    "velmora: reads the host's event log from a shell, with the very reader that host scripts use.\n"
    "Exit codes: 0 success, 1 nothing found, 2 bad usage, 3 failure (NumErr and TextErr are printed).";

// The version, and the compressed formats this build cannot read, if any.
std::string versionText() {
  const std::string missing = missingFormats();
  std::string out = "velmora 1.0.0\nreads logs plain or compressed (gzip, zstd, bzip2, xz: known by their content)";
  if (!missing.empty()) out += "\nthis build reads no " + missing + " log: built without that library";
  return out;
}

// Options that every subcommand that prints rows takes.
struct OutputOptions {
  std::string format;
  unsigned codepage = 1251;
};

void addOutputOptions(CLI::App& sub, OutputOptions& o) {
  sub.add_option("--format", o.format,
                 "table (aligned, the default on a terminal), csv (RFC 4180), tsv (the default otherwise) or jsonl")
      ->check(CLI::IsMember({"table", "csv", "tsv", "jsonl"}));
  sub.add_option("--codepage", o.codepage, "code page of the log's text, converted to UTF-8 on output")
      ->capture_default_str();
}

// The period and filter options of the commands that query the log.
void addPeriodOptions(CLI::App& command, PeriodOptions& p) {
  const std::string forms = "YYYYMMDD, YYYY-MM-DD, YYYY-MM-DDTHH:MM:SS, today, yesterday or -Nd (N days before today)";
  command.add_option("--from", p.from, "start of the period: " + forms + "; default: the log's first record");
  command.add_option("--from-time", p.fromTime, "time on the first day, HH:MM:SS (default 00:00:00)");
  command.add_option("--to", p.to, "end of the period: " + forms + "; default: the log's last record");
  command.add_option("--to-time", p.toTime, "time on the last day, HH:MM:SS (default 23:59:59)");
  command.add_option("--today", p.today, "the date that today, yesterday and -Nd count from")->group("");
}

// The options that stats and report share beyond the query.
void addSummaryOptions(CLI::App& command, std::string& by, bool& raw) {
  command.add_option("--by", by, "hour, day, week or month (default: chosen from the span)")
      ->check(CLI::IsMember({"hour", "day", "week", "month"}));
  command.add_flag("--raw", raw, "event codes and run modes as the log writes them, not in Russian");
}

void addFilterOptions(CLI::App& command, FilterOptions& f) {
  for (int k = 3; k <= 10; ++k) {
    const std::string name = plainFieldName(k);
    PlainField& field = f.plain[static_cast<std::size_t>(k)];
    // One value per option, so that a LOG after it stays the LOG.
    command.add_option("--" + name, field.include, std::string(plainFieldHelp(k)) + "; repeat for more (any of them)")
        ->allow_extra_args(false)
        ->group("Filters");
    const char* test = k >= 8 ? " holds this text" : " is this";  // comment, identifier, presentation are searched
    command.add_option("--not-" + name, field.exclude, "leave out records whose " + name + test + "; repeatable")
        ->allow_extra_args(false)
        ->group("Filters");
  }
  command.add_flag("--exact-id", f.exactId, "the identifier filter compares whole values (CoincidenceObject)")
      ->group("Filters");
  command
      .add_option("--filter", f.filters,
                  "NAME=TEXT, repeatable: a filter as SetFilter takes it, e.g. FilterUsers=|Иванов|Петров| or "
                  "FilterRem=|ошибка|; names: FilterUsers FilterMode FilterTypeObj FilterOperation FilterNum "
                  "FilterRem FilterIdObj FilterDeclarationObj, their Russian names, or 3 to 10")
      ->allow_extra_args(false)
      ->group("Filters as scripts set them");
  command.add_option("--invert", f.invert, "8 characters of 0/1: a 1 turns filter 3..10 into an exclusion")
      ->group("Filters as scripts set them");
}

// Byte counts for the sample size: a number with an optional K, M or G (powers of 1024).
std::uint64_t parseSize(const std::string& text) {
  // stoull would take "-5" as a huge number and "0x10" as 0.
  if (text.empty() || text[0] < '0' || text[0] > '9')
    throw UsageError("--size " + text + " is not a size; expected a number of bytes, optionally with K, M or G");
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used);
  } catch (const std::exception&) {
    throw UsageError("--size " + text + " is not a size; expected a number of bytes, optionally with K, M or G");
  }
  const std::string unit = text.substr(used);
  unsigned shift = 0;
  if (unit == "K" || unit == "k") shift = 10;
  else if (unit == "M" || unit == "m") shift = 20;
  else if (unit == "G" || unit == "g") shift = 30;
  else if (!unit.empty())
    throw UsageError("--size " + text + " is not a size; expected a number of bytes, optionally with K, M or G");
  if (shift && value > (~0ull >> shift)) throw UsageError("--size " + text + " is too large");
  return value << shift;
}

// A position printed by an earlier run: decimal digits only (CLI11 would read
// 0x10 as 16 and 010 as 8).
std::int64_t parsePosition(const std::string& text, const char* option) {
  const bool digits = !text.empty() && text.size() <= 19 && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || (text.size() == 19 && text > "9223372036854775807"))
    throw UsageError(std::string(option) + " " + text + " is not a position; expected a decimal number in the range 0 to "
                     "9223372036854775807, as an earlier run printed");
  return std::stoll(text);
}

int parseStartDate(const std::string& text) {
  const std::string digits = normaliseDate(text);
  if (digits.size() != 8 || digits.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("--start " + text + " is not a date; expected YYYYMMDD or YYYY-MM-DD");
  return std::stoi(digits);
}

}  // namespace

int runApp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{kDescription, "velmora"};
  app.require_subcommand(1, 1);
  registerDecoders();
  app.set_version_flag("--version", versionText());

  OutputOptions output;
  DataRequest data;
  auto* dataCmd = app.add_subcommand("data", "records of a period that pass the filters (the script method GetData)");
  dataCmd->add_option("LOG", data.logs, "the event logs: files, or folders of logs, read as one timeline")->required();
  addPeriodOptions(*dataCmd, data.period);
  addFilterOptions(*dataCmd, data.filters);
  dataCmd->add_option("--columns", data.columns,
                      "columns to produce: names such as date,time,user,event (English or the Russian column names; "
                      "they print in the log's order), all, or 10 characters of 0/1");
  dataCmd->add_option("--translate", data.translate,
                      "Russian text for codes: all, none, a list of date,mode,category,event, or 4 characters of 0/1");
  dataCmd->add_option("--group", data.group, "columns to group by, with a record count in the column Чис");
  dataCmd->add_option("--order", data.order, "columns to sort by");
  std::string resumeText, startText;
  dataCmd->add_option("--resume", resumeText, "resume at this position, printed by an earlier run");
  dataCmd->add_flag("--follow", data.follow, "keep reading: print new records as the log grows, until interrupted");
  dataCmd->add_option("--max-idle", data.maxIdle, "end --follow after this many seconds without new records")
      ->check(CLI::NonNegativeNumber)
      ->group("");
  dataCmd->add_option("--poll", data.pollInterval, "seconds between looks at a followed log")
      ->check(CLI::Range(0.01, 60.0))
      ->group("");
  addOutputOptions(*dataCmd, output);

  StatsRequest stats;
  auto* statsCmd = app.add_subcommand(
      "stats", "records per hour, day, week or month, per run mode, user and event, error records counted apart");
  statsCmd->add_option("LOG", stats.logs, "the event logs: files, or folders of logs, read as one timeline")->required();
  addPeriodOptions(*statsCmd, stats.period);
  addFilterOptions(*statsCmd, stats.filters);
  addSummaryOptions(*statsCmd, stats.by, stats.raw);
  statsCmd->add_option("--top", stats.top, "users and events shown, the most records first; 0: all "
                                           "(default: 20 in bars, all in rows)")
      ->check(CLI::NonNegativeNumber);
  addOutputOptions(*statsCmd, output);

  ReportRequest report;
  auto* reportCmd = app.add_subcommand(
      "report", "one HTML file: activity over time by run mode, top users and events, the error records");
  reportCmd->add_option("LOG", report.logs, "the event logs: files, or folders of logs, read as one timeline")->required();
  reportCmd->add_option("-o,--output", report.out, "the HTML file to write")->required();
  addPeriodOptions(*reportCmd, report.period);
  addFilterOptions(*reportCmd, report.filters);
  addSummaryOptions(*reportCmd, report.by, report.raw);
  reportCmd->add_option("--top", report.top, "users and events shown; 0: all")->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  reportCmd->add_option("--error-rows", report.errorRows, "error records listed with their comments")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  reportCmd->add_option("--codepage", output.codepage, "code page of the log's text")->capture_default_str();

  UsersRequest users;
  auto* usersCmd = app.add_subcommand("users", "distinct user names of the log (the script method GetUsers)");
  usersCmd->add_option("LOG", users.logs, "the event logs: files, or folders of logs")->required();
  usersCmd->add_option("--start", startText, "position to start at, printed by an earlier run");
  addOutputOptions(*usersCmd, output);

  StripRequest strip;
  auto* stripCmd = app.add_subcommand(
      "strip-errors", "copy the log without its error records (StoreErrRows); prints how many were removed");
  stripCmd->add_option("LOG", strip.log, "the event log")->required();
  stripCmd->add_option("OUT", strip.out, "the copy without error records")->required();
  stripCmd->add_option("ERRORS", strip.errors, "a file for the error records alone");

  ReplaceRequest replace;
  auto* replaceCmd = app.add_subcommand(
      "replace-keys", "copy the log with the date and time of listed records replaced (ReplaceDateTimes)");
  replaceCmd->add_option("LOG", replace.log, "the event log")->required();
  replaceCmd->add_option("LIST", replace.list,
                         "lines of a new key YYYYMMDD;HH:MM:SS; and a record number, in ascending record order")
      ->required();
  replaceCmd->add_option("OUT", replace.out, "the copy")->required();

  SampleRequest sample;
  std::string sampleSize, sampleStart;
  auto* sampleCmd = app.add_subcommand("sample", "write a realistic, deterministic sample log (Windows-1251)");
  sampleCmd->add_option("OUT", sample.out, "the file to write, or - for standard output")->required();
  stripCmd->get_option("OUT")->description("the copy without error records, or - for standard output");
  replaceCmd->get_option("OUT")->description("the copy, or - for standard output");
  reportCmd->get_option("--output")->description("the HTML file to write, or - for standard output");
  sampleCmd->add_option("--days", sample.options.days, "calendar days")->capture_default_str()->check(CLI::NonNegativeNumber);
  sampleCmd->add_option("--per-day", sample.options.perDay, "records per day")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  sampleCmd->add_option("--seed", sample.options.seed, "seed of the generator")->capture_default_str();
  sampleCmd->add_option("--start", sampleStart, "first day, YYYYMMDD or YYYY-MM-DD (default 20050101)");
  sampleCmd->add_option("--size", sampleSize, "write at least this many bytes (K, M, G allowed), ignoring --days");

  SqlRequest sqlReq;
  bool noPushDown = false;
  auto* sqlCmd = app.add_subcommand("sql", "SQL over the log: the table log (date, time, user, mode, category, event, "
                                           "number, comment, id, object, mode_text, category_text, event_text, "
                                           "is_error, pos); log('other.log') reads another");
  std::vector<std::string> sqlArgs;
  sqlCmd->add_option("LOG... [QUERY]", sqlArgs,
                     "the event logs of the table log (files, or folders of logs, read as one timeline), then the "
                     "SQL statements; without them (the last name is a file or folder) read from standard input")
      ->required();
  sqlCmd->add_flag("--no-pushdown", noPushDown, "SQLite checks every constraint itself")->group("");
  addOutputOptions(*sqlCmd, output);

  ServeRequest serveReq;
  auto* serveCmd = app.add_subcommand("serve", "the log in a browser: a local web server and its page, for whoever has "
                                               "the address (with its token) printed at start");
  serveCmd->add_option("LOG", serveReq.logs, "the event logs to serve: files, or folders of logs, read as one timeline")->required();
  serveCmd->add_option("--port", serveReq.port, "the port; 0 (the default) takes a free one")->check(CLI::Range(0, 65535));
  serveCmd->add_option("--bind", serveReq.bind, "the address to listen on")->capture_default_str();
  serveCmd->add_option("--codepage", output.codepage, "code page of the log's text")->capture_default_str();

  for (auto* sub : {dataCmd, statsCmd, reportCmd, usersCmd, stripCmd, replaceCmd, sampleCmd, sqlCmd, serveCmd})
    sub->footer("Exit codes: 0 success, 1 nothing found, 2 bad usage, 3 failure.");

  const std::vector<std::pair<CLI::App*, const char*>> usage{
      {dataCmd, "velmora data LOG... [--from DATE] [--to DATE] [--user NAME]... [--not-event CODE]... [options]"},
      {statsCmd, "velmora stats LOG... [--from DATE] [--to DATE] [--by hour|day|week|month] [filters] [options]"},
      {reportCmd, "velmora report LOG... -o FILE.html [--from DATE] [--to DATE] [filters] [options]"},
      {usersCmd, "velmora users LOG... [--start POS]"},
      {stripCmd, "velmora strip-errors LOG OUT [ERRORS]"},
      {replaceCmd, "velmora replace-keys LOG LIST OUT"},
      {sqlCmd, "velmora sql LOG... [QUERY] [--format table|csv|tsv|jsonl] [--codepage N]"},
      {serveCmd, "velmora serve LOG... [--port N] [--bind ADDR] [--codepage N]"},
      {sampleCmd, "velmora sample OUT [--days N] [--per-day N] [--seed N] [--start DATE] [--size BYTES]"},
  };
  const bool known = !args.empty() && std::any_of(usage.begin(), usage.end(), [&](const auto& u) {
    return u.first->get_name() == args.front();
  });
  if (!args.empty() && !args.front().empty() && args.front()[0] != '-' && !known) {
    err << "velmora: " << args.front() << " is not a subcommand; expected one of:\n";
    for (const auto& [sub, line] : usage) err << "  " << line << "\n";
    return kBadUsage;
  }

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help, --version
      app.exit(e, out, err);
      return kSuccess;
    }
    err << "velmora: " << e.what() << "\n";
    const CLI::App* chosen = nullptr;
    for (const auto& [sub, line] : usage)
      if (sub->parsed()) {
        chosen = sub;
        err << "Usage: " << line << "\n";
      }
    if (chosen == nullptr)
      for (const auto& [sub, line] : usage) err << (sub == usage.front().first ? "Usage: " : "       ") << line << "\n";
    err << "Run 'velmora " << (chosen ? chosen->get_name() + " " : std::string()) << "--help' for the details.\n";
    return kBadUsage;
  }

  Io io{out, err};
  io.format = isTerminal(stdout) ? Format::Table : Format::Tsv;
  if (!output.format.empty()) io.format = *parseFormat(output.format);
  io.progress = isTerminal(stderr);
  io.outIsTerminal = isTerminal(stdout);
  std::unique_ptr<CodePage> codepage;

  const auto run = [&]() -> int {
    if (dataCmd->parsed()) {
      data.log = data.logs.front();
      if (!resumeText.empty()) {
        // Over several logs a position names its log.
        if (manyLogs(data.logs) && !std::all_of(resumeText.begin(), resumeText.end(), [](char c) { return c >= '0' && c <= '9'; }))
          data.resumeAt = resumeText;
        else
          data.resume = parsePosition(resumeText, "--resume");
      }
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      // Only a followed log ends on a signal by choice; any other run is
      // stopped by it at once, as usual.
      if (data.follow) installStopHandlers();
      return runData(data, io);
    }
    if (statsCmd->parsed()) {
      stats.log = stats.logs.front();
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      return runStats(stats, io);
    }
    if (reportCmd->parsed()) {
      report.log = report.logs.front();
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      return runReport(report, io);
    }
    if (usersCmd->parsed()) {
      users.log = users.logs.front();
      if (!startText.empty()) users.start = parsePosition(startText, "--start");
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      return runUsers(users, io);
    }
    if (sqlCmd->parsed()) {
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      // The last of two or more arguments is the statement unless it names
      // a file or folder.
      std::error_code ec;
      if (sqlArgs.size() >= 2 && !std::filesystem::exists(std::filesystem::path(fromUtf8(sqlArgs.back())), ec)) {
        sqlReq.query = sqlArgs.back();
        sqlArgs.pop_back();
      }
      sqlReq.logs = sqlArgs;
      sqlReq.log = sqlArgs.front();
      sqlReq.pushDown = !noPushDown;
      return runSql(sqlReq, io);
    }
    if (serveCmd->parsed()) {
      codepage = makeCodePage(output.codepage);
      io.codepage = codepage.get();
      return runServe(serveReq, io);
    }
    if (stripCmd->parsed()) return runStripErrors(strip, io);
    if (replaceCmd->parsed()) return runReplaceKeys(replace, io);
    if (sampleCmd->parsed()) {
      if (!sampleSize.empty()) sample.options.targetBytes = parseSize(sampleSize);
      if (!sampleStart.empty()) sample.options.startDate = parseStartDate(sampleStart);
      return runSample(sample, io);
    }
    return kBadUsage;
  };
  int code = kBadUsage;
  try {
    code = run();
  } catch (const UsageError& e) {
    err << "velmora: " << e.what() << "\n";
    return kBadUsage;
  } catch (const std::exception& e) {
    err << "velmora: failed: " << e.what() << "\n";
    code = kFailed;
  }
  // What a command printed last may still wait in the buffer.
  out.flush();
  if (const int e = outputError(out); e != 0 && !io.outputFailureSaid)
    return reportOutputFailure(e, -1, nullptr, code, io);
  return code;
}

}  // namespace velmora::cli
