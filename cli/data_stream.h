// The data command's rows as the reader finds them: a RecordSink that does
// what the query asks (column choice, translation, grouping with a count,
// sorting; cli/data_query.h) and prints in any of the four formats. The rows are those
// that GetData would put into the in-memory value table, except that values
// are whole where the table cuts them to its column widths (8, 2, 30).
//
// With neither grouping nor sorting each row is printed once complete, and
// memory stays bounded whatever the size of the log or of the answer;
// grouping keeps one row per group, sorting keeps the rows compactly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/data_query.h"
#include "cli/held_rows.h"
#include "cli/record_shaper.h"
#include "cli/stream_printer.h"
#include "core/log_set.h"
#include "core/reader.h"

namespace velmora::cli {

class ProgressLine;

class DataStream : public RecordSink {
 public:
  // Reads through reader, made of the query's ReadQuery; the query
  // outlives the stream. progress: show a progress line on io.err while
  // reading.
  DataStream(Reader& reader, const DataQuery& query, Io& io, bool progress);
  // The same over a set of logs, merged into one timeline.
  DataStream(LogSetReader& set, const DataQuery& query, Io& io, bool progress);
  ~DataStream() override;
  DataStream(const DataStream&) = delete;
  DataStream& operator=(const DataStream&) = delete;

  // One scan through this stream from position (0: the period's start);
  // its result, with anything that stopped it as a failure. flush: hand the
  // last rows on at once, else at finish() (a followed log first notes what
  // it read, before anyone can see the rows).
  ScanResult read(std::int64_t position, bool flush = true);
  // One scan of the set from a position of it (invalid: the period's start).
  SetScanResult readSet(SetPosition position, bool flush = true);
  // The records over the long-record limit of the last scan that had a
  // start, and the first of them (-1: none).
  std::int64_t oversizeRecords() const { return oversize_; }
  std::int64_t firstOversize() const { return firstOversize_; }
  // The end of a read (or of one look at a followed log): groups, sorts and
  // prints what was kept, and hands all output on. startFound: the read had
  // a start (GetData groups only then). A column list that names no column
  // fails here, where GetData would fail.
  std::optional<StreamFailure> conclude(bool startFound);
  std::size_t printed() const { return printer_.printed(); }
  // Over a set: the position of the last record of a log handed out (-1: none).
  std::int64_t lastRecordOf(int log) const {
    return log >= 0 && static_cast<std::size_t>(log) < lastOf_.size() ? lastOf_[static_cast<std::size_t>(log)] : -1;
  }
  // Goes on with one log of the set alone (the live log a follow watches).
  void switchTo(Reader& reader) {
    if (set_) set_->setProgress(nullptr);
    set_ = nullptr;
    reader_ = &reader;
  }
  // Lets go of the reader switched to, before it goes (the stream may outlive it).
  void release() {
    if (reader_) reader_->setProgress(nullptr);
    reader_ = nullptr;
  }

  bool record(const Record& record) override;
  void windowDone(std::int64_t done, std::int64_t total) override;

 private:
  DataStream(Reader* reader, LogSetReader* set, const DataQuery& query, Io& io, bool progress);
  // The sort keys of an order list, against rows of those numeric columns.
  static std::vector<SortKey> sortKeys(const ResolvedList& order, const std::vector<bool>& numeric);

  Reader* reader_ = nullptr;
  LogSetReader* set_ = nullptr;
  std::vector<std::int64_t> lastOf_;  // per log of the set
  const DataQuery& query_;
  std::int64_t oversize_ = 0, firstOversize_ = -1;
  Io& io_;
  RecordShaper shaper_;
  StreamPrinter printer_;
  Utf8Table utf8_;
  std::unique_ptr<ProgressLine> progress_;
  std::vector<Cell> cells_;

  // grouping
  bool grouping_ = false;
  std::unique_ptr<Grouper> grouper_;
  std::vector<std::size_t> groupedColumns_;
  std::vector<std::string> texts_;  // UTF-8 of the grouping columns of a record
  std::vector<std::string_view> views_;

  // sorting: against the grouped rows, or the plain ones
  bool ordering_ = false;
  std::vector<SortKey> orderGrouped_, orderPlain_;
  std::unique_ptr<RowStore> store_;

  std::vector<std::string> plainNames_, groupedNames_;
  std::vector<bool> plainNumeric_, groupedNumeric_;
};

}  // namespace velmora::cli
