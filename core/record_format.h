// The record format, in one place. A record is one line of the log ending
// with CR LF: an 18-byte period key ("YYYYMMDD;HHMMSS;" and two more bytes,
// the date and time as the host writes them) and then eight fields
// separated by ";". Only CR LF ends a record; a lone CR or LF is text.
//
// An error record is one whose number field (the seventh) is exactly "5",
// or one whose seventh field has no ";" ending it. Every reader that tells
// error records from others (the filters, the copy without errors, the
// tool's statistics) asks isErrorRecord.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

// Field numbers as the script and the value table count them (1-based).
enum Field : int {
  kDateField = 1,
  kTimeField = 2,
  kUserField = 3,
  kModeField = 4,
  kObjectTypeField = 5,
  kOperationField = 6,
  kNumberField = 7,
  kCommentField = 8,
  kObjectIdField = 9,
  kPresentationField = 10,
};
inline constexpr int kFirstField = kDateField;
inline constexpr int kLastField = kPresentationField;
inline constexpr int kFirstFilteredField = kUserField;  // fields 3..10 have filters

namespace record {

inline constexpr std::size_t kKeySize = 18;   // the period key at a record's start
inline constexpr std::size_t kDate9Size = 9;  // the date and its ";"
// No window of a record loop starts this close to the log's end: what is
// left there cannot hold a record after its key.
inline constexpr std::int64_t kEndMargin = 18;

// Tells error records from the others, fed the record's bytes from its
// 19th on (after the key), in one piece or several.
class ErrorRule {
 public:
  // True once the ";" that ends the seventh field has been seen: the
  // answer is then known, and further pieces change nothing.
  bool feed(std::string_view piece);
  bool errorRecord() const { return semicolons_ < 5 || (length_ == 1 && first_ == '5'); }

 private:
  int semicolons_ = 0;
  std::size_t length_ = 0;  // of the seventh field
  char first_ = 0;
};

// record: one line without its CR LF, key included.
bool isErrorRecord(std::string_view record);

// The same rule for a record already cut into fields, without a second
// pass over it: seventh is its seventh field, closed whether a ";" ends it.
inline bool isErrorRecord(std::string_view seventh, bool closed) {
  return !closed || (seventh.size() == 1 && seventh[0] == '5');
}

}  // namespace record
}  // namespace velmora
