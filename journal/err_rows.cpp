// StoreErrRows: a copy of the log without its error records and, when asked
// for, a file of the error records alone.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/lines.h"
#include "journal/long_lines.h"

namespace velmora {
namespace {

constexpr std::size_t kBlock = 65536;    // outputs are written in blocks of this size
constexpr std::int64_t kEndMargin = 18;  // no window starts this close to the end

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

// Tells error records from the others. A record is an error record when its
// seventh field is exactly "5", or when it does not hold the ";" that ends
// that field. The fields are found by counting ";" from the record's 19th
// byte on; the record is fed from there, in one piece or several.
class SeventhField {
 public:
  // True once the ";" that ends the seventh field has been seen.
  bool feed(std::string_view piece) {
    while (!piece.empty() && semicolons_ < 5) {
      const auto semicolon = piece.find(';');
      if (semicolons_ == 4) {
        const std::string_view part = piece.substr(0, semicolon);
        if (length_ == 0 && !part.empty()) first_ = part.front();
        length_ += part.size();
      }
      if (semicolon == std::string_view::npos) break;
      ++semicolons_;
      piece.remove_prefix(semicolon + 1);
    }
    return semicolons_ == 5;
  }
  bool errorRecord() const { return semicolons_ < 5 || (length_ == 1 && first_ == '5'); }

 private:
  int semicolons_ = 0;
  std::size_t length_ = 0;  // of the seventh field
  char first_ = 0;
};

bool isErrorRecord(const char* record, const char* end) {
  SeventhField seventh;
  if (record + 18 < end) seventh.feed(std::string_view(record + 18, static_cast<std::size_t>(end - record - 18)));
  return seventh.errorRecord();
}

}  // namespace

std::int32_t Journal::StoreErrRows(U16View FlPath, U16View ErrPath) {
  clearError();
  try {
    const AtScopeEnd done([this] { endCall(); });
    if (FilePath_ == ErrPath || FilePath_ == FlPath || FlPath == ErrPath) return -1;
    const bool wantErrors = !trimSpaces(ErrPath).empty();
    // Another spelling of the same file (a relative path, a link) is refused
    // like an equal path: writing it would destroy what is being read.
    if (sameFile(FlPath, FilePath_)) return -1;
    if (wantErrors && (sameFile(ErrPath, FilePath_) || sameFile(FlPath, ErrPath))) return -1;
    if (!fileExists(FilePath_)) return -1;

    file_ = std::make_unique<ReadFile>(FilePath_);
    MyFileSize_ = file_->size();
    WriteFile retainedFile(FlPath);
    std::optional<WriteFile> errorFile;
    if (wantErrors) errorFile.emplace(ErrPath);
    BlockWriter retained(&retainedFile);
    BlockWriter errors(errorFile ? &*errorFile : nullptr);

    const auto W = std::min<std::int64_t>(MyFileSize_, kScanWindow);
    std::vector<char> scratch;  // for a record longer than a window
    std::int64_t removed = 0;
    std::int64_t pos = 1;
    do {
      // Records appended while the copy runs are left out: no window
      // reaches past the length found at open. A log cut meanwhile cannot
      // give a whole copy.
      const auto want = static_cast<std::size_t>(std::min(W, MyFileSize_ - pos + 1));
      if (readWindow(pos, want) < want) throwLogCut(FilePath_);
      const char* buf = Buffer_.data();
      const char* end = buf + windowSize_;
      const char* g = buf;
      while (const char* e = lines::findLineEnd(g, end)) {
        const std::string_view record(g, static_cast<std::size_t>(e + 2 - g));
        if (isErrorRecord(g, e)) {
          ++removed;
          errors.append(record);
        } else {
          retained.append(record);
        }
        g = e + 2;
      }
      if (g != buf) {
        pos += g - buf;
        continue;
      }
      // No complete record in the window. At the end of the log that is its
      // unterminated last line, which is no record; elsewhere it is a record
      // longer than the window, followed piece by piece.
      if (pos + static_cast<std::int64_t>(want) - 1 >= MyFileSize_) break;
      if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
      SeventhField seventh;
      bool located = false;
      const std::int64_t fieldsFrom = pos + 18;
      const std::int64_t cr =
          lines::followLine(*file_, pos, MyFileSize_, scratch, [&](std::int64_t at, std::string_view piece) {
            if (located || at + static_cast<std::int64_t>(piece.size()) <= fieldsFrom) return;
            if (at < fieldsFrom) piece.remove_prefix(static_cast<std::size_t>(fieldsFrom - at));
            located = seventh.feed(piece);
          });
      if (cr < 0) break;
      const bool error = seventh.errorRecord();
      if (error) ++removed;
      BlockWriter& to = error ? errors : retained;
      lines::readPieces(*file_, pos, cr + 1, scratch, [&](std::int64_t, std::string_view piece) { to.append(piece); });
      pos = cr + 2;
    } while (pos <= MyFileSize_ - kEndMargin);

    retained.flush();
    errors.flush();
    file_.reset();
    retainedFile.close();
    if (errorFile) errorFile->close();
    return scriptResult(removed, FilePath_);
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
