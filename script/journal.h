// The event-log reader as scripts see it: its properties, the period, the
// filters and the methods that read the log into a value table or a value
// list. The period scans run through a Reader (core/reader.h) built from
// the properties: the script texts become a typed filter plan there.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/host.h"
#include "core/reader.h"
#include "core/record_sink.h"
#include "text/text.h"
#include "transform/transform.h"

namespace velmora {

class CodePage;
struct TaskStats;

class Journal {
 public:
  // Follows CodePage::current(), the add-in's system code page, as it is
  // at each call.
  Journal();
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // ---- properties -------------------------------------------------------
  std::int16_t CoincidenceObject() const { return CoincidenceObject_ ? 1 : 0; }
  void SetCoincidenceObject(std::int32_t value) {
    CoincidenceObject_ = value >= 1;
    readerStale_ = true;
  }
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
  void SetFilePath(U16View value) {
    FilePath_.assign(value);
    readerStale_ = true;
  }
  // The log's length as a 32-bit property; a log of 2 GiB or more shows
  // 2147483647 rather than a wrapped number.
  std::int32_t MyFileSize() const;
  std::int32_t ListStrSize() const { return ListStrSize_; }
  std::int16_t NumErr() const { return NumErr_; }
  const U16String& DateBegin() const { return DateBegin_; }
  const U16String& DateEnd() const { return DateEnd_; }
  const U16String& InsertColumn() const { return InsertColumn_; }
  void SetInsertColumn(U16View value);
  std::int32_t ColumnTotal() const { return ColumnTotal_; }

  // ---- methods ----------------------------------------------------------
  std::int32_t GetStartPos(std::int32_t CurrentPos, ValueTable& ListStr);
  U16String GetFilter(U16View FilterName) const;
  bool SetFilter(U16View FilterStr, U16View FilterName);
  bool SetDateTimes(U16View Date1, U16View Time1, U16View Date2, U16View Time2);
  std::int32_t GetUsers(std::int32_t StartPos, ValueList& ListStr);
  std::int32_t StoreErrRows(U16View FlPath, U16View ErrPath);
  std::int32_t ReplaceDateTimes(U16View FlPath, U16View ErrPath);

  // Not visible to scripts: a report after each window that a period scan,
  // the user list or a copy reads, with the bytes done and the log's length.
  void setProgress(ProgressFn fn);

 private:
  struct FilterState;  // defined in filter_state.h
  // The typed query the properties stand for (filters as plans, the period
  // as keys), as the next period scan uses it.
  ReadQuery query() const;
  // GetUsers with a 64-bit position, which GetUsers narrows for scripts.
  std::int64_t GetUsers64(std::int64_t StartPos, ValueList& ListStr);
  const CodePage& codePage() const;
  bool periodSet() const;
  // The reader of the current properties, made anew when one changed.
  Reader& reader();
  void keepCallState(const Reader& r);
  template <bool Selected, bool Transformed, bool Counted>
  static ScanResult runTable(Journal& j, Reader& r, std::int64_t from, ValueTable& table);

  void fail(std::int16_t number, U16String text);
  // Inside a catch block of a method that traps its errors: records the
  // error in NumErr/TextErr and gives the result -1.
  std::int32_t failCurrent();
  // What a whole-log task saw, kept as the properties show it.
  void keepTaskStats(const TaskStats& stats);
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
  std::unique_ptr<Reader> reader_;
  const CodePage* readerCp_ = nullptr;  // the code page reader_ was made for
  bool readerStale_ = true;

  ProgressFn progress_;
};

}  // namespace velmora
