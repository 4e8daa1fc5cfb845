#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>

#include "cli/data_stream.h"
#include "cli/host_rows.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "text/codepage.h"
#include "journal/errors.h"
#include "journal/fileio.h"
#include "journal/journal.h"
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

void selectCodePage(unsigned number) {
  // The reader decodes the log's text through the current code page.
  if (!CodePage::select(number))
    throw UsageError("--codepage " + std::to_string(number) +
                     " is not a code page this system knows; expected a single-byte code page such as 1251, 1252 or 866");
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

int reportFailure(const Journal& journal, Io& io) {
  io.err << "velmora: failed, NumErr " << journal.NumErr() << ": " << toUtf8(journal.TextErr()) << "\n";
  return kFailed;
}

int reportMissingLog(const std::string& log, Io& io) {
  io.err << "velmora: the log " << quoted(log) << " does not exist or is not a file\n";
  return kFailed;
}

void configure(Journal& journal, const DataRequest& r, Io& io) {
  journal.SetFilePath(u16(r.log));
  applyPeriod(journal, r.period);
  applyFilters(journal, r.filters, io);
  if (r.columns) journal.SetInsertColumn(u16(columnsMask(*r.columns)));
  if (r.translate) journal.SetTransformStr(u16(translateMask(*r.translate)));
  if (r.group) journal.SetGroupBy(u16(*r.group));
  if (r.order) journal.SetOrderBy(u16(*r.order));
}

namespace {

// ---- following a growing log --------------------------------------------------

std::int64_t currentLength(const std::string& log) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(u16(log)), ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

int reportStreamFailure(const StreamFailure& failure, Io& io) {
  io.err << "velmora: failed, NumErr " << failure.number << ": " << toUtf8(failure.text) << "\n";
  return kFailed;
}

int follow(Journal& journal, const DataRequest& r, Io& io, DataStream& stream) {
  using Clock = std::chrono::steady_clock;
  const auto poll = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(r.pollInterval));
  const auto maxIdle = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(r.maxIdle));
  std::int64_t position = r.resume;
  auto lastNews = Clock::now();
  std::int64_t lastLength = -2;
  for (;;) {
    // After a stop request one more look, so that what was appended just
    // before it is still shown.
    const bool stopping = stopRequested();
    const std::int64_t length = currentLength(r.log);
    if (length >= 0 && position > 1 && length < position - 1) {
      io.err << "velmora: the log became shorter; reading it again from the start of the period\n";
      position = 0;
    }
    if (length != lastLength || stopping) {
      lastLength = length;
      const std::size_t before = stream.printed();
      const std::int64_t next = stream.read(position);
      if (journal.NumErr() != 0) return reportFailure(journal, io);
      if (next < 0 && !fileExists(u16(r.log))) return reportMissingLog(r.log, io);
      if (const auto failure = stream.finish(next >= 1)) return reportStreamFailure(*failure, io);
      if (next >= 1) position = next;  // -1: no record of the period yet; look again from its start
      if (stream.printed() > before) {
        if (!io.out) return kFailed;  // nobody reads any more
        lastNews = Clock::now();
      }
    }
    if (stopping) break;
    if (r.maxIdle > 0 && Clock::now() - lastNews >= maxIdle) break;
    std::this_thread::sleep_for(poll);
  }
  if (position >= 1) io.err << "velmora: resume with --resume " << position << "\n";
  return kSuccess;
}

}  // namespace

// ---- the subcommands ---------------------------------------------------------------

int runData(const DataRequest& r, Io& io) {
  if (r.follow && r.group)
    throw UsageError("--follow cannot be combined with --group: each look at the log would be counted on its own; "
                     "group a finished period instead");
  Journal journal;
  configure(journal, r, io);
  // Rows go out as the reader finds them (cli/data_stream.h).
  DataStream stream(journal, io, io.progress && !r.follow);
  if (r.follow) return follow(journal, r, io, stream);

  const std::int64_t next = stream.read(r.resume);
  if (journal.NumErr() != 0) return reportFailure(journal, io);
  if (next < 0 && !fileExists(u16(r.log))) return reportMissingLog(r.log, io);
  if (const auto failure = stream.finish(next >= 1)) return reportStreamFailure(*failure, io);
  if (next < 0) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }
  io.err << "velmora: resume with --resume " << next << "\n";
  return stream.printed() > 0 ? kSuccess : kNothingFound;
}

int runUsers(const UsersRequest& r, Io& io) {
  Journal journal;
  journal.SetFilePath(u16(r.log));
  MemoryValueList list;
  std::int32_t next;
  {
    ProgressScope progress(journal, io);
    next = journal.GetUsers(r.start, list);
  }
  if (journal.NumErr() != 0) return reportFailure(journal, io);
  if (next < 0) return reportMissingLog(r.log, io);
  ListRows rows(list, "Пользователь");
  RowPrinter printer(io.format, io.out);
  printer.print(rows);
  io.err << "velmora: resume with --start " << next << "\n";
  return rows.rows() > 0 ? kSuccess : kNothingFound;
}

int runStripErrors(const StripRequest& r, Io& io) {
  Journal journal;
  journal.SetFilePath(u16(r.log));
  std::int32_t removed;
  {
    ProgressScope progress(journal, io);
    removed = journal.StoreErrRows(u16(r.out), u16(r.errors));
  }
  if (journal.NumErr() != 0) return reportFailure(journal, io);
  if (removed < 0) {
    if (!fileExists(u16(r.log))) return reportMissingLog(r.log, io);
    throw UsageError("the log, OUT and ERRORS must name different files (and ERRORS, when given, must differ from OUT)");
  }
  io.out << removed << "\n";
  io.err << "velmora: " << removed << " error record(s) removed; the other records are in " << quoted(r.out);
  if (!trimSpaces(u16(r.errors)).empty()) io.err << ", the error records in " << quoted(r.errors);
  io.err << "\n";
  return kSuccess;
}

int runReplaceKeys(const ReplaceRequest& r, Io& io) {
  Journal journal;
  journal.SetFilePath(u16(r.log));
  std::int32_t used;
  {
    ProgressScope progress(journal, io);
    used = journal.ReplaceDateTimes(u16(r.out), u16(r.list));
  }
  if (journal.NumErr() != 0) return reportFailure(journal, io);
  if (used < 0) {
    if (!fileExists(u16(r.log))) return reportMissingLog(r.log, io);
    if (!fileExists(u16(r.list)))
      throw UsageError("the list " + quoted(r.list) + " does not exist; expected a file of lines: an 18-character key "
                       "YYYYMMDD;HH:MM:SS; followed by a record number");
    throw UsageError("OUT must differ from the log and from the list");
  }
  io.out << used << "\n";
  if (used == 0) {
    io.err << "velmora: the list holds no entry; nothing was written\n";
    return kNothingFound;
  }
  io.err << "velmora: " << used << " list entr" << (used == 1 ? "y" : "ies") << " used; the copy is in "
         << quoted(r.out) << "\n";
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
      WriteFile file(u16(r.out));
      summary = writeSampleLog([&file](std::string_view block) { file.write(block); }, r.options);
      file.close();
    }
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  } catch (const Failure& f) {
    io.err << "velmora: failed, NumErr " << f.number() << ": " << toUtf8(f.text()) << "\n";
    return kFailed;
  }
  io.err << "velmora: " << summary.records << " records (" << summary.errorRecords << " error records), "
         << summary.bytes << " bytes";
  if (summary.records > 0) io.err << ", dated " << summary.firstDate << " to " << summary.lastDate;
  io.err << "\n";
  return kSuccess;
}

}  // namespace velmora::cli
