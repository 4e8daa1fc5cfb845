// The copy of the log without its error records and, when asked for, a
// file of the error records alone (the script's StoreErrRows).
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/line_source.h"
#include "core/record_format.h"
#include "core/log_tasks.h"

namespace velmora {
namespace {

constexpr std::size_t kBlock = 65536;    // outputs are written in blocks of this size

// Collects records and writes them in blocks of exactly kBlock bytes, the
// rest at flush(); with no file it only drops what it is given.
class BlockWriter {
 public:
  explicit BlockWriter(WriteFile* file) : file_(file) {
    if (file_ != nullptr) block_.resize(kBlock);
  }
  void append(std::string_view bytes) {
    if (file_ == nullptr) return;
    while (!bytes.empty()) {
      const std::size_t n = std::min(kBlock - used_, bytes.size());
      std::memcpy(block_.data() + used_, bytes.data(), n);
      used_ += n;
      bytes.remove_prefix(n);
      if (used_ == kBlock) {
        file_->write(block_);
        used_ = 0;
      }
    }
  }
  void flush() {
    if (file_ != nullptr && used_ > 0) file_->write(std::string_view(block_.data(), used_));
    used_ = 0;
  }

 private:
  WriteFile* file_;
  std::string block_;
  std::size_t used_ = 0;
};

// Each record to the copy or, when it is an error record, to the error
// file; a record longer than a window is told by its pieces, then copied
// through to the one it belongs to.
class ErrorSplit {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::CopyThrough;

  ErrorSplit(BlockWriter& retained, BlockWriter& errors) : retained_(retained), errors_(errors) {}

  bool line(const char* begin, const char* cr) {
    const std::string_view record(begin, static_cast<std::size_t>(cr + 2 - begin));
    if (record::isErrorRecord(record.substr(0, record.size() - 2))) {
      ++removed_;
      errors_.append(record);
    } else {
      retained_.append(record);
    }
    return true;
  }
  void inspect(std::int64_t offset, std::string_view piece) {
    constexpr auto fieldsFrom = static_cast<std::int64_t>(record::kKeySize);
    if (located_ || offset + static_cast<std::int64_t>(piece.size()) <= fieldsFrom) return;
    if (offset < fieldsFrom) piece.remove_prefix(static_cast<std::size_t>(fieldsFrom - offset));
    located_ = rule_.feed(piece);
  }
  bool longLine(const lines::LongLine&) {
    const bool error = rule_.errorRecord();
    if (error) ++removed_;
    to_ = error ? &errors_ : &retained_;
    rule_ = {};
    located_ = false;
    return true;
  }
  void copy(std::int64_t, char* piece, std::size_t n) { to_->append(std::string_view(piece, n)); }

  std::int64_t removed() const { return removed_; }

 private:
  BlockWriter& retained_;
  BlockWriter& errors_;
  BlockWriter* to_ = nullptr;
  record::ErrorRule rule_;
  bool located_ = false;
  std::int64_t removed_ = 0;
};

}  // namespace

std::int64_t splitErrorRecords(U16View log, U16View kept, U16View errorsPath, const ProgressFn& progress,
                               TaskStats& stats) {
  if (log == errorsPath || log == kept || kept == errorsPath) return -1;
  const bool wantErrors = !trimSpaces(errorsPath).empty();
  // Another spelling of the same file (a relative path, a link) is refused
  // like an equal path: writing it would destroy what is being read.
  if (sameFile(kept, log)) return -1;
  if (wantErrors && (sameFile(errorsPath, log) || sameFile(kept, errorsPath))) return -1;
  if (!fileExists(log)) return -1;

  ReadFile file(log);
  stats.logSize = file.size();
  WriteFile retainedFile(kept);
  std::optional<WriteFile> errorFile;
  if (wantErrors) errorFile.emplace(errorsPath);
  BlockWriter retained(&retainedFile);
  BlockWriter errors(errorFile ? &*errorFile : nullptr);

  lines::LineSource source(file, lines::SourceOptions::forCopy(Reader::kScanWindow, &progress));
  const AtScopeEnd counted([&] { stats.windows += source.windows(); });
  ErrorSplit split(retained, errors);
  source.walk(1, split);

  retained.flush();
  errors.flush();
  retainedFile.close();
  if (errorFile) errorFile->close();
  return split.removed();
}

}  // namespace velmora
