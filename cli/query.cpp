#include "cli/query.h"

#include <algorithm>
#include <memory>
#include <ostream>

#include "cli/commands.h"
#include "core/filter_names.h"
#include "core/filter_text.h"
#include "core/result_columns.h"
#include "memhost/column_list.h"
#include "text/codepage.h"
#include "text/text.h"
#include "transform/catalogue.h"

namespace velmora::cli {
namespace {

// The English name of column k + 1, which holds record field k + 1; the
// Russian one is the value table's (kResultColumns). A filtered field's
// plain options are named after it: --user, --not-user.
constexpr std::array<const char*, 10> kEnglishNames{"date",   "time",    "user", "mode",  "category",
                                                    "event",  "number",  "comment", "id", "object"};

struct PlainFieldInfo {
  const char* filterName;  // the script's name of the same filter
  const char* help;
};

// Field k of a record is filtered by the plain option at position k.
constexpr std::array<PlainFieldInfo, 11> kPlainFields{{
    {},
    {},
    {},
    {"FilterUsers", "a user name, as the log writes it (letter case aside)"},
    {"FilterMode", "a run mode: E, C, M or D, or its Russian name"},
    {"FilterTypeObj", "an event category, as Docs or Refs, or its Russian name"},
    {"FilterOperation", "an event code, as DocWrite, or its Russian name"},
    {"FilterNum", "the number field, as 5 (error records)"},
    {"FilterRem", "text found anywhere in the comment"},
    {"FilterIdObj", "text found anywhere in the object identifier (the whole identifier with --exact-id)"},
    {"FilterDeclarationObj", "text found anywhere in the object presentation"},
}};

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }
U16String u16(const std::string& utf8) { return fromUtf8(utf8); }

// Letter case folded for names typed by hand: Latin and Russian letters.
U16String folded(U16View text) {
  U16String out(trimSpaces(text));
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    else if (c >= 0x0410 && c <= 0x042F) c = static_cast<char16_t>(c + 32);
    else if (c == 0x0401) c = 0x0451;
  }
  return out;
}

// A value of a mode, category or event option that is a Russian name of
// the catalogue also stands for its code: people copy names from stats.
template <std::size_t N>
std::optional<std::string> codeOfName(const std::array<CodeText, N>& table, const std::string& value) {
  const U16String v(trimSpaces(u16(value)));
  for (const CodeText& entry : table)
    if (trimSpaces(entry.text) == v && entry.code != v) return toUtf8(entry.code);
  return std::nullopt;
}

std::optional<std::string> codeOfName(int field, const std::string& value) {
  switch (field) {
    case 4: return codeOfName(kRunModes, value);
    case 5: return codeOfName(kCategories, value);
    case 6: return codeOfName(kEventCatalogue, value);
    default: return std::nullopt;
  }
}

// The values of a plain option as the filter text a script would write,
// which a refusal quotes.
std::string filterTextOf(int field, const std::vector<std::string>& values, const std::string& option,
                         bool exactId) {
  const bool searched = field >= kFirstSearchedField && !(field == 9 && exactId);
  std::string text = "|";
  for (const std::string& v : values) {
    if (v.find('|') != std::string::npos)
      throw UsageError(option + " " + inQuotes(v) + " holds \"|\", which separates values inside a filter; give each "
                       "value an option of its own, as " + option + " A " + option + " B");
    if (searched && v.empty())
      throw UsageError(option + " needs a text to search for; an empty one would match every record");
    text += v + "|";
    if (const auto code = codeOfName(field, v)) text += *code + "|";
  }
  return text;
}

}  // namespace

const CodePage& defaultCodePage() {
  static const std::unique_ptr<CodePage> page = CodePage::make(1251);
  return *page;
}

const char* plainFieldName(int field) { return field >= 3 && field <= 10 ? kEnglishNames[field - 1] : ""; }
const char* plainFieldHelp(int field) { return field >= 3 && field <= 10 ? kPlainFields[field].help : ""; }

