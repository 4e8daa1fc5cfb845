// The event-log reader: its properties, the period, the filters and the
// methods that read the log into a value table or a value list.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "journal/host.h"
#include "journal/record_sink.h"
#include "text/text.h"
#include "transform/transform.h"

namespace velmora {

class ReadFile;
class CodePage;
class Prefilter;

// Called once per read window by the long methods, so that a caller can show
// progress: bytes done so far and the log's length.
using ProgressFn = std::function<void(std::int64_t done, std::int64_t total)>;

class Journal {
 public:
  Journal();
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // ---- properties -------------------------------------------------------
  std::int16_t CoincidenceObject() const { return CoincidenceObject_ ? 1 : 0; }
  void SetCoincidenceObject(std::int32_t value) { CoincidenceObject_ = value >= 1; }
  const U16String& InvertFilters() const { return InvertFilters_; }
  void SetInvertFilters(U16View value);
  const U16String& TextErr() const { return TextErr_; }
  const U16String& OrderBy() const { return OrderBy_; }
  void SetOrderBy(U16View value);
  const U16String& GroupBy() const { return GroupBy_; }
  void SetGroupBy(U16View value);
  const U16String& TransformStr() const { return TransformStr_; }
  void SetTransformStr(U16View value);
  const U16String& FilePath() const { return FilePath_; }
  void SetFilePath(U16View value) { FilePath_.assign(value); }
  // The log's length as a 32-bit property; a log of 2 GiB or more shows
  // 2147483647 rather than a wrapped number.
  std::int32_t MyFileSize() const;
  std::int64_t MyFileSize64() const { return MyFileSize_; }
  std::int32_t ListStrSize() const { return ListStrSize_; }
  std::int16_t NumErr() const { return NumErr_; }
  const U16String& DateBegin() const { return DateBegin_; }
  const U16String& DateEnd() const { return DateEnd_; }
  const U16String& InsertColumn() const { return InsertColumn_; }
  void SetInsertColumn(U16View value);
  std::int32_t ColumnTotal() const { return ColumnTotal_; }
  bool HasTranslator() const { return Translator_ != nullptr; }

  // ---- methods ----------------------------------------------------------
  std::int32_t GetStartPos(std::int32_t CurrentPos, ValueTable& ListStr);
  U16String GetFilter(U16View FilterName) const;
  bool SetFilter(U16View FilterStr, U16View FilterName);
  bool SetDateTimes(U16View Date1, U16View Time1, U16View Date2, U16View Time2);
  std::int32_t GetUsers(std::int32_t StartPos, ValueList& ListStr);
  std::int32_t StoreErrRows(U16View FlPath, U16View ErrPath);
  std::int32_t ReplaceDateTimes(U16View FlPath, U16View ErrPath);

  // Not visible to scripts: GetData for readers that keep no host table.
  // The same period, filters, start search and positions as GetStartPos,
  // with NumErr and TextErr set the same way; each accepted record goes to
  // sink as log bytes, untranslated and with every field. Positions are
  // 64-bit, so a log past 2 GiB is read whole.
  std::int64_t GetRecords(std::int64_t CurrentPos, RecordSink& sink);
  // The same, ending before the first line that starts at or after StopAt,
  // so that two readers can share a log: one reads up to a line start, the
  // other from it. ReachedStop() then says whether the scan got there (and
  // a scan from StopAt is its continuation), or ended earlier for its own
  // reasons: the period's end, a failure, the sink.
  std::int64_t GetRecords(std::int64_t CurrentPos, RecordSink& sink, std::int64_t StopAt);
  bool ReachedStop() const { return reachedStop_; }
  // Records of the period over the long-record limit that the last
  // GetData or GetRecords passed over (no filter can judge them), and the
  // position of the first; -1 when none. Not seen by scripts.
  std::int64_t OversizeRecords() const { return oversizeRecords_; }
  std::int64_t FirstOversizeRecord() const { return firstOversize_; }
  // Not visible to scripts: GetUsers with a 64-bit position, so that the
  // tool lists the users of a log past 2 GiB.
  std::int64_t GetUsers64(std::int64_t StartPos, ValueList& ListStr);
  // During a sink's record call: the 1-based byte position at which that
  // record's line starts.
  std::int64_t RecordPosition() const { return recordPos_; }
  // Not visible to scripts: where GetRecords(0, ...) would begin, found by
  // the same start search, as a 64-bit position; -1 when no record of the
  // period is found, the period is not set or the log does not exist.
  // NumErr and TextErr are set as by GetRecords.
  std::int64_t FindPeriodStart();

  // Not visible to scripts: the period as two 18-byte keys taken as they
  // stand, for the tool's open-ended periods (a log's records dated by a
  // wrong clock past the current year included). False, and nothing
  // changed, unless both are 18 bytes and begin <= end byte by byte.
  bool SetPeriodKeys(std::string_view begin, std::string_view end);

