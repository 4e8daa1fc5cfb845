// Helpers of the command-line tests: temporary folders, files, running the
// built velmora program with its output captured, and reading CSV back.
#pragma once

#include <signal.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace velmora::testing {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(std::string_view name) const { return dir_ + "/" + std::string(name); }

 private:
  std::string dir_;
};

void writeFile(const std::string& path, std::string_view bytes);
void appendFile(const std::string& path, std::string_view bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Windows-1251 bytes of a text of ASCII and Russian letters.
std::string cp1251(std::u16string_view text);
// Windows-1251 bytes to UTF-8, for comparing the tool's output with a log.
std::string utf8From1251(std::string_view bytes);

std::vector<std::string_view> linesOf(std::string_view text, std::string_view separator = "\r\n");
std::vector<std::string_view> splitOn(std::string_view text, char separator);

struct RunResult {
  int exitCode = -1;  // -1: ended by a signal
  std::string out, err;
};

// Where the tool's standard output goes: a pipe read by the test (the
// default), a file (appended to or truncated), or nowhere (closed).
struct Stdout {
  std::string file;
  bool append = false;
  bool closed = false;
};

// The program run: the built tool, or the one named by VELMORA_TEST_EXE (to
// check that a test fails on an older build).
const char* velmoraProgram();

// Runs the built tool with the arguments; standard input is empty.
RunResult runVelmora(const std::vector<std::string>& args, const Stdout& to = {});

// The tool running in the background, read as it writes.
class Running {
 public:
  explicit Running(const std::vector<std::string>& args, const Stdout& to = {});
  ~Running();  // kills and reaps a process still running
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  // Reads standard output until it holds at least n lines (or the program
  // ends, or a generous safety limit of some seconds passes, which fails the
  // wait). Returns whether n lines arrived.
  bool waitForLines(std::size_t n);
  void signal(int number);
  // The reader of standard output goes away, as head does after its lines.
  void closeOut();
  // Waits for the end; returns the exit code, -1 if ended by a signal.
  int wait();
  // Waits at most ms milliseconds for the end: the exit code as wait()
  // gives it, or -2 when the program still runs.
  int waitUpTo(int ms);
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  bool pump(int timeoutMs);  // false when both pipes are closed
  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  std::string out_, err_;
};

// Records of RFC 4180 CSV text (CR LF or LF line ends); throws on malformed input.
std::vector<std::vector<std::string>> parseCsv(std::string_view text);

// The number after "--resume " or "--start " in the tool's standard error, or -1.
long long resumePosition(const std::string& err, std::string_view option = "--resume");

}  // namespace velmora::testing
