#include "cli_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "text/codepage.h"
#include "text/text.h"

extern char** environ;

namespace velmora::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-cli-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void appendFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::app);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot append to " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

std::string cp1251(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    if (u < 0x80) out.push_back(static_cast<char>(u));
    else if (u >= 0x0410 && u <= 0x044F) out.push_back(static_cast<char>(0xC0 + (u - 0x0410)));
    else if (u == 0x0401) out.push_back(static_cast<char>(0xA8));
    else if (u == 0x0451) out.push_back(static_cast<char>(0xB8));
    else throw std::logic_error("no 1251 form in the test mapping");
  }
  return out;
}

std::string utf8From1251(std::string_view bytes) {
  static const auto page = CodePage::make(1251);
  return toUtf8(page->decode(bytes));
}

std::vector<std::string_view> linesOf(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return lines;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

const char* velmoraProgram() {
  const char* other = std::getenv("VELMORA_TEST_EXE");
  return other && *other ? other : VELMORA_EXE;
}

namespace {

pid_t spawn(const std::vector<std::string>& args, const Stdout& to, int& outFd, int& errFd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (to.closed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else if (!to.file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, to.file.c_str(),
                                     O_WRONLY | O_CREAT | (to.append ? O_APPEND : O_TRUNC), 0644);
  } else {
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> all{velmoraProgram()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, velmoraProgram(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + velmoraProgram());
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

int reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Running::Running(const std::vector<std::string>& args, const Stdout& to) { pid_ = spawn(args, to, outFd_, errFd_); }

void Running::closeOut() {
  if (outFd_ >= 0) close(outFd_);
  outFd_ = -1;
}

Running::~Running() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    reap(pid_);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool Running::pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  for (int fd : {outFd_, errFd_})
    if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
  if (n == 0) return false;
  if (poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[65536];
    const ssize_t got = read(fds[i].fd, buf, sizeof buf);
    int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
    std::string& into = fds[i].fd == outFd_ ? out_ : err_;
    if (got > 0) {
      into.append(buf, static_cast<std::size_t>(got));
    } else {
      close(fd);
      fd = -1;
    }
  }
  return true;
}

bool Running::waitForLines(std::size_t n) {
  // A guard against a hang, not a measurement: generous on a loaded machine.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (linesOf(out_, "\n").size() < n || (!out_.empty() && out_.back() != '\n')) {
    if (std::chrono::steady_clock::now() > limit) return false;
    if (!pump(200)) return linesOf(out_, "\n").size() >= n;
  }
  return true;
}

void Running::signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int Running::wait() {
  while (pump(1000)) {
  }
  const int code = reap(pid_);
  pid_ = -1;
  return code;
}

int Running::waitUpTo(int ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < limit) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      while (pump(100)) {
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (!pump(20)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -2;
}

RunResult runVelmora(const std::vector<std::string>& args, const Stdout& to) {
  Running running(args, to);
  RunResult result;
  result.exitCode = running.wait();
  result.out = running.out();
  result.err = running.err();
  return result;
}

std::vector<std::vector<std::string>> parseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  std::size_t i = 0;
  bool fieldStarted = false;
  auto endField = [&] {
    record.push_back(std::move(field));
    field.clear();
    fieldStarted = false;
  };
  while (i < text.size()) {
    const char c = text[i];
    if (!fieldStarted && c == '"') {
      ++i;
      for (;;) {
        if (i >= text.size()) throw std::runtime_error("unterminated quoted CSV field");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.push_back(text[i++]);
      }
      fieldStarted = true;
      if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
        throw std::runtime_error("text after a quoted CSV field");
      continue;
    }
    if (c == ',') {
      endField();
      ++i;
    } else if (c == '\r' || c == '\n') {
      endField();
      records.push_back(std::move(record));
      record.clear();
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    } else {
      if (c == '"') throw std::runtime_error("quote inside an unquoted CSV field");
      field.push_back(c);
      fieldStarted = true;
      ++i;
    }
  }
  if (fieldStarted || !record.empty()) {
    endField();
    records.push_back(std::move(record));
  }
  return records;
}

long long resumePosition(const std::string& err, std::string_view option) {
  const std::string key = std::string(option) + " ";
  const std::size_t at = err.rfind(key);
  if (at == std::string::npos) return -1;
  return std::atoll(err.c_str() + at + key.size());
}

}  // namespace velmora::testing
