// What a query asks of the log, in either spelling: the script-shaped
// options (--filter NAME=TEXT, --invert MASK, --columns MASK, --translate
// MASK) and the plain ones a shell user writes (--user NAME, --not-mode C,
// --columns date,user, --translate all). Both end as the typed reader's
// filter plan and column sets.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cli/period.h"
#include "core/reader.h"
#include "text/text.h"

namespace velmora {
class CodePage;
}

namespace velmora::cli {

struct Io;

// The code page the tool reads logs through when --codepage is not given:
// 1251, on every system.
const CodePage& defaultCodePage();

// Values of one record field given with the plain options: --user and
// --not-user fill include and exclude of field 3, and so on.
struct PlainField {
  std::vector<std::string> include, exclude;
};

struct FilterOptions {
  std::vector<std::string> filters;  // NAME=TEXT, as SetFilter takes them
  std::optional<std::string> invert;
  bool exactId = false;
  std::array<PlainField, 11> plain;  // positions 3..10, one per filtered field
};

// One filter, typed, with the script's spelling of it that messages quote,
// and the option that asked for it.
struct FilterSetting {
  int field = 0;     // 3..10
  std::string name;  // a filter name SetFilter knows
  std::string text;
  std::string option;  // for messages: "--user", "--filter FilterUsers=..."
  // The same filter typed (its invert aside), and whether SetFilter would
  // take the text: a searched field needs an item between two "|".
  FieldFilter typed;
  bool set = true;
};

struct FilterPlan {
  std::vector<FilterSetting> settings;
  std::optional<std::string> invert;  // the invert mask, when one is needed
  bool exactId = false;
};

// The plain option of each field ("user" for 3) and what it takes.
const char* plainFieldName(int field);
const char* plainFieldHelp(int field);

// Checks the options and turns them into filter texts and an invert mask;
// throws UsageError for a value holding "|", a field both kept and left
// out, or a field set by a plain option and by --filter or --invert.
FilterPlan planFilters(const FilterOptions& options);
// The plan for the typed reader; notes on io.err what may match nothing.
std::array<FieldFilter, kLastField + 1> readFilters(const FilterOptions& options, Io& io);

// A --columns text (a mask of 0 and 1 as a script writes it, all, or column
// names, English or the Russian column names, separated by commas) as the
// record fields (1..10) of the columns, in order; a --translate text (a
// mask, all, none, or a list of date, mode, category and event) as the
// translated fields (of 1, 4, 5, 6).
std::vector<int> columnFields(const std::optional<std::string>& text);
std::array<bool, kLastField + 1> translatedFields(const std::optional<std::string>& text);

// An entry of a checked --group or --order list: the table's name of its
// column, or the number given, and the order.
struct ColumnEntry {
  U16String column;
  bool descending = false;
};

// A --group or --order list checked against the columns the table will
// have (available: their names, in table order): English or Russian column
// names in any letter case, "count" for the count column, or column numbers.
// Returns the list in the table's own names; UsageError for an entry that
// names no available column, or an empty entry.
std::string checkedColumnList(const std::string& text, const char* option, const std::vector<U16String>& available,
                              bool sort, std::vector<U16String>* named = nullptr,
                              std::vector<ColumnEntry>* entries = nullptr);

}  // namespace velmora::cli