  // Not visible to scripts: progress reports for the command-line tool.
  void setProgress(ProgressFn fn) { progress_ = std::move(fn); }

  // ---- internals exposed for tests and benchmarks ------------------------
  // Cuts one record (a line without CR LF, log bytes) into Fields and applies
  // the filters; true when the record passes.
  // The views in Fields point into a copy of Line kept until the next call.
  bool FilterRecord(std::string_view Line);
  std::string_view Field(int k) const { return Fields_[k]; }  // k = 1..10
  // Windows read from logs since the reader was made (for benchmarks).
  std::uint64_t windowReads() const { return windowReads_; }

  static constexpr std::size_t kSearchWindow = 32768;
  static constexpr std::size_t kScanWindow = 65536;

 private:
  struct FilterState;  // defined in filter_state.h
  void rebuildFilters(const CodePage& cp);
  // The search that lets the record loops pass over lines that no
  // accepting filter can pass, its bytes chosen by their rates in samples
  // of the log; nullptr when none pays.
  std::unique_ptr<Prefilter> planPrefilter(const std::vector<std::string_view>& samples);
  // The same for a scan from start: sampled where the scan begins and at
  // the log's end (the two ends of what a scan from there may read).
  std::unique_ptr<Prefilter> planPrefilterAt(std::int64_t start);

  // start search (the log is open as file_)
  std::int64_t FindStartPos();
  bool WindowDates(std::string_view& FirstDate, std::string_view& LastDate) const;
  std::int64_t ScanForStart(std::int64_t WindowPos);
  std::size_t readWindow(std::int64_t position, std::size_t size);  // the bytes read
  // The same window for the record loops, which only read it: in place in
  // the file's read-ahead block when it follows on, else copied as above.
  // Either way window_ points at it, padded with spaces.
  std::size_t scanWindow(std::int64_t position, std::size_t size);
  // Opens the log and gives where a scan of the period starts: CurrentPos
  // when it is 1 or more, else the first record of the period (-1: none).
  // -1 with the log left closed when the period is not set or the log does
  // not exist.
  std::int64_t openPeriodScan(std::int64_t CurrentPos);
  // record loops: scanPeriod walks the records of the period from start and
  // calls onRecord() for each that passes the filters, its fields in Fields_;
  // onRecord returning false ends the scan after that record.
  // FilterRecord for a line followed by at least lines::kCutBlock readable
  // bytes (a line of the window, or a long record gathered with padding).
  bool filterLine(std::string_view Line);
  // A scan ends before the first line that starts at or after stopAt.
  template <class OnRecord>
  std::int64_t scanPeriod(std::int64_t start, OnRecord&& onRecord, std::int64_t stopAt = kNoStop);
  static constexpr std::int64_t kNoStop = INT64_MAX;
  template <bool Selected, bool Transformed, bool Counted>
  std::int64_t readRecords(std::int64_t start, ValueTable& table);
  void fail(std::int16_t number, U16String text);
  // Inside a catch block of a method that traps its errors: closes the log,
  // records the error in NumErr/TextErr and gives the result -1.
  std::int32_t failCurrent();
  void endCall();  // closes the log and drops the window at the end of a method
  void clearError();

  // members, as the script sees them
  std::int16_t NumErr_ = 0;
  U16String TextErr_;
  U16String FilePath_ = u"0";
  U16String DateBegin_;
  U16String DateEnd_;
  std::string DateBeginBytes_;  // the same keys as log bytes, for comparisons
  std::string DateEndBytes_;
  U16String InsertColumn_ = u"1111111111";
  U16String TransformStr_ = u"0000";
  U16String GroupBy_;
  U16String OrderBy_;
  U16String InvertFilters_ = u"00000000";
  std::int64_t MyFileSize_ = 0;
  std::int32_t ListStrSize_ = 0;
  std::int32_t ColumnTotal_ = 10;
  std::array<bool, 11> FilterInvert_{};  // positions 3..10
  bool CoincidenceObject_ = false;
  std::unique_ptr<Transform> Translator_;

  // filters: texts (positions 3..10) and their byte forms for matching
  std::array<U16String, 11> FilterText_;
  std::unique_ptr<FilterState> filters_;

  // working storage of one call
  RecordFields Fields_;  // positions 1..10, views into the window
  std::string padded_;   // a line given to FilterRecord, with room after it
  std::unique_ptr<ReadFile> file_;
  std::vector<char> Buffer_;                 // the current read window, when copied
  const char* window_ = nullptr;             // the current read window (in Buffer_ or in file_)
  std::size_t windowSize_ = 0;               // bytes of Buffer_ in use (W)
  std::size_t templateSize_ = 0;             // size of the next record-loop window
  std::uint64_t windowReads_ = 0;
  bool reachedStop_ = false;          // the last GetRecords got to its StopAt
  std::int64_t recordPos_ = 0;        // the line of the record being handed out
  std::int64_t oversizeRecords_ = 0, firstOversize_ = -1;
  ProgressFn progress_;
};

}  // namespace velmora
