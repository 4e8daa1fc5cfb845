// Sessions: the log's OpenSession and CloseSession records paired per user
// and run mode, for the SQL table `sessions` and the report's chart of
// concurrent sessions.
//  - A Close ends the earliest still open session of its user and mode
//    (first in, first out): two open at once are two connections, and
//    which one a Close ends changes no count of sessions open at a time.
//  - A Close with none open is a session whose start is unknown (the log
//    begins inside it).
//  - An Open never closed ends where the evidence ends: at the next Open
//    of its user and mode (a program that crashed is started again), so
//    that a crash long ago holds no place in every hour after it. Only
//    the last Open of a user and mode left unclosed has no end (a crash,
//    or the session still runs).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/record_sink.h"

namespace velmora {

struct Session {
  std::string user, mode;  // log bytes
  std::string start, end;  // "YYYYMMDDHH:MM:SS" as in the record key; empty: unknown
  bool endInferred = false;  // end is the next Open's start: the session was never closed
};

// Seconds since 1970 of a key as in Session, or -1 when it is not a date and time.
std::int64_t keySeconds(const std::string& key);
// Seconds from a to b (keys as in Session), or -1 when either is not a date and time.
std::int64_t secondsBetween(const std::string& a, const std::string& b);

class SessionPairing {
 public:
  // Offers any record; only OpenSession and CloseSession count. Allocates
  // for sessions and new user-mode pairs only.
  void record(const RecordFields& fields);
  // Ends the sessions never closed that a later Open of their user and
  // mode shows over; call once all records are offered (again after more).
  void finish();
  // In log order of the record that begins each (its Open, or its Close
  // when the start is unknown).
  const std::vector<Session>& sessions() const { return sessions_; }

 private:
  std::vector<Session> sessions_;
  // user \0 mode -> indexes of its open sessions, oldest first, from head.
  struct Open {
    std::vector<std::size_t> index;
    std::size_t head = 0;
    std::vector<std::size_t> opens;  // every Open of the pair, in log order
  };
  std::map<std::string, Open, std::less<>> open_;
  std::string key_;
};

}  // namespace velmora
