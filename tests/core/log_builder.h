// Building event logs and files for the reader's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "text/codepage.h"
#include "memhost/memory_host.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace velmora::test {

// prefix followed by n in decimal, as record identifiers and user names of
// the tests are made. Built by appending: g++ 12 reports a false -Wrestrict
// overlap inside "literal" + std::string at -O2 (its bug 105651).
inline std::string numbered(std::string_view prefix, long long n) {
  std::string out(prefix);
  out += std::to_string(n);
  return out;
}

// UTF-8 test text as log bytes, in the reader's code page (Windows-1251 in
// the tests).
inline std::string cp1251(std::string_view utf8) {
  std::string out;
  for (char16_t u : fromUtf8(utf8)) {
    const auto byte = CodePage::current().toByte(u);
    out.push_back(byte ? static_cast<char>(*byte) : '?');
  }
  return out;
}

inline U16String u16(std::string_view utf8) { return fromUtf8(utf8); }
inline std::string utf8(U16View text) { return toUtf8(text); }

// One record: the period key, then fields 3 to 10; text given in UTF-8.
struct Rec {
  std::string date = "20050317";
  std::string time = "10:00:00";
  std::string user = "Иванов";
  std::string mode = "E";
  std::string category = "Docs";
  std::string event = "DocWrite";
  std::string number = "1";
  std::string comment = "Запись";
  std::string id = "O1";
  std::string presentation = "Накладная";

  // The record's line without CR LF, as log bytes.
  std::string text() const {
    return cp1251(date + ";" + time + ";" + user + ";" + mode + ";" + category + ";" + event + ";" + number + ";" +
                  comment + ";" + id + ";" + presentation);
  }
  std::string line() const { return text() + "\r\n"; }
};

inline Rec at(std::string date, std::string time, std::string user = "Иванов") {
  Rec r;
  r.date = std::move(date);
  r.time = std::move(time);
  r.user = std::move(user);
  return r;
}

// "HH:MM:SS" of a second of the day.
inline std::string clock(int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", second / 3600 % 24, second / 60 % 60, second % 60);
  return buf;
}

// "YYYYMMDD" of a day of January 2005 (day 32 is 1 February, and so on
// into February).
inline std::string janDay(int day) {
  char buf[32];
  if (day <= 31) {
    std::snprintf(buf, sizeof buf, "200501%02d", day);
  } else {
    std::snprintf(buf, sizeof buf, "200502%02d", day - 31);
  }
  return buf;
}

// A log of perDay records for each day first..last of January 2005, spread
// over the day, users taking turns; the comment pads each record to about
// width bytes. Returns the bytes; positions (1-based) of every record go to
// starts when given.
inline std::string dailyLog(int first, int last, int perDay, std::size_t width = 100,
                            std::vector<std::int64_t>* starts = nullptr, std::vector<Rec>* recs = nullptr) {
  static const char* const users[] = {"Иванов", "Петров", "Сидоров", "Админ"};
  std::string log;
  int n = 0;
  for (int day = first; day <= last; ++day) {
    for (int k = 0; k < perDay; ++k, ++n) {
      Rec r = at(janDay(day), clock(k * (86400 / perDay)), users[n % 4]);
      r.id = numbered("O", n);
      std::string line = r.line();
      if (line.size() < width) {
        r.comment.append(width - line.size(), 'x');
        line = r.line();
      }
      if (starts) starts->push_back(static_cast<std::int64_t>(log.size()) + 1);
      if (recs) recs->push_back(r);
      log += line;
    }
  }
  return log;
}

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0;; ++attempt) {
      dir_ = base / ("velmora-test-" + std::to_string(rd()) + std::to_string(attempt));
      std::error_code ec;
      if (std::filesystem::create_directory(dir_, ec)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path path(std::string_view name) const {
    return dir_ / std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
  }
  // A path as a script passes it.
  U16String u16(std::string_view name) const { return path(name).u16string(); }

  void write(std::string_view name, std::string_view bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  void append(std::string_view name, std::string_view bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string read(std::string_view name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(std::string_view name) const { return std::filesystem::exists(path(name)); }

 private:
  std::filesystem::path dir_;
};

// True while this process holds the file open.
inline bool heldOpen(const std::filesystem::path& file) {
#ifdef _WIN32
  // No other handle may be open for an exclusive open to succeed.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return false;
#else
  std::error_code ec;
  const auto wanted = std::filesystem::canonical(file, ec);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code e2;
    const auto target = std::filesystem::read_symlink(entry.path(), e2);
    if (!e2 && target == wanted) return true;
  }
  return false;
#endif
}

// Decoded text of a table cell, as UTF-8 for readable comparisons.
inline std::string cell(const MemoryValueTable& t, int row, int column) { return utf8(t.text(row, column)); }

inline std::vector<std::string> column(const MemoryValueTable& t, int columnNumber) {
  std::vector<std::string> out;
  for (int r = 1; r <= t.rowCount(); ++r) out.push_back(cell(t, r, columnNumber));
  return out;
}

inline std::vector<std::string> listValues(const MemoryValueList& l) {
  std::vector<std::string> out;
  for (const auto& item : l.items()) out.push_back(utf8(item.value));
  return out;
}

}  // namespace velmora::test
