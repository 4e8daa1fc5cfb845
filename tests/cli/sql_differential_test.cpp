// SQL over the log gives SQLite's answer: generated queries run three ways
// in one process (pushed down, with push-down off, and over a plain SQLite
// table filled from the same log) must give the same rows. The log holds
// what push-down could get wrong: letter-case pairs (Latin and Cyrillic),
// trailing blanks, numbers spelt two ways, NUL bytes, a long line, stray
// lines, a clock that steps back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cli_support.h"
#include "core/unique_resource.h"
#include "sql/log_table.h"

namespace velmora::testing {
namespace {

using Db = UniqueResource<sqlite3*, sqlite3_close>;
using Stmt = UniqueResource<sqlite3_stmt*, sqlite3_finalize>;

std::string makeLog(TempDir& dir) {
  std::string text;
  const std::u16string users[] = {u"Admin", u"ADMIN", u"admin", u"Admin  ", u"Петров", u"ПЕТРОВ", u"петров",
                                  u"Ёлкин",  u"ёлкин", u"",      u"B",       u"b "};
  const char* numbers[] = {"5", "05", "5.0", " 5", "1", "", "abc", "-3"};
  std::mt19937 rng(7);
  int day = 1, second = 8 * 3600;
  for (int i = 0; i < 160; ++i) {
    second += static_cast<int>(rng() % 4000);
    if (i % 23 == 22) second -= 7200;  // the clock steps back
    if (second >= 86400 || i % 40 == 39) second = (second + 86400) % 86400, ++day;
    char key[64];
    std::snprintf(key, sizeof key, "200503%02d;%02d:%02d:%02d;", day, second / 3600, second / 60 % 60, second % 60);
    std::u16string rest = users[rng() % std::size(users)] + u";" + (rng() % 2 ? u"E" : u"e") + u";Docs;" +
                          (rng() % 3 ? u"DocWrite" : u"OpenSession") + u";";
    text += key + cp1251(rest) + numbers[rng() % std::size(numbers)] + ";" +
            cp1251(rng() % 2 ? u"a%b_c|d" : u"Счёт СЧЁТ") + ";X/" + std::to_string(i % 7) + ";" + cp1251(u"Склад") +
            "\r\n";
    if (i == 50) text += "20050305;10:00:00;A" + std::string(1, '\0') + "B;E;Docs;Doc" + std::string(1, '\0') + ";5;;;\r\n";
    if (i == 70) text += "stray line\r\n20050307;11:00:00;Admin;C;Refs\r\n";
    if (i == 90) text += "20050309;12:00:00;Admin;E;Docs;DocWrite;1;" + std::string(100000, 'w') + ";X/1;o\r\n";
  }
  const std::string log = dir.path("events.log");
  writeFile(log, text);
  return log;
}

// The columns SELECT * gives, pos last.
constexpr const char* kColumns =
    "date, time, user, mode, category, event, number, comment, id, object, mode_text, category_text, event_text, "
    "is_error, pos";

void exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << sql << ": " << (error ? error : "");
}

// Each row as text with its type; ok false with SQLite's message.
std::vector<std::string> rowsOf(sqlite3* db, const std::string& sql, std::string& error) {
  std::vector<std::string> rows;
  Stmt stmt;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, stmt.put(), nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
      row += static_cast<char>('0' + sqlite3_column_type(stmt.get(), i));
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i));
      row.append(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), i)));
      row += '\x1f';
    }
    rows.push_back(std::move(row));
  }
  error = rc == SQLITE_DONE ? "" : sqlite3_errmsg(db);
  return rows;
}

Db connect(const std::string& log, bool pushDown, sql::SqlState& state) {
  Db db;
  EXPECT_EQ(sqlite3_open(":memory:", db.put()), SQLITE_OK);
  sql::SqlOptions options;
  options.defaultLog = log;
  options.pushDown = pushDown;
  EXPECT_EQ(sql::registerLogTable(db.get(), options, &state), SQLITE_OK);
  exec(db.get(), "CREATE TABLE t(a TEXT, b INTEGER, c REAL, d TEXT COLLATE NOCASE);"
                 "INSERT INTO t VALUES ('admin', 5, 5.0, 'admin'), ('Петров', 1, 1.5, 'ПЕТРОВ'), "
                 "('05', 1, 1.0, 'Admin  '), (NULL, NULL, NULL, NULL), ('5', 0, 0.0, 'b'), ('Склад', 2, 2.0, 'x/1')");
  return db;
}

