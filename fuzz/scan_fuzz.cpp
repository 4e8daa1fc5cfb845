// The record loops against a plain record-by-record reading (reference_scan.h)
// on the same bytes and settings: code page, period, the eight filters, their
// inversion, CoincidenceObject, start position and a sink that stops. The
// rows (every field, byte for byte) and the positions must be the same, for
// the typed reader's scan (its query made from the same texts) and for
// GetData, and for the scan in two parts split at a line start.
//
// Input: settings, 0xFF, eight filter texts each ended by 0xFF, the invert
// mask, 0xFF, then log material: pieces ended by LF. A piece becomes a record
// whose key the target makes, in time order, and whose fields are the piece;
// a piece that starts with 0x01 is a line as it is (any key or none); 0x02
// stands for a lone LF, and a piece that starts with 0x03 is repeated past
// the size of a window. The first byte of a record's piece sets how far its
// time lies after the one before (0 to 14 minutes).
#include <array>

#include "fuzz/fuzz_util.h"
#include "fuzz/reference_scan.h"
#include "core/filter_text.h"
#include "core/period.h"
#include "core/reader.h"
#include "core/simd.h"
#include "script/journal.h"
#include "memhost/memory_host.h"
#include "text/codepage.h"

namespace {

using fuzz::reference::Row;

// GetData's window when it resumes at a position, given to the typed reader
// too, so that both pass over the same windows.
constexpr std::size_t kWindow = velmora::Reader::kSearchWindow;

class Collect : public velmora::RecordSink {
 public:
  explicit Collect(std::size_t stopAfter) : stopAfter_(stopAfter) {}
  bool record(const velmora::Record& record) override {
    const velmora::RecordFields& fields = record.fields;
    Row row;
    for (int k = 1; k <= 10; ++k) row[k] = std::string(fields[k]);
    rows.push_back(row);
    return stopAfter_ == 0 || rows.size() < stopAfter_;
  }
  std::vector<Row> rows;

