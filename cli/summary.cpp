#include "cli/summary.h"

#include <algorithm>
#include <map>

#include "core/calendar.h"
#include "text/codepage.h"
#include "transform/lookup.h"

namespace velmora::cli {

std::optional<BucketSize> parseBucketSize(std::string_view name) {
  if (name == "hour") return BucketSize::Hour;
  if (name == "day") return BucketSize::Day;
  if (name == "week") return BucketSize::Week;
  if (name == "month") return BucketSize::Month;
  return std::nullopt;
}

const char* bucketName(BucketSize size) {
  switch (size) {
    case BucketSize::Hour: return "hour";
    case BucketSize::Day: return "day";
    case BucketSize::Week: return "week";
    case BucketSize::Month: return "month";
  }
  return "day";
}

BucketSize bucketForSpan(long long days) {
  if (days <= 2) return BucketSize::Hour;
  if (days <= 62) return BucketSize::Day;
  if (days <= 366) return BucketSize::Week;
  return BucketSize::Month;
}

namespace {

long long floorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}


// An hour of the calendar, from the log's date and hour bytes.
struct Hour {
  bool ok = false;
  int year = 0, month = 0;
  long long day = 0;  // days since 1970-01-01
  int hour = 0;
};

Hour hourOf(std::string_view date, std::string_view hh) {
  Hour h;
  if (date.size() != 8 || hh.size() != 2 || !allDigits(date) || !allDigits(hh)) return h;
  const int y = number(date.substr(0, 4)), m = number(date.substr(4, 2)), d = number(date.substr(6, 2));
  const int hour = number(hh);
  if (!isCalendarDay(y, m, d) || hour > 23) return h;
  return {true, y, m, daysFromCivil(y, m, d), hour};
}

long long unitOf(BucketSize size, const Hour& h) {
  switch (size) {
    case BucketSize::Hour: return h.day * 24 + h.hour;
    case BucketSize::Day: return h.day;
    // Weeks from Monday; 1970-01-01 was a Thursday.
    case BucketSize::Week: return floorDiv(h.day + 3, 7);
    case BucketSize::Month: return static_cast<long long>(h.year) * 12 + (h.month - 1);
  }
  return h.day;
}

std::string two(int v) { return {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)}; }

std::string isoDate(int yyyymmdd) {
  std::string year = std::to_string(yyyymmdd / 10000);
  while (year.size() < 4) year.insert(year.begin(), '0');
  return year + "-" + two(yyyymmdd / 100 % 100) + "-" + two(yyyymmdd % 100);
}

std::string keyOf(BucketSize size, long long unit) {
  switch (size) {
    case BucketSize::Hour: return isoDate(civilFromDays(floorDiv(unit, 24))) + " " + two(static_cast<int>(unit - floorDiv(unit, 24) * 24)) + ":00";
    case BucketSize::Day: return isoDate(civilFromDays(unit));
    case BucketSize::Week: return isoDate(civilFromDays(unit * 7 - 3));
    case BucketSize::Month: {
      const long long y = floorDiv(unit, 12);
      return isoDate(static_cast<int>(y * 10000 + (unit - y * 12 + 1) * 100 + 1)).substr(0, 7);
    }
  }
  return {};
}

std::string decoded(std::string_view bytes, const CodePage& cp) { return toUtf8(cp.decode(bytes)); }

// YYYYMMDD;HH:MM:SS as YYYY-MM-DD HH:MM:SS; a malformed key as it stands.
std::string readableKey(const std::string& key, const CodePage& cp) {
  if (key.size() != 17 || !allDigits(std::string_view(key).substr(0, 8))) return decoded(key, cp);
  return key.substr(0, 4) + "-" + key.substr(4, 2) + "-" + key.substr(6, 2) + " " + decoded(key.substr(9), cp);
}

Ranked rankedOf(std::string_view bytes, const Count& count, bool translate, int field,
                const CodePage& cp) {
  U16String text = cp.decode(bytes);
  Ranked r;
  r.code = toUtf8(text);
  if (translate) presentCode(field, text);
  r.label = toUtf8(text);
  r.count = count;
  return r;
}

bool ranksBefore(const Ranked& a, const Ranked& b) {
  if (a.count.records != b.count.records) return a.count.records > b.count.records;
  return a.label != b.label ? a.label < b.label : a.code < b.code;
}

