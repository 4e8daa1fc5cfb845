#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <set>
#include <sstream>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>

#include "cli/data_stream.h"
#include "cli/files.h"
#include "cli/host_rows.h"
#include "cli/log_names.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "text/codepage.h"
#include "core/failure.h"
#include "core/file_paths.h"
#include "core/fileio.h"
#include "core/log_shape.h"
#include "core/log_tasks.h"
#include "core/reader.h"
#include "core/result_columns.h"
#include "memhost/memory_host.h"
#include "text/text.h"

namespace velmora::cli {

// ---- stopping -----------------------------------------------------------------

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int) { gStop = 1; }

}  // namespace

void installStopHandlers() {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
#ifdef SIGBREAK
  std::signal(SIGBREAK, onStopSignal);
#endif
}

bool stopRequested() { return gStop != 0; }

// ---- shared helpers -------------------------------------------------------------

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  std::unique_ptr<CodePage> page = CodePage::make(number);
  if (!page)
    throw UsageError("--codepage " + std::to_string(number) +
                     " is not a code page this system knows; expected a single-byte code page such as 1251, 1252 or 866");
  return page;
}

std::string normaliseDate(const std::string& text) {
  const bool dashed = text.size() == 10 && text[4] == '-' && text[7] == '-' &&
                      std::all_of(text.begin(), text.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!dashed) return text;
  return text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
}

