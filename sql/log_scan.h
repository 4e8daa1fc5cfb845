// A typed query over the reader, the one place where the SQL tables meet
// the Journal: a period as two keys, one filter per field, and a scan that
// hands out records with their positions.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "journal/journal.h"

namespace velmora::sql {

struct ScanQuery {
  std::string log;                         // UTF-8 path
  std::string begin = std::string(18, '\0');
  std::string end = std::string(18, '\xFF');
  std::array<std::string, 11> filter;      // fields 3..10: SetFilter texts (UTF-8), empty: off
  std::array<bool, 11> invert{};
};

class ScanSink {
 public:
  virtual ~ScanSink() = default;
  // False ends the stretch after this record.
  virtual bool record(const RecordFields& fields, std::int64_t position) = 0;
};

class LogScan {
 public:
  // False when the query can match nothing (an empty period).
  bool configure(const ScanQuery& query);
  // Where the period's first record starts; -1: none (or a failure).
  std::int64_t start();
  // Records of [from, stopAt); gives where to continue, and done() says
  // whether the scan ended (period end, end of log, failure).
  std::int64_t read(std::int64_t from, std::int64_t stopAt, ScanSink& sink);
  bool done() const { return done_; }
  bool failed() const { return journal_.NumErr() != 0; }
  std::string failure() const;
  bool logExists() const;

 private:
  struct Adapter;
  Journal journal_;
  std::string log_;
  bool done_ = false;
};

}  // namespace velmora::sql