// Makes queries from a fixed seed: a comparison of every kind, alone, in
// joins and subqueries, under grouping, ordering and limits.
class Queries {
 public:
  explicit Queries(std::vector<std::int64_t> positions) : positions_(std::move(positions)) {}

  // The query, and whether its rows come in an order that is the answer's.
  std::string next(bool& ordered) {
    ordered = false;
    switch (pick(12)) {
      case 0: return "SELECT " + std::string(kColumns) + " FROM log WHERE " + condition();
      case 1: return "SELECT count(*) FROM log WHERE " + condition() + " AND " + condition();
      case 2: return "SELECT pos FROM log WHERE " + condition() + " OR " + condition();
      case 3: {
        const std::string c = textColumn();
        return "SELECT log.pos, t.a FROM log JOIN t ON " + oneOf({"log." + c + " = t.a", "t.a = log." + c,
                                                                    "t.d = log." + c, "log." + c + " = t.d",
                                                                    "log." + c + " = t.b", "log." + c + " < t.a",
                                                                    "log." + c + " LIKE t.a", "log.pos = t.b"});
      }
      case 4:
        return "SELECT pos FROM log WHERE " + textColumn() + " IN (SELECT " + oneOf({"a", "b", "c", "d"}) +
               " FROM t)" + collation();
      case 5: {
        const std::string k = textColumn();
        ordered = true;
        return "SELECT " + k + ", count(*) FROM log " + optionalWhere() + "GROUP BY " + k +
               oneOf({"", " HAVING count(*) > 1"}) + " ORDER BY count(*) " + oneOf({"DESC", "ASC"}) + ", " + k +
               " LIMIT " + std::to_string(1 + pick(5)) + oneOf({"", " OFFSET 1"});
      }
      case 6: {
        const std::string k = textColumn(), l = textColumn();
        return "SELECT " + k + ", " + l + ", count(*) FROM log " + optionalWhere() + "GROUP BY " + k + ", " + l;
      }
      case 7:
        return "SELECT " + textColumn() + ", count(*), " +
               oneOf({"count(DISTINCT rowid), max(rowid)", "min(pos), max(oid)", "sum(_rowid_)", "max(is_error)"}) +
               " FROM log GROUP BY 1";
      case 8:
        ordered = true;
        return "SELECT pos, date, time, user FROM log " + optionalWhere() + "ORDER BY " +
               oneOf({"date, time, pos", "date DESC, time DESC, pos", "time, pos", "pos DESC", "pos"}) + " LIMIT " +
               std::to_string(1 + pick(40)) + oneOf({"", " OFFSET 3"});
      case 9: return "SELECT DISTINCT " + textColumn() + " FROM log " + optionalWhere();
      case 10: {
        const std::string p = std::to_string(positions_[pick(static_cast<int>(positions_.size()))]);
        return "SELECT " + std::string(kColumns) + " FROM log WHERE " +
               oneOf({"pos = " + p, "rowid = '" + p + ".0'", "pos = " + p + ".0", "oid = CAST('" + p + "' AS REAL)",
                      "_rowid_ = ' " + p + "'", "pos = " + p + ".5", "pos = '" + p + "x'", "pos = X'31'",
                      "pos = NULL", "rowid IN (" + p + ", 1)"});
      }
      default:
        return "SELECT user, count(*) FROM log WHERE user " + oneOf({"LIKE", "NOT LIKE"}) + " " + pattern() +
               " GROUP BY user";
    }
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  std::string oneOf(std::initializer_list<std::string> items) {
    return *(items.begin() + pick(static_cast<int>(items.size())));
  }
  std::string textColumn() {
    return oneOf({"date", "time", "user", "mode", "category", "event", "number", "comment", "id", "object"});
  }
  std::string collation() { return oneOf({"", "", " COLLATE NOCASE", " COLLATE RTRIM", " COLLATE BINARY"}); }
  std::string pattern() {
    return oneOf({"'adm%'", "'%ов'", "'ПЕТРОВ'", "'%a\\%b%' ESCAPE '\\'", "'A_B'", "'_'", "'%5%'", "'x/_'",
                  "'%СЧЁТ%'", "'%счёт%'", "X'41'||'%'", "'%'", "''", "'Admin  '", "'%w'", "5"});
  }
  std::string value() {
    return oneOf({"'admin'", "'Admin'", "'ADMIN'", "'Admin  '", "'Admin '", "'петров'", "'Петров'", "'ёлкин'",
                  "'Ёлкин'", "''", "'5'", "'05'", "'5.0'", "5", "5.0", "05", "CAST(5 AS INTEGER)",
                  "CAST('5' AS REAL)", "CAST(5 AS TEXT)", "NULL", "X'41646D696E'", "'2005-03-05'",
                  "'2005-03-05 '", "'12:00:00'", "'E'", "'e'", "'DocWrite'", "'X/1'", "'a%b_c|d'", "'b'",
                  "(SELECT a FROM t WHERE b = 5)", "'A'||X'00'||'B'", "'Склад'"});
  }
  std::string condition() {
    const std::string c = textColumn();
    switch (pick(6)) {
      case 0: return c + " LIKE " + pattern();
      case 1: return c + " IN (" + value() + ", " + value() + ")" + collation();
      case 2: return c + " BETWEEN " + value() + " AND " + value() + collation();
      case 3: return value() + " " + oneOf({"=", "<", ">="}) + " " + c + collation();
      case 4: return "is_error = " + oneOf({"1", "0", "'1'"}) + " AND " + c + " != " + value() + collation();
      default:
        return c + " " + oneOf({"=", "==", "!=", "<>", "<", "<=", ">", ">=", "IS", "IS NOT"}) + " " + value() +
               collation();
    }
  }
  std::string optionalWhere() { return pick(2) ? "WHERE " + condition() + " " : ""; }

  std::mt19937 rng_{25};
  std::vector<std::int64_t> positions_;
};

TEST(SqlDifferential, GeneratedQueriesGiveSqlitesAnswerEveryWay) {
  TempDir dir;
  const std::string log = makeLog(dir);
  sql::SqlState state;
  Db pushed = connect(log, true, state), plain = connect(log, false, state), table = connect(log, false, state);
  // The plain table: the rows the log table gives with every check left to
  // SQLite, pos its rowid.
  exec(table.get(), "CREATE TABLE main.log(date TEXT, time TEXT, user TEXT, mode TEXT, category TEXT, event TEXT, "
                    "number TEXT, comment TEXT, id TEXT, object TEXT, mode_text TEXT, category_text TEXT, "
                    "event_text TEXT, is_error INTEGER, pos INTEGER PRIMARY KEY)");
  Stmt insert, scan;
  ASSERT_EQ(sqlite3_prepare_v2(table.get(), "INSERT INTO main.log VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
                               insert.put(), nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_prepare_v2(plain.get(), (std::string("SELECT ") + kColumns + " FROM log").c_str(), -1, scan.put(),
                               nullptr), SQLITE_OK);
  std::vector<std::int64_t> positions;
  while (sqlite3_step(scan.get()) == SQLITE_ROW) {
    for (int i = 0; i < 15; ++i) ASSERT_EQ(sqlite3_bind_value(insert.get(), i + 1, sqlite3_column_value(scan.get(), i)), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(insert.get()), SQLITE_DONE);
    sqlite3_reset(insert.get());
    positions.push_back(sqlite3_column_int64(scan.get(), 14));
  }
  ASSERT_GT(positions.size(), 150u);

  Queries queries(positions);
  int compared = 0, nonEmpty = 0;
  for (int i = 0; i < 600; ++i) {
    bool ordered = false;
    const std::string q = queries.next(ordered);
    std::string e1, e2, e3;
    std::vector<std::string> a = rowsOf(pushed.get(), q, e1), b = rowsOf(plain.get(), q, e2),
                             c = rowsOf(table.get(), q, e3);
    ASSERT_EQ(e3, "") << q;
    if (!ordered) {
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      std::sort(c.begin(), c.end());
    }
    EXPECT_EQ(e1, e3) << q;
    EXPECT_EQ(e2, e3) << q;
    EXPECT_TRUE(a == c) << q << "\npushed down " << a.size() << " rows, the plain table " << c.size();
    EXPECT_TRUE(b == c) << q << "\nno push-down " << b.size() << " rows, the plain table " << c.size();
    ++compared;
    nonEmpty += c.empty() ? 0 : 1;
    if (::testing::Test::HasFailure()) break;
  }
  // The comparison means something only when answers are not all empty.
  EXPECT_GT(nonEmpty, compared / 2);
}

}  // namespace
}  // namespace velmora::testing