 private:
  std::size_t stopAfter_;
};

std::string key(int second) {
  // From 9 January 2005 on; a day is 86,400 seconds.
  const int day = 9 + second / 86400, s = second % 86400;
  char buf[32];
  std::snprintf(buf, sizeof buf, "200501%02d;%02d:%02d:%02d;", day % 100, s / 3600, s / 60 % 60, s % 60);
  return buf;
}

std::string buildLog(std::string_view material, bool repeat, bool& raw) {
  std::string log;
  raw = false;
  int second = 0;
  do {
    std::string_view rest = material;
    while (!rest.empty()) {
      const std::size_t cut = rest.find('\n');
      std::string piece(rest.substr(0, cut));
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
      for (char& c : piece) {
        if (c == '\x02') c = '\n';
      }
      if (!piece.empty() && piece[0] == '\x03') {
        const std::string once = piece.substr(1);
        piece.clear();
        while (!once.empty() && piece.size() <= kWindow + 100) piece += once;
      }
      if (!piece.empty() && piece[0] == '\x01') {
        log += piece.substr(1);
        raw = true;
      } else {
        second += piece.empty() ? 1 : static_cast<unsigned char>(piece[0]) % 8 * 120;
        log += key(second) + piece;
      }
      log += "\r\n";
    }
  } while (repeat && !material.empty() && log.size() < 5 * kWindow / 2);  // a few windows, kept quick
  return log;
}

// The records must stand in time order; what the reader relies on is that no
// record of the period follows one dated after it. Lines that would break
// that are moved past the period (their first byte made "9").
void keepTimeOrder(std::string& log, std::int64_t start, const std::string& begin, const std::string& end) {
  bool past = false;
  std::size_t c = static_cast<std::size_t>(start - 1);
  for (std::size_t d; c < log.size() && (d = log.find("\r\n", c)) != std::string::npos; c = d + 2) {
    std::string k = log.substr(c, 18);
    k.resize(18, ' ');
    if (past && begin <= k && k <= end) log[c] = '9';
    past = past || k.substr(0, 8) > end.substr(0, 8);
  }
}

// The rows and positions of the typed reader (whole and in two parts) and of
// GetData against the reference's.
template <class Setting>
void checkScan(velmora::Journal& j, velmora::Reader& reader, const std::string& log, bool raw, std::int64_t start,
               std::size_t stopAfter, const fuzz::reference::Result& want, Setting&& setting) {
  Collect sink(stopAfter);
  const velmora::ScanResult whole = reader.scan(start, sink);
  FUZZ_CHECK(whole.next == want.position);
  FUZZ_CHECK(!whole.failure);
  FUZZ_CHECK(sink.rows == want.rows);

  if (stopAfter == 0) {
    // A log in time order read in two parts, the first up to a line start
    // and the second from it, gives the same rows and the same end; or,
    // when the first scan ends before that line for its own reasons,
    // everything by itself. (Out of order, what the windows that a scan
    // decides on whole pass over depends on where they lie.)
    const std::uint32_t cut = setting(10) | setting(11) << 8 | setting(12) << 16;
    const std::size_t cr = log.find("\r\n", cut % log.size());
    const std::int64_t split = cr == std::string::npos ? 0 : static_cast<std::int64_t>(cr) + 3;
    if (!raw && split > start) {
      Collect first(0), second(0);
      const velmora::ScanResult firstEnd = reader.scan(start, first, split);
      FUZZ_CHECK(!firstEnd.failure);
      if (firstEnd.reachedStop) {
        FUZZ_CHECK(firstEnd.next == split);
        FUZZ_CHECK(reader.scan(split, second).next == want.position);
        first.rows.insert(first.rows.end(), second.rows.begin(), second.rows.end());
      } else {
        FUZZ_CHECK(firstEnd.next == want.position);
      }
      FUZZ_CHECK(first.rows == want.rows);
    }

    velmora::MemoryValueTable table;
    FUZZ_CHECK(j.GetStartPos(static_cast<std::int32_t>(start), table) == want.position);
    FUZZ_CHECK(j.NumErr() == 0);
    FUZZ_CHECK(table.rowCount() == static_cast<std::int32_t>(want.rows.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  const std::string_view settings = in.next();
  auto setting = [&](std::size_t i) -> unsigned {
    return i < settings.size() ? static_cast<unsigned char>(settings[i]) : 0u;
  };
  static constexpr unsigned kPages[] = {1251, 1252, 866};
  FUZZ_CHECK(velmora::CodePage::select(kPages[setting(0) % 3]));
  const velmora::CodePage& cp = velmora::CodePage::current();

  velmora::Journal j;
  static const fuzz::TempFile file("scan.log");
  j.SetFilePath(file.path16());
  static const std::array<std::array<const char16_t*, 4>, 3> kPeriods = {{
      {u"19010101", u"", u"20201231", u""},
      {u"20050110", u"12:00:00", u"20050112", u""},
      {u"20050111", u"", u"20050111", u"06:30:00"},
  }};
  const auto& period = kPeriods[setting(1) % 3];
  FUZZ_CHECK(j.SetDateTimes(period[0], period[1], period[2], period[3]));
  velmora::ReadQuery query;
  const auto keys = velmora::periodKeys(period[0], period[1], period[2], period[3]);
  FUZZ_CHECK(keys.has_value());
  query.begin = keys->begin;
  query.end = keys->end;
  std::array<velmora::U16String, 11> texts;
  static const char16_t* const kNames[] = {u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"10"};
  fuzz::reference::Filters filters;
  for (int f = 3; f <= 10; ++f) {
    const velmora::U16String text = fuzz::units(in.next());
    texts[f] = text;
    j.SetFilter(text, kNames[f - 3]);
    filters.text[f] = j.GetFilter(kNames[f - 3]);
    if (f >= 8) filters.items[f] = fuzz::reference::listItems(text, cp);
  }
  j.SetInvertFilters(fuzz::units(in.next()));
  for (int k = 1; k <= 8; ++k) filters.invert[k + 2] = j.InvertFilters()[static_cast<std::size_t>(k - 1)] == u'1';
  j.SetCoincidenceObject(setting(2) & 1);
  filters.coincidence = j.CoincidenceObject() == 1;
  for (int f = 3; f <= 10; ++f) {
    velmora::FieldFilter& plan = query.filters[static_cast<std::size_t>(f)];
    plan = velmora::parseFilterText(f, texts[f], filters.coincidence).value_or(velmora::FieldFilter{});
    plan.invert = filters.invert[f];
  }

  bool raw = false;  // a line as it stands: it may break the time order
  std::string log = buildLog(in.rest(), setting(3) & 1, raw);
  if (log.empty()) return 0;
  // A start at the first byte, or anywhere, inside a line too.
  const std::uint32_t offset = setting(4) | setting(5) << 8 | setting(6) << 16;
  const std::int64_t start = setting(7) & 1 ? 1 + static_cast<std::int64_t>(offset % log.size()) : 1;
  const std::string begin = velmora::toUtf8(j.DateBegin()), end = velmora::toUtf8(j.DateEnd());
  keepTimeOrder(log, start, begin, end);
  file.write(log);
  const std::size_t stopAfter = setting(8) % 4 == 0 ? setting(9) % 20 + 1 : 0;

  const fuzz::reference::Result want =
      fuzz::reference::scan(log, start, kWindow, begin, end, filters, cp, stopAfter);

  // Both forms of the byte searches: SSE2 where the processor has it, and
  // the portable one (the only one of the portable build).
  velmora::Reader reader(file.path16(), query, cp);
  reader.setScanWindow(kWindow);
  for (const bool sse2 : {true, false}) {
    velmora::simd::forceSse2(sse2);
    checkScan(j, reader, log, raw, start, stopAfter, want, setting);
  }
  velmora::simd::forceSse2(true);
  return 0;
}