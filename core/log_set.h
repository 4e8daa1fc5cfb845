// Several logs read as one timeline: archives cut off a live log, named one
// by one or as folders. The records come out merged by key and, for equal
// keys, in the order the logs were given (a folder's logs by name), which is
// what one log holding them all would give.
//
// Memory stays bounded whatever the number of logs, and few files are open
// at once: a Reader holds no file between its calls. Logs whose key ranges
// do not overlap are read one after another, each straight into the sink;
// only logs whose ranges overlap are merged, each through a small buffer of
// records copied out of its windows and refilled by resuming its scan.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/log_shape.h"
#include "core/reader.h"
#include "text/text.h"

namespace velmora {

// The logs that a list of names stands for.
struct LogList {
  std::vector<U16String> logs;  // in the order given, a folder's by name, each file once
  // Files inside a folder that are not logs (passed over), and the first
  // named file that is not a log (the list is then refused).
  std::vector<std::pair<U16String, LogShapeCheck>> skipped;
  std::optional<std::pair<U16String, LogShapeCheck>> refused;
  std::vector<U16String> emptyFolders;  // folders named that hold no log
};

// Why a list holds no log, in English ("" when it holds one).
std::string describeNoLog(const LogList& list);

// Folders become the logs they hold, known by their content (the one shape
// check), never by their names. A name that is missing is refused unless
// missingOk (a followed log may not exist yet); two names for one file keep
// the first.
LogList listLogs(const std::vector<U16String>& given, bool missingOk = false);

// Where a record of a set lies: the log's index in the set and its byte.
struct SetPosition {
  int log = -1;
  std::int64_t byte = -1;
  bool valid() const { return log >= 0 && byte >= 1; }
};

// What a log's records span. first empty: the log holds no record.
// lastKnown false: a log read forward only, whose last key is known only
// once read (it is then taken to reach past every period's end).
struct KeyRange {
  std::string first, last;
  bool lastKnown = true;
};

// The first and last record keys of a log (any period, no filter).
KeyRange keyRange(U16View path, const CodePage& cp, std::optional<Failure>& failure);

struct SetScanResult {
  SetPosition next;  // where a later scan resumes; log -1 when no record of the period was examined
  std::optional<Failure> failure;
};

class LogSetReader {
 public:
  // The whole budget of the merge buffers; each merged log gets a share,
  // between the two bounds.
  static constexpr std::size_t kMergeBudget = std::size_t{8} << 20;
  static constexpr std::size_t kMinBuffer = std::size_t{16} << 10;
  static constexpr std::size_t kMaxBuffer = std::size_t{1} << 20;

  LogSetReader(std::vector<U16String> logs, ReadQuery query, const CodePage& cp);
  ~LogSetReader();
  LogSetReader(const LogSetReader&) = delete;
  LogSetReader& operator=(const LogSetReader&) = delete;

  std::size_t size() const { return logs_.size(); }
  const U16String& path(int log) const { return logs_[static_cast<std::size_t>(log)]; }
  const ReadQuery& query() const { return query_; }

  // The records of the period that pass the filters, merged, to sink
  // (record.log names the log). from: where an earlier scan's next left
  // off; nothing (or an invalid position) reads from the period's start.
  // The sink returning false ends the scan after that record.
  SetScanResult scan(RecordSink& sink, SetPosition from = {});

  // The same scan taken in steps, as a cursor pulls its rows: start plans
  // it (a failure to read a log's keys comes back), each more() hands
  // records on until the sink returns false or the set is read (done()).
  // more() calls neither begin nor finish.
  std::optional<Failure> start(SetPosition from = {});
  SetScanResult more(RecordSink& sink);
  bool done() const { return group_ >= groups_.size(); }

  // The set's records in two halves at once, as Reader::scanInHalves reads
  // one long log: where the plan holds two groups or more and splitFrom
  // bytes or more (splitFrom < 0: never), the groups split where half the
  // bytes lie before. The first half's records go to first; the second's go
  // to second from a reader of its own on another thread (record.log is
  // then the log's index among that half's). secondKept: second holds
  // records, which follow first's. The progress is the first half's.
  struct Halves {
    std::optional<Failure> failure;
    bool secondKept = false;
  };
  Halves scanInHalves(RecordSink& first, RecordSink& second, std::int64_t splitFrom);

  // The records before a position, newest first  // The records before a position, newest first: by key from the highest,
  // then by the log's place in the set from the last, then by position from
  // the last, which is the forward order reversed where each log is in time
  // order. before: a record's position, as scan or scanBack handed it out;
  // nothing (or an invalid position): from the set's end. next: the last
  // record handed out, where a later call goes on; invalid when nothing of
  // the period is left before it. Logs that do not overlap are read one
  // after another from the newest; overlapping ones are merged through
  // buffers as scan merges them.
  SetScanResult scanBack(RecordSink& sink, SetPosition before = {});

  // The logs a period can touch, in the order they are read, grouped: each
  // group's logs overlap one another and are merged; groups follow one
  // another. For the tests and the tool's notes.
  std::vector<std::vector<int>> plan(const std::vector<std::string>& begins);

  std::int64_t oversizeRecords() const { return oversize_; }
  std::int64_t firstOversize() const { return firstOversize_; }
  void setProgress(ProgressFn fn) { progress_ = std::move(fn); }

 private:
  struct Stream;
  struct BackStream;
  const KeyRange& range(int log);
  bool readOne(RecordSink& sink, SetScanResult& out);
  bool merge(RecordSink& sink, SetScanResult& out);
  void countOversize(const Reader& reader, int log);
  void settle(SetPosition& next) const;

  std::vector<U16String> logs_;
  ReadQuery query_;
  const CodePage& cp_;
  std::vector<std::optional<KeyRange>> ranges_;
  std::optional<Failure> rangeFailure_;
  std::int64_t oversize_ = 0, firstOversize_ = -1;
  ProgressFn progress_;

  // the scan in progress
  SetPosition from_, next_;
  std::vector<std::string> begins_;
  std::vector<std::vector<int>> groups_;
  std::size_t group_ = 0;
  std::unique_ptr<Reader> one_;  // the current log, when read alone
  std::int64_t onePos_ = 0;
  std::vector<std::unique_ptr<Stream>> streams_;  // the current logs, when merged
  std::vector<std::size_t> heap_;
};

}  // namespace velmora
