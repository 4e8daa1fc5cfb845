#include "core/sessions.h"

#include "core/calendar.h"

namespace velmora {
namespace {

bool digits(const std::string& s, std::size_t at, std::size_t n) {
  for (std::size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int number(const std::string& s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

// Seconds since 1970 of a "YYYYMMDDHH:MM:SS", or -1.
std::int64_t epoch(const std::string& k) {
  if (k.size() != 16 || !digits(k, 0, 10) || k[10] != ':' || !digits(k, 11, 2) || k[13] != ':' || !digits(k, 14, 2))
    return -1;
  return daysFromCivil(number(k, 0, 4), number(k, 4, 2), number(k, 6, 2)) * 86400 + number(k, 8, 2) * 3600 +
         number(k, 11, 2) * 60 + number(k, 14, 2);
}

}  // namespace

std::int64_t keySeconds(const std::string& key) { return epoch(key); }

std::int64_t secondsBetween(const std::string& a, const std::string& b) {
  const std::int64_t x = epoch(a), y = epoch(b);
  return x < 0 || y < 0 ? -1 : y - x;
}

void SessionPairing::record(const RecordFields& f) {
  const bool opens = f[6] == "OpenSession";
  if (!opens && f[6] != "CloseSession") return;
  key_.assign(f[3]);
  key_.push_back('\0');
  key_.append(f[4]);
  auto it = open_.find(key_);
  if (opens) {
    if (it == open_.end()) it = open_.emplace(key_, Open{}).first;
    Session& s = sessions_.emplace_back();
    s.user.assign(f[3]);
    s.mode.assign(f[4]);
    s.start.assign(f[1]).append(f[2]);
    it->second.index.push_back(sessions_.size() - 1);
    it->second.opens.push_back(sessions_.size() - 1);
    return;
  }
  if (it != open_.end() && it->second.head < it->second.index.size()) {
    Open& o = it->second;
    sessions_[o.index[o.head++]].end.assign(f[1]).append(f[2]);
    if (o.head == o.index.size()) o.index.clear(), o.head = 0;
    return;
  }
  Session& s = sessions_.emplace_back();
  s.user.assign(f[3]);
  s.mode.assign(f[4]);
  s.end.assign(f[1]).append(f[2]);
}

void SessionPairing::finish() {
  for (auto& [key, o] : open_) {
    // The Opens of the pair in log order: one still open ends at the next.
    for (std::size_t k = 0; k + 1 < o.opens.size(); ++k) {
      Session& s = sessions_[o.opens[k]];
      if (!s.end.empty() && !s.endInferred) continue;
      s.end = sessions_[o.opens[k + 1]].start;
      s.endInferred = true;
    }
  }
}

}  // namespace velmora