FilterPlan planFilters(const FilterOptions& o) {
  FilterPlan plan;
  plan.exactId = o.exactId;
  std::array<std::string, 11> setBy;  // the option that set each field's filter

  for (const std::string& given : o.filters) {
    const std::size_t eq = given.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("--filter " + inQuotes(given) + " is not NAME=TEXT; expected, for example, FilterUsers=|Иванов|Петров|");
    FilterSetting s;
    s.name = given.substr(0, eq);
    s.text = given.substr(eq + 1);
    s.field = filterField(u16(s.name));
    if (s.field == 0)
      throw UsageError("--filter: unknown filter name " + inQuotes(s.name) +
                       "; expected one of FilterUsers, FilterMode, FilterTypeObj, FilterOperation, FilterNum, "
                       "FilterRem, FilterIdObj, FilterDeclarationObj, their Russian names, or the numbers 3 to 10");
    s.option = "--filter " + given;
    const std::optional<FieldFilter> typed = parseFilterText(s.field, u16(s.text), o.exactId);
    s.set = typed.has_value();
    if (typed) s.typed = *typed;
    if (!setBy[static_cast<std::size_t>(s.field)].empty())
      throw UsageError(s.option + " and " + setBy[static_cast<std::size_t>(s.field)] +
                       " set the same filter; the second would replace the first. Write both values in one text, as "
                       "FilterUsers=|A|B|");
    setBy[static_cast<std::size_t>(s.field)] = s.option;
    plan.settings.push_back(std::move(s));
  }

  std::string invert(8, '0');
  bool anyExcluded = false;
  if (o.invert) {
    if (o.invert->empty() || o.invert->size() > 8 || o.invert->find_first_not_of("01 ") != std::string::npos)
      throw UsageError("--invert " + inQuotes(*o.invert) + " is not a mask; expected up to 8 characters of 0 and 1, "
                       "one for each of the filters 3 to 10 (1 turns that filter into an exclusion)");
    // Normalised as the reader normalises InvertFilters.
    const U16String mask(trimSpaces(u16(*o.invert)));
    for (std::size_t k = 0; k < 8 && k < mask.size(); ++k) invert[k] = mask[k] == u'0' || mask[k] == u' ' ? '0' : '1';
  }
  for (int f = 3; f <= 10; ++f) {
    const PlainField& p = o.plain[static_cast<std::size_t>(f)];
    if (p.include.empty() && p.exclude.empty()) continue;
    const std::string name = kEnglishNames[static_cast<std::size_t>(f - 1)];
    const std::string plain = "--" + name, not_ = "--not-" + name;
    if (!p.include.empty() && !p.exclude.empty())
      throw UsageError(plain + " and " + not_ + " both filter the " + name + " field; a field either keeps the "
                       "values given or leaves them out, not both");
    const bool excluded = !p.exclude.empty();
    const std::string& option = excluded ? not_ : plain;
    if (!setBy[static_cast<std::size_t>(f)].empty())
      throw UsageError(option + " and " + setBy[static_cast<std::size_t>(f)] + " both set the " + name +
                       " filter, which is ambiguous; use one of them");
    if (o.invert && invert[static_cast<std::size_t>(f - 3)] == '1')
      throw UsageError("--invert " + *o.invert + " inverts the " + name + " filter that " + option +
                       " sets, which is ambiguous; write " + not_ + " to leave values out");
    FilterSetting s;
    s.field = f;
    s.name = kPlainFields[static_cast<std::size_t>(f)].filterName;
    s.text = filterTextOf(f, excluded ? p.exclude : p.include, option, o.exactId);
    s.option = option;
    // The values as they are, each with the code its name stands for.
    s.typed.on = true;
    s.typed.exact = f < kFirstSearchedField || (f == 9 && o.exactId);
    s.set = f < kFirstSearchedField;
    for (const std::string& v : excluded ? p.exclude : p.include) {
      s.typed.values.push_back(u16(v));
      s.set = s.set || !v.empty();
      if (const auto code = codeOfName(f, v)) s.typed.values.push_back(u16(*code));
    }
    plan.settings.push_back(std::move(s));
    if (excluded) {
      invert[static_cast<std::size_t>(f - 3)] = '1';
      anyExcluded = true;
    }
  }
  if (o.invert || anyExcluded) plan.invert = invert;
  return plan;
}

