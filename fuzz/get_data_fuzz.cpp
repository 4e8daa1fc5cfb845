// GetData over arbitrary bytes: the result is -1 or a line start inside the
// file, and resuming from it never goes back, nor finds anything at the end.
#include "fuzz/fuzz_util.h"
#include "script/journal.h"
#include "memhost/memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  auto settings = in.next();
  std::string_view log = in.rest();
  // Logs of 64 KiB or more take the binary search; repeating a small input
  // gets there without making every input large.
  std::string repeated;
  if (settings.size() > 3 && (settings[3] & 1) && !log.empty()) {
    while (repeated.size() < 70000) repeated += log;
    log = repeated;
  }
  static const fuzz::TempFile file("getdata.log");
  file.write(log);

  velmora::Journal j;
  j.SetFilePath(file.path16());
  if (settings.size() > 4 && (settings[4] & 1)) {
    FUZZ_CHECK(j.SetDateTimes(u"20050110", u"12:00:00", u"20050112", u""));
  } else {
    // A year past the current one is refused, which would leave the period
    // unset and every call a refusal.
    FUZZ_CHECK(j.SetDateTimes(u"19010101", u"", u"20201231", u""));
  }
  if (settings.size() > 0 && (settings[0] & 1)) j.SetTransformStr(u"1111");
  if (settings.size() > 1 && (settings[1] & 1)) j.SetInsertColumn(u"1010000001");
  if (settings.size() > 2 && (settings[2] & 1)) j.SetFilter(u"|A|", u"FilterMode");

  velmora::MemoryValueTable table;
  std::int32_t pos = j.GetStartPos(0, table);
  FUZZ_CHECK(j.NumErr() == 0);
  FUZZ_CHECK(pos == -1 || fuzz::isLineStart(log, pos));
  if (pos > 0) {
    // Resuming never goes back; from the end of the log it finds nothing.
    auto rows = table.rowCount();
    std::int32_t again = j.GetStartPos(pos, table);
    FUZZ_CHECK(again >= pos && fuzz::isLineStart(log, again));
    if (pos > static_cast<std::int64_t>(log.size()) - 18) {
      // The last 18 bytes hold no record, but a short line there is passed
      // over (a call stops before it, the next reads it); past the end the
      // position stays.
      FUZZ_CHECK(table.rowCount() == rows);
      if (again > static_cast<std::int64_t>(log.size())) FUZZ_CHECK(j.GetStartPos(again, table) == again);
    }
  }
  FUZZ_CHECK(j.ListStrSize() == table.rowCount());
  return 0;
}
