// The tool's files: outputs written whole or not at all, the log checked
// before anything reads it, standard output that reports its write errors.
//
// Invariants:
//   - An output's final name holds the old file or the complete new one,
//     never a mix: the new file is written beside it under a temporary name
//     and renamed over it only once complete; a failure removes the
//     temporary and leaves the old file as it was.
//   - Every output is checked (its folder, its kind, its identity against
//     the log, the list and the other outputs) before any is created.
//     Identity is decided on the target a path resolves to, through links
//     that do not resolve yet as well.
//   - "-" names standard output wherever an output is named.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

#include "text/text.h"

namespace velmora::cli {

// The file a path leads to once every symbolic link is followed, the last
// one included even when its target does not exist yet; absolute.
std::filesystem::path resolvedTarget(const std::string& utf8Path);

// One output of a command, written under a temporary name in the target's
// folder (standard output: in the system's temporary folder) and put in
// place by commit().
class OutputFile {
 public:
  // Checks the target (throws UsageError) and creates the temporary file
  // (throws std::runtime_error). role names the output in messages: "OUT".
  OutputFile(const std::string& given, const std::string& role);
  ~OutputFile();  // removes the temporary unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool toStdout() const { return stdout_; }
  const std::filesystem::path& target() const { return target_; }
  U16String tempPath() const;
  std::int64_t tempSize() const;
  // Renames the temporary over the target, or copies it to out for "-";
  // throws std::runtime_error.
  void commit(std::ostream& out);

 private:
  std::string given_, role_;
  bool stdout_ = false;
  bool committed_ = false;
  std::filesystem::path target_, temp_;
  int slot_ = -1;  // in the list of temporaries a signal removes
};

// Throws UsageError when two of the named files are one: each output
// against the inputs and the other outputs. Inputs are given as typed.
void checkDistinct(const std::vector<std::string>& inputs, const std::vector<const OutputFile*>& outputs);

// The log as the reading commands need it, checked without opening it for
// reading (a FIFO would block): a regular file, not standard output, and,
// unless empty, holding a CR LF line end. Returns an exit code (0: fine)
// after a message on err. missingOk: a missing log is fine (--follow waits).
int checkLog(const std::string& log, std::ostream& err, bool missingOk = false, bool needLineEnd = true);
// Refuses a compressed log (kFailed, said on err) where a copy of the log
// is made: the copies keep the log's own bytes.
int checkPlainLog(const std::string& log, std::ostream& err);

// A resume position moved to a line start: the position itself when it is
// one, else the start of the next line (0 when none is complete yet), with a
// note on err; a position past the end is reported too.
std::int64_t lineStartAtOrAfter(const std::string& log, std::int64_t position, std::ostream& err, const char* option);

// What identifies a log between two looks at it.
struct FileState {
  bool exists = false;
  std::uint64_t device = 0, inode = 0;
  std::int64_t size = 0;
};
FileState fileState(const std::string& path);
// Up to n bytes of the file from the 1-based position ("" when unreadable).
std::string bytesAt(const std::string& path, std::int64_t position, std::size_t n);

// True while the reader of standard output is still there (POSIX: a pipe
// whose other end is closed reports an error on poll).
bool stdoutReaderGone();

// Standard output written with the system's write, keeping the first error.
class StdoutBuffer : public std::streambuf {
 public:
  StdoutBuffer();
  ~StdoutBuffer() override;
  int error() const { return error_; }  // errno of the first failed write, 0 if none

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool drain();
  std::vector<char> buffer_;
  int error_ = 0;
};

// The first write error of out when it is the tool's standard output, else 0.
int outputError(std::ostream& out);
// True for the error of a reader that went away (a closed pipe).
bool isClosedPipe(int error);
// A closed descriptor 0, 1 or 2 is opened on the null device read-only, so
// that no output file takes its number and writes to it fail.
void guardStandardDescriptors();

}  // namespace velmora::cli