namespace {

U16String u16(const std::string& utf8) { return fromUtf8(utf8); }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

int reportFailure(const Failure& failure, Io& io) {
  io.err << "velmora: failed, " << describe(failure) << "\n";
  return kFailed;
}

Failure currentFailure() {
  try {
    throw;
  } catch (const Failure& f) {
    return f;
  } catch (const HostError& e) {
    return Failure(FailureKind::Host, {}, e.number(), FileAction::None, e.description());
  } catch (...) {
    return velmora::currentFailure();
  }
}

void noteOversize(std::int64_t count, std::int64_t first, Io& io) {
  if (count == 0) return;
  io.err << "velmora: " << count << (count == 1 ? " record" : " records")
         << " of the period over 64 MiB left out (a damaged stretch of the log?), the first at position " << first
         << "\n";
}

int reportMissingLog(const std::string& log, Io& io) {
  io.err << "velmora: the log " << quoted(log) << " does not exist or is not a file\n";
  return kFailed;
}

int reportOutputFailure(int error, std::int64_t safe, const char* option, int code, Io& io) {
  io.outputFailureSaid = true;
  if (isClosedPipe(error)) return code;  // the reader went away, as with head
  io.err << "velmora: failed: cannot write to standard output: " << std::strerror(error) << "\n";
  if (option != nullptr) {
    if (safe >= 1)
      io.err << "velmora: rows after position " << safe << " may be missing; resume with " << option << " " << safe
             << "\n";
    else
      io.err << "velmora: rows may be missing; run again from the start\n";
  }
  return kFailed;
}

namespace {

// ---- following a growing log --------------------------------------------------

int reportStreamFailure(const StreamFailure& failure, Io& io) {
  io.err << "velmora: failed, " << describe(Failure(FailureKind::Host, {}, failure.number, FileAction::None, failure.text)) << "\n";
  return kFailed;
}

// A followed log ends when nobody reads its rows, as a write to a closed pipe
// would end it.
int readerGone() {
#ifdef SIGPIPE
  std::raise(SIGPIPE);
#endif
  return kSuccess;
}

// Follows the log as tail -F does: a log replaced by another file, shortened
// or rewritten is said so and read again from its start; a missing log is
// waited for. position 0 with pending: the resume position lay in a line
// still unfinished, found once that line ends.
int follow(const DataRequest& r, Io& io, DataStream& stream, std::int64_t position, bool pending) {
  using Clock = std::chrono::steady_clock;
  const auto poll = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(r.pollInterval));
  const auto maxIdle = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(r.maxIdle));
  constexpr std::size_t kAnchor = 64;  // the bytes before the position, to notice a rewrite
  auto lastNews = Clock::now();
  std::int64_t lastLength = -2;
  std::int64_t safe = r.resume;  // all rows before it are written out
  FileState seen = fileState(r.log);
  std::string anchor;
  bool missingSaid = false;
  for (;;) {
    // After a stop request one more look, so that what was appended just
    // before it is still shown.
    const bool stopping = stopRequested();
    if (stdoutReaderGone()) return readerGone();
    const FileState now = fileState(r.log);
    if (!now.exists) {
      if (!missingSaid) io.err << "velmora: the log " << quoted(r.log) << " is missing; waiting for it\n";
      missingSaid = true;
    } else {
      std::string restart;
      if (seen.exists && (now.device != seen.device || now.inode != seen.inode)) restart = "was replaced by another file";
      else if (position > 1 && now.size < position - 1) restart = "became shorter";
      else if (!anchor.empty() && bytesAt(r.log, position - static_cast<std::int64_t>(anchor.size()), anchor.size()) != anchor)
        restart = "was rewritten";
      if (!restart.empty()) {
        io.err << "velmora: the log " << restart << "; reading it again from its start\n";
        position = 0;
        pending = false;
        anchor.clear();
        lastLength = -2;
      }
      seen = now;
      missingSaid = false;
      if (pending) {
        std::ostringstream quiet;
        position = lineStartAtOrAfter(r.log, r.resume, quiet, "--resume");
        pending = position == 0;
      }
      if (!pending && (now.size != lastLength || stopping)) {
        lastLength = now.size;
        const std::size_t before = stream.printed();
        const ScanResult scan = stream.read(position, false);
        const std::int64_t next = scan.next;
        noteOversize(stream.oversizeRecords(), stream.firstOversize(), io);
        const bool gone = !fileState(r.log).exists;
        // The bytes before the new position, taken before the rows go out.
        std::string read;
        if (next >= 1 && !gone) {
          const std::int64_t from = std::max<std::int64_t>(1, next - static_cast<std::int64_t>(kAnchor));
          read = bytesAt(r.log, from, static_cast<std::size_t>(next - from));
        }
        const auto failure = stream.conclude(next >= 1);
        if (scan.failure && !gone) return reportFailure(*scan.failure, io);
        if (failure) return reportStreamFailure(*failure, io);
        io.out.flush();
        if (const int e = outputError(io.out)) {
          if (isClosedPipe(e) || stdoutReaderGone()) return readerGone();
          return reportOutputFailure(e, safe, "--resume", kFailed, io);
        }
        if (next >= 1 && !gone) {
          position = next;  // -1: no record of the period yet; look again from its start
          safe = next;
          anchor = std::move(read);
        }
        if (gone) lastLength = -2;
        if (stream.printed() > before) lastNews = Clock::now();
      }
    }
    if (stopping) break;
    if (r.maxIdle > 0 && Clock::now() - lastNews >= maxIdle) break;
    std::this_thread::sleep_for(poll);
  }
  if (position >= 1)
    io.err << "velmora: resume with --resume " << (r.namedPosition ? r.log + ":" : std::string()) << position << "\n";
  return kSuccess;
}

// The progress reports of a whole-log task, for ProgressScope.
struct TaskProgress {
  ProgressFn fn;
  void setProgress(ProgressFn f) { fn = std::move(f); }
};

// Bytes of the log after the last complete record are not copied: said, so
// that a copy never looks whole when it is not.
void noteUncopied(const std::string& log, std::int64_t copied, Io& io) {
  const std::int64_t size = fileState(log).size;
  if (size > copied)
    io.err << "velmora: note: the last " << (size - copied) << " byte(s) of the log were not copied: they follow its "
           << "last CR LF, a line without its end (a record still being written, or a cut file)\n";
}

