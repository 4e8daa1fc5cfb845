// SQLite's own text comparisons, byte for byte, so that a constraint the
// log table decides itself gets the answer SQLite would give: the three
// built-in collations and LIKE. LIKE here differs from SQLite's built-in
// one in one way only: it reads every byte of its operands (a NUL is a
// character), since the log's fields may hold NUL bytes; the function
// registered for SQL (registerLike) is this one too, so both paths agree.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "sql/sqlite_api.h"

namespace velmora::sql {

enum class Collation : char { kBinary = 'b', kNocase = 'n', kRtrim = 'r' };

// The collation SQLite names (sqlite3_vtab_collation), or false for one of
// an application's own, which the table leaves to SQLite.
bool collationOf(const char* name, Collation& out);

// <0, 0, >0 as SQLite's collation functions give it.
int compareText(Collation collation, std::string_view a, std::string_view b);

// SQLite's LIKE: % any run, _ one UTF-8 character, ASCII letters in either
// case; escape 0 with hasEscape false: none.
bool likeMatch(std::string_view pattern, std::string_view text, bool hasEscape = false, std::uint32_t escape = 0);

// Registers like() with 2 and 3 arguments on db. The flag, shared with the
// tables, turns false once something replaces them (PRAGMA
// case_sensitive_like does): LIKE then means another function, which the
// tables leave to SQLite.
int registerLike(sqlite3* db, const std::shared_ptr<bool>& ours);

}  // namespace velmora::sql
