// A progress line on standard error while the reader works through a log,
// when standard error is a terminal.
#pragma once

#include <memory>

#include "cli/commands.h"
#include "cli/terminal.h"

namespace velmora::cli {

// Connects the reader's progress reports to a progress line, when wanted.
// Source: the script class or the typed reader.
template <class Source>
class ProgressScope {
 public:
  ProgressScope(Source& journal, Io& io) : journal_(journal) {
    if (!io.progress) return;
    line_ = std::make_unique<ProgressLine>(io.err);
    journal_.setProgress([line = line_.get()](std::int64_t done, std::int64_t total) { line->update(done, total); });
  }
  ~ProgressScope() { journal_.setProgress(nullptr); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
  void clear() {
    if (line_) line_->clear();
  }

 private:
  Source& journal_;
  std::unique_ptr<ProgressLine> line_;
};

}  // namespace velmora::cli