namespace {

// What a filter that SetFilter takes may mean, or why it refuses one.
void noteFilter(const FilterSetting& s, Io& io) {
  if (s.option.rfind("--filter", 0) == 0 && !trimSpaces(u16(s.text)).empty() && s.text.find('|') == std::string::npos)
    io.err << "velmora: note: filter " << s.name << " compares whole values written between \"|\", as |" << s.text
           << "|; this text has no \"|\" and may match nothing\n";
}

[[noreturn]] void refuseFilter(const FilterSetting& s) {
  throw UsageError("--filter " + s.name + ": " + inQuotes(s.text) +
                   " holds no item; this filter expects items between \"|\" characters, as |text|other text|");
}

}  // namespace

std::array<FieldFilter, kLastField + 1> readFilters(const FilterOptions& options, Io& io) {
  const FilterPlan plan = planFilters(options);
  std::array<FieldFilter, kLastField + 1> out;
  for (const FilterSetting& s : plan.settings) {
    if (!s.set) refuseFilter(s);
    noteFilter(s, io);
    out[static_cast<std::size_t>(s.field)] = s.typed;
  }
  for (int f = 3; f <= 10 && plan.invert; ++f) {
    FieldFilter& filter = out[static_cast<std::size_t>(f)];
    filter.invert = filter.on && (*plan.invert)[static_cast<std::size_t>(f - 3)] == '1';
  }
  return out;
}

// ---- columns and translation ---------------------------------------------------