// The archives first, then the live log followed.
int followSet(const DataRequest& r, const DataQuery& query, Io& io, LogSetReader& set, DataStream& stream,
              SetPosition from) {
  std::vector<U16String> logs;
  for (int i = 0; i < static_cast<int>(set.size()); ++i) logs.push_back(set.path(i));
  const int live = liveLog(r.logs, logs, io.codePage());
  const SetScanResult scan = stream.readSet(from);
  if (scan.failure) return reportFailure(*scan.failure, io);
  if (const auto failure = stream.conclude(scan.next.valid())) return reportStreamFailure(*failure, io);
  io.out.flush();
  DataRequest one = r;
  one.log = toUtf8(set.path(live));
  one.logs.clear();
  one.namedPosition = true;
  // After the live log's last record shown; the period's start when none was.
  std::int64_t position = 0;
  bool pending = false;
  if (const std::int64_t last = stream.lastRecordOf(live); last >= 1) {
    one.resume = last + 1;
    std::ostringstream quiet;  // the position is ours, not the user's
    position = lineStartAtOrAfter(one.log, one.resume, quiet, "--resume");
    pending = position == 0;
  } else if (scan.next.log == live) {
    one.resume = position = scan.next.byte;
  }
  Reader reader(set.path(live), query.read, io.codePage());
  stream.switchTo(reader);
  const AtScopeEnd released([&] { stream.release(); });
  return follow(one, io, stream, position, pending);
}

// data over a set of logs: one timeline, its positions naming the log.
int runDataSet(const DataRequest& r, const DataQuery& query, Io& io) {
  std::vector<U16String> logs;
  if (const int code = resolveLogs(r.logs, io.err, logs)) return code;
  if (r.resume != 0)
    throw UsageError("--resume " + std::to_string(r.resume) + " names no log; over several logs it takes LOG:BYTE, "
                     "as printed by an earlier run");
  LogSetReader set(logs, query.read, io.codePage());
  const SetPosition from = r.resumeAt.empty() ? SetPosition{} : parseSetPosition(r.resumeAt, logs, "--resume");
  DataStream stream(set, query, io, io.progress && !r.follow);
  if (r.follow) return followSet(r, query, io, set, stream, from);
  const SetScanResult scan = stream.readSet(from);
  if (scan.failure) return reportFailure(*scan.failure, io);
  noteOversize(stream.oversizeRecords(), stream.firstOversize(), io);
  if (const auto failure = stream.conclude(scan.next.valid())) return reportStreamFailure(*failure, io);
  io.out.flush();
  if (const int e = outputError(io.out)) return reportOutputFailure(e, -1, nullptr, kSuccess, io);
  if (!scan.next.valid()) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }
  io.err << "velmora: resume with --resume " << setPositionText(logs, scan.next) << "\n";
  return stream.printed() > 0 ? kSuccess : kNothingFound;
}

// users over a set of logs: the names of all of them, each once, sorted as
// one log's list is.
int runUsersSet(const UsersRequest& r, Io& io) {
  if (r.start != 0) throw UsageError("--start takes the position of one log; it cannot be used with several");
  std::vector<U16String> logs;
  if (const int code = resolveLogs(r.logs, io.err, logs)) return code;
  std::set<U16String> names;
  U16String name;
  const auto note = [&](std::string_view user) {
    io.codePage().decode(user, name);
    names.insert(name);
  };
  for (const U16String& log : logs) {
    TaskProgress reports;
    TaskStats stats;
    try {
      ProgressScope progress(reports, io);
      listUsers(log, 0, note, reports.fn, stats);
    } catch (...) {
      return reportFailure(currentFailure(), io);
    }
  }
  MemoryValueList list;
  for (const U16String& name : names) list.AddValue(name, name);
  list.Sort();
  ListRows rows(list, "Пользователь");
  RowPrinter printer(io.format, io.out, io.outIsTerminal);
  printer.setNotes(&io.err);
  printer.print(rows);
  io.out.flush();
  if (const int e = outputError(io.out)) return reportOutputFailure(e, -1, nullptr, kSuccess, io);
  return rows.rows() > 0 ? kSuccess : kNothingFound;
}

}  // namespace

// ---- the subcommands ---------------------------------------------------------------

