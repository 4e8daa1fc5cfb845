// What the tool needs to know about its terminal: whether a stream is one,
// UTF-8 output on a Windows console, and the progress line of long work.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iosfwd>

namespace velmora::cli {

bool isTerminal(std::FILE* stream);

// Columns of the terminal behind stream: the window's width, else $COLUMNS,
// else 80.
int terminalColumns(std::FILE* stream);

// Standard output takes bytes as they are (no newline translation on Windows).
void setBinaryStdout();

// While alive, a Windows console shows the tool's UTF-8 output as text;
// the console's own code page comes back afterwards. Nothing elsewhere.
class ConsoleUtf8 {
 public:
  ConsoleUtf8();
  ~ConsoleUtf8();
  ConsoleUtf8(const ConsoleUtf8&) = delete;
  ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

 private:
#ifdef _WIN32
  unsigned previous_ = 0;  // the console's code page before
#endif
};

// One line on standard error, rewritten in place: the share of the log done.
// It appears only once the work has taken a moment, so quick runs stay quiet,
// and it is wiped before anything else is printed.
class ProgressLine {
 public:
  explicit ProgressLine(std::ostream& err) : err_(err), start_(std::chrono::steady_clock::now()) {}
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void update(std::int64_t done, std::int64_t total);
  void clear();

 private:
  std::ostream& err_;
  std::chrono::steady_clock::time_point start_;
  int shown_ = -1;           // percent on screen, -1 when nothing is
  std::size_t length_ = 0;   // characters on screen
};

}  // namespace velmora::cli