namespace {

U16String englishName(std::size_t column) { return fromUtf8(kEnglishNames[column]); }

// A text of 0, 1 and blanks only is a mask, the script spelling.
bool isMask(const std::string& text) {
  return !text.empty() && text.find_first_not_of("01 ") == std::string::npos;
}

// The columns (0..9) named in a comma-separated list; throws for a name
// not among allowed.
std::vector<int> namedColumns(const std::string& text, const std::vector<int>& allowed, const char* option,
                              const std::string& expected) {
  std::vector<int> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const U16String name = folded(u16(part));
    if (!name.empty()) {
      int found = -1;
      for (int k : allowed) {
        const auto c = static_cast<std::size_t>(k);
        if (name == englishName(c) || name == folded(kResultColumns[c].name)) found = k;
      }
      if (found < 0)
        throw UsageError(std::string(option) + ": " + inQuotes(toUtf8(trimSpaces(u16(part)))) +
                         " is not a column name; expected " + expected);
      out.push_back(found);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// A mask longer than the columns it sets would be cut silently.
const std::string& checkedMask(const std::string& text, std::size_t width, const char* option) {
  if (text.size() > width)
    throw UsageError(std::string(option) + " " + inQuotes(text) + " is not a mask: it has " +
                     std::to_string(text.size()) + " characters, and a mask has at most " + std::to_string(width) +
                     ", a 0 or 1 for each column");
  return text;
}

// The columns (0..9) of a --columns text that is no mask and not all.
std::vector<int> columnsNamed(const std::string& text) {
  std::vector<int> all;
  std::string expected = "all, a mask of ten 0/1, or names separated by commas:";
  for (int k = 0; k < 10; ++k) {
    all.push_back(k);
    expected += std::string(k ? ", " : " ") + kEnglishNames[static_cast<std::size_t>(k)];
  }
  expected += " (or the Russian column names)";
  const std::vector<int> named = namedColumns(text, all, "--columns", expected);
  if (named.empty()) throw UsageError("--columns " + inQuotes(text) + " names no column; expected " + expected);
  return named;
}

// The translated columns (0, 3, 4, 5) of a --translate text that is no mask, all or none.
constexpr std::array<int, 4> kTranslated{0, 3, 4, 5};
std::vector<int> translatedNamed(const std::string& text) {
  return namedColumns(text, std::vector<int>(kTranslated.begin(), kTranslated.end()), "--translate",
                      "all, none, a mask of four 0/1, or a list of date, mode, category, event (or their Russian column names)");
}

}  // namespace

std::vector<int> columnFields(const std::optional<std::string>& text) {
  std::array<bool, 10> on{};
  if (text && isMask(*text)) {
    // As SetInsertColumn reads a mask: untrimmed, short ones padded off.
    const std::string& mask = checkedMask(*text, 10, "--columns");
    for (std::size_t k = 0; k < mask.size(); ++k) on[k] = mask[k] == '1';
  } else if (text && folded(u16(*text)) != u"all") {
    for (int k : columnsNamed(*text)) on[static_cast<std::size_t>(k)] = true;
  }
  std::vector<int> fields;
  for (int k = 1; k <= 10; ++k)
    if (on[static_cast<std::size_t>(k - 1)]) fields.push_back(k);
  if (fields.empty())  // none chosen: all of them, as the reader takes it
    for (int k = 1; k <= 10; ++k) fields.push_back(k);
  return fields;
}

std::array<bool, kLastField + 1> translatedFields(const std::optional<std::string>& text) {
  std::array<bool, kLastField + 1> out{};
  if (!text) return out;
  std::array<bool, 4> on{};
  if (isMask(*text)) {
    // As SetTransformStr reads a mask: trimmed first.
    const U16String given = u16(checkedMask(*text, 4, "--translate"));
    const U16View mask = trimSpaces(given);
    for (std::size_t k = 0; k < 4 && k < mask.size(); ++k) on[k] = mask[k] == u'1';
  } else {
    const U16String word = folded(u16(*text));
    if (word == u"all") on.fill(true);
    else if (word != u"none")
      for (int k : translatedNamed(*text))
        on[static_cast<std::size_t>(std::find(kTranslated.begin(), kTranslated.end(), k) - kTranslated.begin())] = true;
  }
  for (std::size_t i = 0; i < 4; ++i) out[static_cast<std::size_t>(kTranslated[i] + 1)] = on[i];
  return out;
}

std::string checkedColumnList(const std::string& text, const char* option, const std::vector<U16String>& available,
                              bool sort, std::vector<U16String>* named, std::vector<ColumnEntry>* entries) {
  std::string expected = "expected column names separated by commas, among";
  for (const U16String& a : available) {
    std::string english = a == kCountColumn ? "count" : "";
    for (std::size_t c = 0; c < kEnglishNames.size(); ++c)
      if (a == kResultColumns[c].name) english = kEnglishNames[c];
    expected += std::string(expected.back() == 'g' ? " " : ", ") + english + " (" + toUtf8(a) + ")";
  }
  if (available.empty()) expected += " none";
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const U16String whole(trimSpaces(u16(part)));
    if (whole.empty())
      throw UsageError(std::string(option) + " " + inQuotes(text) + " holds an empty column name; " + expected);
    const SortEntry e = sort ? parseSortEntry(whole) : SortEntry{whole, false};
    const U16String name = folded(e.column);
    U16String found;
    for (const U16String& a : available) {
      U16String english = a == kCountColumn ? U16String(u"count") : U16String();
      for (std::size_t c = 0; c < kEnglishNames.size(); ++c)
        if (a == kResultColumns[c].name) english = englishName(c);
      if (name == folded(a) || name == english) found = a;
    }
    U16String spelled = found;
    if (found.empty()) {
      // A number stays a number: the table resolves it against its columns.
      const int number = findColumn(e.column, static_cast<int>(available.size()), [](U16View) { return 0; });
      if (number > 0) {
        found = available[static_cast<std::size_t>(number - 1)];
        spelled = U16String(e.column);
      }
    }
    if (found.empty())
      throw UsageError(std::string(option) + ": " + inQuotes(toUtf8(whole)) + " is not a column of the output; " +
                       expected);
    if (named) named->push_back(found);
    if (entries) entries->push_back(ColumnEntry{spelled, e.descending});
    if (!out.empty()) out += ",";
    out += toUtf8(spelled) + (e.descending ? " desc" : "");
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace velmora::cli
