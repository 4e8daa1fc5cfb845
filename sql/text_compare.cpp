#include "sql/text_compare.h"

#include <algorithm>
#include <cstring>

namespace velmora::sql {
namespace {

using Byte = unsigned char;

Byte lower(std::uint32_t c) { return static_cast<Byte>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

// One character as SQLite reads UTF-8: leniently (a stray continuation
// byte is a character of its own, an overlong or surrogate form U+FFFD),
// but never past end.
std::uint32_t readChar(const Byte*& p, const Byte* end) {
  std::uint32_t c = *p++;
  if (c >= 0xC0) {
    c = c < 0xE0 ? c - 0xC0 : c < 0xF0 ? c - 0xE0 : c < 0xF8 ? c - 0xF0 : c < 0xFC ? c - 0xF8 : c < 0xFE ? c - 0xFC : 0;
    while (p < end && (*p & 0xC0) == 0x80) c = (c << 6) + (0x3F & *p++);
    if (c < 0x80 || (c & 0xFFFFF800) == 0xD800 || (c & 0xFFFFFFFE) == 0xFFFE) c = 0xFFFD;
  }
  return c;
}

enum Outcome { kMatch, kNoMatch, kNoWildcardMatch };

struct Like {
  bool allOn = true, oneOn = true, hasEscape = false;
  std::uint32_t escape = 0;

  // SQLite's patternCompare, step for step, with ends instead of NULs.
  Outcome compare(const Byte* p, const Byte* pe, const Byte* s, const Byte* se) const {
    while (p < pe) {
      std::uint32_t c = readChar(p, pe);
      if (c == '%' && allOn) {
        bool end = true;
        while (p < pe) {
          c = readChar(p, pe);
          if (c == '%') continue;
          if (c == '_' && oneOn) {
            if (s >= se) return kNoWildcardMatch;
            readChar(s, se);
            continue;
          }
          end = false;
          break;
        }
        if (end) return kMatch;
        if (hasEscape && c == escape) {
          if (p >= pe) return kNoWildcardMatch;
          c = readChar(p, pe);
        }
        if (c < 0x80) {
          const Byte up = static_cast<Byte>(c >= 'a' && c <= 'z' ? c - 32 : c), low = lower(c);
          for (;;) {
            while (s < se && *s != up && *s != low) ++s;
            if (s >= se) break;
            ++s;
            const Outcome r = compare(p, pe, s, se);
            if (r != kNoMatch) return r;
          }
        } else {
          while (s < se) {
            if (readChar(s, se) != c) continue;
            const Outcome r = compare(p, pe, s, se);
            if (r != kNoMatch) return r;
          }
        }
        return kNoWildcardMatch;
      }
      bool escaped = false;
      if (hasEscape && c == escape) {
        if (p >= pe) return kNoMatch;
        c = readChar(p, pe);
        escaped = true;
      }
      if (s >= se) return kNoMatch;
      const std::uint32_t c2 = readChar(s, se);
      if (c == c2) continue;
      if (c < 0x80 && c2 < 0x80 && lower(c) == lower(c2)) continue;
      if (c == '_' && oneOn && !escaped) continue;
      return kNoMatch;
    }
    return s >= se ? kMatch : kNoMatch;
  }
};

const Byte* bytesOf(std::string_view v) { return reinterpret_cast<const Byte*>(v.data()); }

int binary(std::string_view a, std::string_view b) {
  const int r = a.empty() || b.empty() ? 0 : std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (r != 0) return r;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

struct LikeData {
  std::shared_ptr<bool> ours;
};

std::string_view textOf(sqlite3_value* v) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return t ? std::string_view(t, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// The order of SQLite's own checks: the pattern's length, the escape, NULLs.
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  sqlite3* db = sqlite3_context_db_handle(ctx);
  if (sqlite3_value_bytes(argv[0]) > sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
    sqlite3_result_error(ctx, "LIKE or GLOB pattern too complex", -1);
    return;
  }
  Like like;
  if (argc == 3) {
    if (sqlite3_value_type(argv[2]) == SQLITE_NULL) return;
    const std::string_view e = textOf(argv[2]);
    const Byte* p = bytesOf(e);
    if (!e.empty()) like.escape = readChar(p, p + e.size());
    if (e.empty() || p != bytesOf(e) + e.size()) {
      sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
      return;
    }
    like.hasEscape = true;
    like.allOn = like.escape != '%';
    like.oneOn = like.escape != '_';
  }
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) return;
  const std::string_view pattern = textOf(argv[0]);
  const std::string_view text = textOf(argv[1]);
  sqlite3_result_int(ctx, like.compare(bytesOf(pattern), bytesOf(pattern) + pattern.size(), bytesOf(text),
                                       bytesOf(text) + text.size()) == kMatch);
}

}  // namespace

bool collationOf(const char* name, Collation& out) {
  if (name == nullptr || sqlite3_stricmp(name, "BINARY") == 0) out = Collation::kBinary;
  else if (sqlite3_stricmp(name, "NOCASE") == 0) out = Collation::kNocase;
  else if (sqlite3_stricmp(name, "RTRIM") == 0) out = Collation::kRtrim;
  else return false;
  return true;
}

int compareText(Collation collation, std::string_view a, std::string_view b) {
  if (collation == Collation::kRtrim) {
    while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
    while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  } else if (collation == Collation::kNocase) {
    // As SQLite's: ASCII letters folded, and a NUL in the first operand
    // ends the comparison of bytes (the lengths then decide).
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      const Byte x = lower(static_cast<Byte>(a[i])), y = lower(static_cast<Byte>(b[i]));
      if (a[i] == '\0' || x != y) {
        if (x != y) return x - y;
        break;
      }
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  }
  return binary(a, b);
}

bool likeMatch(std::string_view pattern, std::string_view text, bool hasEscape, std::uint32_t escape) {
  Like like;
  like.hasEscape = hasEscape;
  like.escape = escape;
  like.allOn = !hasEscape || escape != '%';
  like.oneOn = !hasEscape || escape != '_';
  return like.compare(bytesOf(pattern), bytesOf(pattern) + pattern.size(), bytesOf(text), bytesOf(text) + text.size()) ==
         kMatch;
}

int registerLike(sqlite3* db, const std::shared_ptr<bool>& ours) {
  int rc = SQLITE_OK;
  for (int args : {2, 3}) {
    if (rc == SQLITE_OK)
      rc = sqlite3_create_function_v2(db, "like", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, new LikeData{ours},
                                      likeFunction, nullptr, nullptr, [](void* p) {
                                        auto* data = static_cast<LikeData*>(p);
                                        *data->ours = false;
                                        delete data;
                                      });
  }
  return rc;
}

}  // namespace velmora::sql
