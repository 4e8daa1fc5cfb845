#include "cli/terminal.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace velmora::cli {

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

int terminalColumns(std::FILE* stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (h != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(h, &info)) return info.srWindow.Right - info.srWindow.Left + 1;
#else
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  if (const char* columns = std::getenv("COLUMNS")) {
    const int n = std::atoi(columns);
    if (n > 0) return n;
  }
  return 80;
}

void setBinaryStdout() {
#ifdef _WIN32
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

#ifdef _WIN32
ConsoleUtf8::ConsoleUtf8() {
  if (isTerminal(stdout) || isTerminal(stderr)) {
    previous_ = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
  }
}
ConsoleUtf8::~ConsoleUtf8() {
  if (previous_ != 0) SetConsoleOutputCP(previous_);
}
#else
ConsoleUtf8::ConsoleUtf8() = default;
ConsoleUtf8::~ConsoleUtf8() = default;
#endif

namespace {

std::string humanBytes(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return buf;
}

}  // namespace

void ProgressLine::update(std::int64_t done, std::int64_t total) {
  if (total <= 0) return;
  using namespace std::chrono_literals;
  if (shown_ < 0 && std::chrono::steady_clock::now() - start_ < 300ms) return;
  const int percent = static_cast<int>(std::min<std::int64_t>(100, std::max<std::int64_t>(0, done) * 100 / total));
  if (percent == shown_) return;
  shown_ = percent;
  const std::string text = "velmora: " + std::to_string(percent) + "% of " + humanBytes(total);
  std::string line = "\r" + text;
  if (text.size() < length_) line.append(length_ - text.size(), ' ');
  length_ = text.size();
  err_ << line << std::flush;
}

void ProgressLine::clear() {
  if (shown_ < 0) return;
  err_ << '\r' << std::string(length_, ' ') << '\r' << std::flush;
  shown_ = -1;
  length_ = 0;
}

}  // namespace velmora::cli
