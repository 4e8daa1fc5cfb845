#include "sql/log_scan.h"

#include "journal/fileio.h"
#include "text/text.h"

namespace velmora::sql {

namespace {
constexpr const char16_t* kFilterNames[11] = {nullptr, nullptr, nullptr, u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"10"};
}

struct LogScan::Adapter : RecordSink {
  Adapter(Journal& j, ScanSink& s) : journal(j), sink(s) {}
  bool record(const RecordFields& fields) override {
    stopped = !sink.record(fields, journal.RecordPosition());
    return !stopped;
  }
  Journal& journal;
  ScanSink& sink;
  bool stopped = false;
};

bool LogScan::configure(const ScanQuery& q) {
  log_ = q.log;
  journal_.SetFilePath(fromUtf8(q.log));
  if (!journal_.SetPeriodKeys(q.begin, q.end)) return false;
  std::u16string invert(8, u'0');
  for (int f = 3; f <= 10; ++f) {
    if (!q.filter[f].empty() && !journal_.SetFilter(fromUtf8(q.filter[f]), kFilterNames[f])) return false;
    if (q.invert[f]) invert[static_cast<std::size_t>(f - 3)] = u'1';
  }
  journal_.SetInvertFilters(invert);
  return true;
}

std::int64_t LogScan::start() { return journal_.FindPeriodStart(); }

std::int64_t LogScan::read(std::int64_t from, std::int64_t stopAt, ScanSink& sink) {
  Adapter adapter(journal_, sink);
  const std::int64_t next = journal_.GetRecords(from, adapter, stopAt);
  done_ = failed() || next < 1 || (!adapter.stopped && !journal_.ReachedStop());
  return next;
}

std::string LogScan::failure() const {
  return "NumErr " + std::to_string(journal_.NumErr()) + ": " + toUtf8(journal_.TextErr());
}

bool LogScan::logExists() const { return fileExists(fromUtf8(log_)); }

}  // namespace velmora::sql
