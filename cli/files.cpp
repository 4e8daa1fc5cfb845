#include "cli/files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <stdexcept>

#include "cli/commands.h"
#include "core/failure.h"
#include "core/file_identity.h"
#include "core/file_paths.h"
#include "core/log_probe.h"
#include "core/log_shape.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace velmora::cli {
namespace {

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }
std::string utf8Of(const fs::path& p) { return toUtf8(p.u16string()); }
fs::path pathOf(const std::string& utf8) { return fs::path(fromUtf8(utf8)); }

// ---- temporaries removed on a signal --------------------------------------------

// Fixed slots, so that the handler touches no allocation.
constexpr int kSlots = 4;
constexpr std::size_t kSlotBytes = 4096;
char gTemps[kSlots][kSlotBytes];
volatile std::sig_atomic_t gTempUsed[kSlots];

extern "C" void removeTempsAndDie(int signal) {
  for (int k = 0; k < kSlots; ++k)
    if (gTempUsed[k]) std::remove(gTemps[k]);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

int holdTemp(const fs::path& p) {
  const std::string native = p.string();
  if (native.size() >= kSlotBytes) return -1;
  for (int k = 0; k < kSlots; ++k) {
    if (gTempUsed[k]) continue;
    std::memcpy(gTemps[k], native.c_str(), native.size() + 1);
    gTempUsed[k] = 1;
    static bool installed = false;
    if (!installed) {
      installed = true;
      // A run that follows a log has its own handlers; no command that
      // writes files follows.
      for (int s : {SIGINT, SIGTERM}) std::signal(s, removeTempsAndDie);
#ifdef SIGHUP
      std::signal(SIGHUP, removeTempsAndDie);
#endif
    }
    return k;
  }
  return -1;
}

void releaseTemp(int slot) {
  if (slot >= 0) gTempUsed[slot] = 0;
}

// Creates a new, empty file of a name no one uses; throws.
fs::path createTemp(const fs::path& folder, const std::string& base) {
#ifdef _WIN32
  for (unsigned n = 0; n < 1000; ++n) {
    const fs::path p = folder / (L"." + fs::path(fromUtf8(base)).wstring() + L"." +
                                 std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(n) + L".tmp");
    const int fd = _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      _close(fd);
      return p;
    }
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("cannot create a temporary file in " + inQuotes(utf8Of(folder)) + ": " + std::strerror(errno));
#else
  std::string pattern = (folder / ("." + base + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0)
    throw std::runtime_error("cannot create a temporary file in " + inQuotes(utf8Of(folder)) + ": " + std::strerror(errno));
  ::close(fd);
  return fs::path(pattern);
#endif
}

}  // namespace

fs::path resolvedTarget(const std::string& utf8Path) {
  std::error_code ec;
  fs::path p = fs::absolute(pathOf(utf8Path), ec);
  if (ec) p = pathOf(utf8Path);
  // The folder first (it may hold links), then the name, link after link.
  for (int hop = 0; hop < 40; ++hop) {
    const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
    if (!ec) p = folder / p.filename();
    const auto status = fs::symlink_status(p, ec);
    if (ec || !fs::is_symlink(status)) break;
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  return p.lexically_normal();
}

OutputFile::OutputFile(const std::string& given, const std::string& role) : given_(given), role_(role) {
  std::error_code ec;
  if (given == "-") {
    stdout_ = true;
    temp_ = createTemp(fs::temp_directory_path(ec), "velmora-out");
  } else {
    if (given.empty()) throw UsageError(role + " is empty; expected a file name, or - for standard output");
    target_ = resolvedTarget(given);
    const fs::path folder = target_.parent_path();
    if (!fs::is_directory(folder, ec))
      throw UsageError(role + " " + inQuotes(given) + ": the folder " + inQuotes(utf8Of(folder)) + " does not exist");
    const auto status = fs::status(target_, ec);
    if (fs::exists(status) && !fs::is_regular_file(status))
      throw UsageError(role + " " + inQuotes(given) + " is " + (fs::is_directory(status) ? "a folder" : "not a regular file") +
                       "; expected a file to write");
    temp_ = createTemp(folder, target_.filename().string());
  }
  slot_ = holdTemp(temp_);
}

OutputFile::~OutputFile() {
  if (!committed_) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
  releaseTemp(slot_);
}

U16String OutputFile::tempPath() const { return temp_.u16string(); }

std::int64_t OutputFile::tempSize() const {
  std::error_code ec;
  const auto size = fs::file_size(temp_, ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

void OutputFile::commit(std::ostream& out) {
  if (stdout_) {
    std::ifstream in(temp_, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read back the temporary file " + inQuotes(utf8Of(temp_)));
    out << in.rdbuf();
    out.flush();
    return;  // the destructor removes the temporary
  }
  std::error_code ec;
  // The new file keeps the permissions of the one it replaces; a new name
  // gets what the user's mask allows a new file.
  const auto old = fs::status(target_, ec);
  if (!ec && fs::exists(old)) {
    fs::permissions(temp_, old.permissions(), ec);
  } else {
#ifndef _WIN32
    const mode_t mask = ::umask(0);
    ::umask(mask);
    fs::permissions(temp_, static_cast<fs::perms>(0666 & ~mask), ec);
#endif
  }
#ifdef _WIN32
  if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw std::runtime_error("cannot put the new " + role_ + " in place of " + inQuotes(given_) + " (Windows error " +
                             std::to_string(GetLastError()) + ")");
#else
  if (::rename(temp_.c_str(), target_.c_str()) != 0)
    throw std::runtime_error("cannot put the new " + role_ + " in place of " + inQuotes(given_) + ": " +
                             std::strerror(errno));
#endif
  committed_ = true;
}

void checkDistinct(const std::vector<std::string>& inputs, const std::vector<const OutputFile*>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const OutputFile& o = *outputs[i];
    if (o.toStdout()) {
      for (std::size_t j = 0; j < i; ++j)
        if (outputs[j]->toStdout()) throw UsageError("two outputs are - (standard output); give one of them a file");
      continue;
    }
    const U16String target = o.target().u16string();
    for (const std::string& in : inputs)
      if (sameFile(target, resolvedTarget(in).u16string()) || sameFile(target, fromUtf8(in)))
        throw UsageError("an output names the input " + inQuotes(in) + " (through " + inQuotes(utf8Of(o.target())) +
                         "); the log, the list and the outputs must be different files");
    for (std::size_t j = 0; j < i; ++j)
      if (!outputs[j]->toStdout() && (outputs[j]->target() == o.target() || sameFile(outputs[j]->target().u16string(), target)))
        throw UsageError("two outputs are one file, " + inQuotes(utf8Of(o.target())) + "; the outputs must be different files");
  }
}

// ---- the log ----------------------------------------------------------------

namespace {

bool stdoutIs(const std::string& log) {
  const auto out = stdoutIdentity();
  const auto file = out ? fileIdentity(fromUtf8(log)) : std::nullopt;
  return file && out->sameFileAs(*file);
}

}  // namespace

FileState fileState(const std::string& path) {
  FileState s;
  if (const auto id = fileIdentity(fromUtf8(path)); id && id->regular) {
    s.exists = true;
    s.device = id->device;
    s.inode = id->number;
    s.size = id->size;
  }
  return s;
}

std::string bytesAt(const std::string& path, std::int64_t position, std::size_t n) {
  try {
    return readLogBytes(fromUtf8(path), position, n);
  } catch (const std::exception&) {
    return {};
  }
}

int checkLog(const std::string& log, std::ostream& err, bool missingOk, bool needLineEnd) {
  const LogShapeCheck shape = checkLogShape(fromUtf8(log));
  switch (shape.shape) {
    case LogShape::Fine:
      break;
    case LogShape::Missing:
      if (missingOk) return kSuccess;
      [[fallthrough]];
    case LogShape::NoLineEnd:
      // A followed log may still be writing its first record.
      if (shape.shape == LogShape::NoLineEnd && !needLineEnd) break;
      [[fallthrough]];
    default:
      err << "velmora: " << describeLogShape(shape, log) << "\n";
      return kFailed;
  }
  if (stdoutIs(log)) {
    err << "velmora: standard output is the log " << inQuotes(log) << " itself; write the output to another file\n";
    return kFailed;
  }
  return kSuccess;
}

int checkPlainLog(const std::string& log, std::ostream& err) {
  if (const char* compression = checkLogShape(fromUtf8(log)).compression) {
    err << "velmora: the log " << inQuotes(log) << " is " << compression
        << "-compressed; copies are made of a plain log only (decompress it first)\n";
    return kFailed;
  }
  return kSuccess;
}

std::int64_t lineStartAtOrAfter(const std::string& log, std::int64_t position, std::ostream& err, const char* option) {
  if (position <= 1) return position;
  const FileState state = fileState(log);
  if (!state.exists) return position;
  // A compressed log's positions are those of its text, longer than the file.
  if (position > state.size + 1 && checkLogShape(fromUtf8(log)).compression == nullptr) {
    err << "velmora: " << option << " " << position << " lies past the end of the log (" << state.size
        << " bytes); nothing there to read yet\n";
    return position;
  }
  std::int64_t next = -1;
  try {
    next = velmora::lineStartAtOrAfter(fromUtf8(log), position);
  } catch (const std::exception&) {
    next = -1;  // an unreadable log: no line start is found in it
  }
  if (next == position) return position;
  if (next < 0) {
    err << "velmora: " << option << " " << position << " lies inside the log's last line, which has no end yet\n";
    return 0;
  }
  err << "velmora: " << option << " " << position << " lies inside a record; starting at the next one, position " << next
      << "\n";
  return next;
}

// ---- standard output ---------------------------------------------------------------

bool stdoutReaderGone() {
#ifdef _WIN32
  return false;
#else
  pollfd p{1, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
#endif
}

StdoutBuffer::StdoutBuffer() : buffer_(1 << 16) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

StdoutBuffer::~StdoutBuffer() { drain(); }

bool StdoutBuffer::drain() {
  const char* p = pbase();
  std::size_t left = static_cast<std::size_t>(pptr() - pbase());
  while (left > 0 && error_ == 0) {
#ifdef _WIN32
    const int put = ::_write(1, p, static_cast<unsigned>(left > (1u << 30) ? (1u << 30) : left));
#else
    const ssize_t put = ::write(1, p, left);
#endif
    if (put < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      break;
    }
    p += put;
    left -= static_cast<std::size_t>(put);
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

StdoutBuffer::int_type StdoutBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize StdoutBuffer::xsputn(const char* s, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    if (error_ != 0) return done;
    const std::streamsize room = epptr() - pptr();
    if (room == 0) {
      if (!drain()) return done;
      continue;
    }
    const std::streamsize take = std::min(room, n - done);
    std::memcpy(pptr(), s + done, static_cast<std::size_t>(take));
    pbump(static_cast<int>(take));
    done += take;
  }
  return done;
}

int StdoutBuffer::sync() { return drain() ? 0 : -1; }

int outputError(std::ostream& out) {
  if (out) return 0;
  if (const auto* b = dynamic_cast<const StdoutBuffer*>(out.rdbuf()); b && b->error() != 0) return b->error();
  return EIO;
}

bool isClosedPipe(int error) { return error == EPIPE; }

void guardStandardDescriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", O_RDONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
#endif
}

}  // namespace velmora::cli
