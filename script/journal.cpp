#include "script/journal.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/fileio.h"
#include "core/filter_text.h"
#include "script/filter_state.h"
#include "core/lines.h"
#include "transform/mask.h"

namespace velmora {

Journal::Journal() : filters_(std::make_unique<FilterState>()) {}
Journal::~Journal() = default;

const CodePage& Journal::codePage() const { return CodePage::current(); }

bool Journal::periodSet() const {
  return DateBegin_.size() == lines::kKeySize && DateEnd_.size() == lines::kKeySize &&
         DateBeginBytes_.size() == lines::kKeySize && DateEndBytes_.size() == lines::kKeySize;
}

ReadQuery Journal::query() const {
  ReadQuery q;
  if (periodSet()) {
    q.begin = DateBeginBytes_;
    q.end = DateEndBytes_;
  }
  for (int f = kFirstFilteredField; f <= kLastField; ++f) {
    const U16String& text = FilterText_[f];
    FieldFilter& plan = q.filters[static_cast<std::size_t>(f)];
    plan.on = !text.empty();
    plan.invert = FilterInvert_[f];
    plan.exact = f < kCommentField || (f == kObjectIdField && CoincidenceObject_);
    if (!plan.on) continue;
    if (plan.exact) {
      // A field value holding bars matches neighbouring values together.
      plan.values = comparedValues(text);
    } else {
      plan.values = filters_->lists[static_cast<std::size_t>(f - kCommentField)];
    }
  }
  return q;
}

Reader& Journal::reader() {
  const CodePage& cp = codePage();
  if (reader_ && !readerStale_ && readerCp_ == &cp) return *reader_;
  reader_ = std::make_unique<Reader>(FilePath_, query(), cp);
  reader_->setProgress(progress_);
  readerCp_ = &cp;
  readerStale_ = false;
  return *reader_;
}

void Journal::keepCallState(const Reader& r) {
  if (r.logSize() >= 0) MyFileSize_ = r.logSize();
}

void Journal::setProgress(ProgressFn fn) {
  progress_ = std::move(fn);
  if (reader_) reader_->setProgress(progress_);
}

void Journal::SetInvertFilters(U16View value) {
  InvertFilters_ = normaliseMask(trimSpaces(value), 8, u'0');
  for (int k = 1; k <= 8; ++k) FilterInvert_[k + 2] = InvertFilters_[k - 1] == u'1';
  readerStale_ = true;
}

void Journal::SetOrderBy(U16View value) { OrderBy_.assign(trimSpaces(value)); }

void Journal::SetGroupBy(U16View value) { GroupBy_.assign(trimSpaces(value)); }

void Journal::SetTransformStr(U16View value) {
  U16String mask = normaliseMask(trimSpaces(value), 4, u'0');
  if (mask != u"0000") {
    if (!Translator_) Translator_ = std::make_unique<Transform>();
    Translator_->SetTransformStr(mask);
  } else {
    Translator_.reset();
  }
  TransformStr_ = std::move(mask);
}

void Journal::SetInsertColumn(U16View value) {
  // Not trimmed: a leading space stands for column 1, switched off.
  if (value.empty()) {
    InsertColumn_.clear();
    ColumnTotal_ = 10;
    return;
  }
  U16String mask = normaliseMask(value, 10, u' ');
  std::int32_t total = 0;
  for (char16_t c : mask) total += c == u'1' ? 1 : 0;
  if (total == 0) {
    // No column selected means all columns.
    mask.clear();
    total = 10;
  }
  InsertColumn_ = std::move(mask);
  ColumnTotal_ = total;
}

std::int32_t Journal::MyFileSize() const {
  constexpr std::int64_t top = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(MyFileSize_ > top ? top : MyFileSize_);
}

void Journal::fail(std::int16_t number, U16String text) {
  NumErr_ = number;
  TextErr_ = std::move(text);
}

void Journal::clearError() {
  NumErr_ = 0;
  TextErr_.clear();
}

}  // namespace velmora