int runData(const DataRequest& r, Io& io) {
  if (r.follow && r.group)
    throw UsageError("--follow cannot be combined with --group: each look at the log would be counted on its own; "
                     "group a finished period instead");
  const DataQuery query = dataQuery(r, io);
  if (manyLogs(logNames(r.log, r.logs))) {
    return runDataSet(r, query, io);
  }
  if (const int code = checkLog(r.log, io.err, r.follow, !r.follow)) return code;
  Reader reader(query.log, query.read, io.codePage());
  // A position inside a line would give a torn first record.
  std::int64_t start = r.resume;
  if (start > 1) start = lineStartAtOrAfter(r.log, start, io.err, "--resume");
  // Rows go out as the reader finds them (cli/data_stream.h).
  // A compressed log does not grow, and its positions lie past the file's
  // length: it is read to its end, not followed.
  bool following = r.follow;
  if (following) {
    if (const char* compression = checkLogShape(u16(r.log)).compression) {
      io.err << "velmora: note: the log " << quoted(r.log) << " is " << compression
             << "-compressed; it is read to its end, not followed\n";
      following = false;
    }
  }
  DataStream stream(reader, query, io, io.progress && !following);
  if (following) return follow(r, io, stream, start, start == 0 && r.resume > 1);
  if (start == 0 && r.resume > 1) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }

  const ScanResult scan = stream.read(start);
  if (scan.failure) return reportFailure(*scan.failure, io);
  const std::int64_t next = scan.next;
  noteOversize(stream.oversizeRecords(), stream.firstOversize(), io);
  if (next < 0 && !fileExists(u16(r.log))) return reportMissingLog(r.log, io);
  if (const auto failure = stream.conclude(next >= 1)) return reportStreamFailure(*failure, io);
  io.out.flush();
  if (const int e = outputError(io.out)) return reportOutputFailure(e, r.resume, "--resume", kSuccess, io);
  if (next < 0) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }
  io.err << "velmora: resume with --resume " << next << "\n";
  return stream.printed() > 0 ? kSuccess : kNothingFound;
}

int runUsers(const UsersRequest& r, Io& io) {
  if (manyLogs(logNames(r.log, r.logs))) return runUsersSet(r, io);
  if (const int code = checkLog(r.log, io.err)) return code;
  std::int64_t start = r.start;
  if (start > 1) start = lineStartAtOrAfter(r.log, start, io.err, "--start");
  MemoryValueList list;
  std::int64_t next = -1;
  if (start != 0 || r.start <= 1) {
    TaskProgress reports;
    TaskStats stats;
    try {
      ProgressScope progress(reports, io);
      U16String name;
      next = listUsers(
          u16(r.log), start,
          [&](std::string_view user) {
            io.codePage().decode(user, name);
            list.AddValue(name, name);
          },
          reports.fn, stats);
    } catch (...) {
      return reportFailure(currentFailure(), io);
    }
    if (list.GetListSize() > 0) list.Sort();
  }
  if (next < 0 && !fileExists(u16(r.log))) return reportMissingLog(r.log, io);
  ListRows rows(list, "Пользователь");
  RowPrinter printer(io.format, io.out, io.outIsTerminal);
  printer.setNotes(&io.err);
  printer.print(rows);
  io.out.flush();
  if (const int e = outputError(io.out)) return reportOutputFailure(e, r.start, "--start", kSuccess, io);
  if (next >= 0) io.err << "velmora: resume with --start " << next << "\n";
  return rows.rows() > 0 ? kSuccess : kNothingFound;
}