// The first keep keys in ranking order (all when keep is 0), the rest only
// counted. A key is decoded only when it can be among those kept: those
// counted more often than the keep-th are; of those that tie with it, a
// heap keeps the best keep, so memory stays with keep whatever the keys.
RankedList ranked(const ByteCounter& counter, bool translate, int field, std::size_t keep,
                  const CodePage& cp) {
  auto entries = counter.entries();
  RankedList out;
  if (keep == 0 || keep >= entries.size()) {
    out.top.reserve(entries.size());
    for (const auto& [bytes, count] : entries) out.top.push_back(rankedOf(bytes, count, translate, field, cp));
  } else {
    auto more = [](const auto& a, const auto& b) { return a.second.records > b.second.records; };
    std::nth_element(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(keep - 1), entries.end(), more);
    const std::uint64_t edge = entries[keep - 1].second.records;
    out.top.reserve(keep);
    for (const auto& [bytes, count] : entries)
      if (count.records > edge) out.top.push_back(rankedOf(bytes, count, translate, field, cp));
    std::vector<Ranked> ties;  // a heap, the worst of the best on top
    const std::size_t room = keep - out.top.size();
    for (const auto& [bytes, count] : entries) {
      if (count.records != edge) continue;
      Ranked r = rankedOf(bytes, count, translate, field, cp);
      if (ties.size() < room) {
        ties.push_back(std::move(r));
        std::push_heap(ties.begin(), ties.end(), ranksBefore);
      } else if (ranksBefore(r, ties.front())) {
        std::pop_heap(ties.begin(), ties.end(), ranksBefore);
        ties.back() = std::move(r);
        std::push_heap(ties.begin(), ties.end(), ranksBefore);
      }
    }
    for (Ranked& r : ties) out.top.push_back(std::move(r));
    out.more = entries.size() - out.top.size();
    std::uint64_t kept = 0, all = 0;
    for (const Ranked& r : out.top) kept += r.count.records;
    for (const auto& e : entries) all += e.second.records;
    out.moreRecords = all - kept;
  }
  std::sort(out.top.begin(), out.top.end(), ranksBefore);
  return out;
}

}  // namespace

Summary summarise(const Tally& tally, const PeriodKeys& period, std::optional<BucketSize> by, bool raw,
                  std::size_t keep, const CodePage& cp) {
  Summary s;
  s.total = tally.total();
  s.first = tally.firstKey().empty() ? std::string() : readableKey(tally.firstKey(), cp);
  s.last = tally.total().records ? readableKey(tally.lastKey(), cp) : std::string();

  // The hours with records, placed on the calendar; the modes summed. The
  // hours are walked again below rather than listed: placing one costs less
  // than the memory of a list.
  Activity all;
  auto hourNumber = [](const Hour& h) { return h.day * 24 + h.hour; };
  std::optional<Hour> low, high;
  tally.forEachHour([&](const Tally::Hour& h) {
    all.add(h.activity);
    const Hour at = hourOf(h.date, h.hour);
    if (!at.ok) {
      s.undated.add(h.activity);
      return;
    }
    if (!low || hourNumber(at) < hourNumber(*low)) low = at;
    if (!high || hourNumber(at) > hourNumber(*high)) high = at;
  });
  // The span: a bound the period gives (when it is a calendar day), or else
  // the first or last hour with records.
  auto bound = [](const std::string& key, bool open) -> std::optional<Hour> {
    if (open) return std::nullopt;
    const Hour h = hourOf(std::string_view(key).substr(0, 8), std::string_view(key).substr(9, 2));
    return h.ok ? std::optional<Hour>(h) : std::nullopt;
  };
  std::optional<Hour> from = bound(period.begin, period.openBegin), to = bound(period.end, period.openEnd);
  if (!from) from = low;
  if (!to) to = high;
  s.by = by ? *by : (from && to ? bucketForSpan(to->day - from->day + 1) : BucketSize::Day);

  if (from && to) {
    std::map<long long, Activity> units;
    // Hours come mostly in time order: most fall in the unit of the one before.
    long long lastUnit = 0;
    Activity* into = nullptr;
    tally.forEachHour([&](const Tally::Hour& h) {
      const Hour at = hourOf(h.date, h.hour);
      if (!at.ok) return;
      const long long u = unitOf(s.by, at);
      if (into == nullptr || u != lastUnit) {
        into = &units[u];
        lastUnit = u;
      }
      into->add(h.activity);
    });
    long long first = unitOf(s.by, *from), last = unitOf(s.by, *to);
    if (!units.empty()) {
      first = std::min(first, units.begin()->first);
      last = std::max(last, units.rbegin()->first);
    }
    s.filled = last - first + 1 <= kMaxFilledBuckets;
    if (s.filled) {
      for (long long u = first; u <= last; ++u) {
        const auto it = units.find(u);
        s.timeline.push_back({keyOf(s.by, u), it == units.end() ? Activity{} : it->second});
      }
    } else {
      for (const auto& [u, activity] : units) s.timeline.push_back({keyOf(s.by, u), activity});
    }
  }

  const TranslatedFields shown = raw ? TranslatedFields{} : fieldSet({4, 6});  // run modes and event codes
  s.users = ranked(tally.users(), false, 3, keep, cp);
  s.events = ranked(tally.events(), shown[6], 6, keep, cp);
  for (int m = 0; m < kModeSlots; ++m) {
    if (all.byMode[static_cast<std::size_t>(m)] == 0) continue;
    Ranked r;
    if (m == kModeOther) {
      r.code = "other";
      r.label = "other";
    } else {
      U16String text(1, static_cast<char16_t>(kModeCodes[static_cast<std::size_t>(m)]));
      r.code = toUtf8(text);
      if (shown[4]) presentCode(4, text);
      r.label = toUtf8(text);
    }
    r.count = {all.byMode[static_cast<std::size_t>(m)], all.errorsByMode[static_cast<std::size_t>(m)]};
    s.modes.push_back(std::move(r));
  }
  return s;
}

}  // namespace velmora::cli