int runStripErrors(const StripRequest& r, Io& io) {
  // Every output is checked, and exists under a temporary name, before the
  // log is read; the final names change only once both copies are complete.
  OutputFile out(r.out, "OUT");
  std::optional<OutputFile> errors;
  if (!trimSpaces(u16(r.errors)).empty()) errors.emplace(r.errors, "ERRORS");
  checkDistinct({r.log}, errors ? std::vector<const OutputFile*>{&out, &*errors} : std::vector<const OutputFile*>{&out});
  if (const int code = checkLog(r.log, io.err)) return code;
  if (const int code = checkPlainLog(r.log, io.err)) return code;
  std::int64_t removed;
  std::int64_t droppedBytes = 0;
  try {
    TaskProgress reports;
    TaskStats stats;
    ProgressScope progress(reports, io);
    // Without ERRORS the error records still go to a temporary, never put
    // in place, so that the bytes copied can be counted against the log.
    std::optional<OutputFile> dropped;
    if (!errors) dropped.emplace(out.toStdout() ? std::string("-") : out.target().string() + ".errors", "ERRORS");
    removed = splitErrorRecords(u16(r.log), out.tempPath(), (errors ? *errors : *dropped).tempPath(), reports.fn,
                                stats);
    droppedBytes = dropped ? dropped->tempSize() : 0;
  } catch (...) {
    return reportFailure(currentFailure(), io);
  }
  if (removed < 0) {
    if (!fileExists(u16(r.log))) return reportMissingLog(r.log, io);
    throw UsageError("the log, OUT and ERRORS must name different files (and ERRORS, when given, must differ from OUT)");
  }
  noteUncopied(r.log, out.tempSize() + (errors ? errors->tempSize() : droppedBytes), io);
  out.commit(io.out);
  if (errors) errors->commit(io.out);
  if (!out.toStdout() && !(errors && errors->toStdout())) io.out << removed << "\n";
  io.err << "velmora: " << removed << " error record(s) removed; the other records are in "
         << (out.toStdout() ? std::string("standard output") : quoted(r.out));
  if (errors) io.err << ", the error records in " << (errors->toStdout() ? std::string("standard output") : quoted(r.errors));
  io.err << "\n";
  return kSuccess;
}

int runReplaceKeys(const ReplaceRequest& r, Io& io) {
  OutputFile out(r.out, "OUT");
  if (!fileExists(u16(r.list)))
    throw UsageError("the list " + quoted(r.list) + " does not exist or is not a file; expected a file of lines: an "
                     "18-character key YYYYMMDD;HH:MM:SS; followed by a record number");
  checkDistinct({r.log, r.list}, {&out});
  if (const int code = checkLog(r.log, io.err)) return code;
  if (const int code = checkPlainLog(r.log, io.err)) return code;
  std::int64_t used;
  try {
    TaskProgress reports;
    TaskStats stats;
    ProgressScope progress(reports, io);
    used = replaceRecordKeys(u16(r.log), out.tempPath(), u16(r.list), reports.fn, stats);
  } catch (...) {
    return reportFailure(currentFailure(), io);
  }
  if (used < 0) {
    if (!fileExists(u16(r.log))) return reportMissingLog(r.log, io);
    throw UsageError("OUT must differ from the log and from the list");
  }
  if (used == 0) {
    if (!out.toStdout()) io.out << used << "\n";
    io.err << "velmora: the list holds no entry; nothing was written\n";
    return kNothingFound;
  }
  noteUncopied(r.log, out.tempSize(), io);
  out.commit(io.out);
  if (!out.toStdout()) io.out << used << "\n";
  io.err << "velmora: " << used << " list entr" << (used == 1 ? "y" : "ies") << " used; the copy is in "
         << (out.toStdout() ? std::string("standard output") : quoted(r.out)) << "\n";
  return kSuccess;
}

int runSample(const SampleRequest& r, Io& io) {
  SampleSummary summary;
  try {
    checkSampleOptions(r.options);  // before an output file exists
    if (r.out == "-") {
      setBinaryStdout();
      summary = writeSampleLog(io.out, r.options);
      io.out.flush();
    } else {
      OutputFile target(r.out, "OUT");
      {
        WriteFile file(target.tempPath());
        summary = writeSampleLog([&file](std::string_view block) { file.write(block); }, r.options);
        file.close();
      }
      target.commit(io.out);
    }
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  } catch (const Failure& f) {
    io.err << "velmora: failed, " << describe(f) << "\n";
    return kFailed;
  }
  io.err << "velmora: " << summary.records << " records (" << summary.errorRecords << " error records), "
         << summary.bytes << " bytes";
  if (summary.records > 0) io.err << ", dated " << summary.firstDate << " to " << summary.lastDate;
  io.err << "\n";
  return kSuccess;
}

}  // namespace velmora::cli
