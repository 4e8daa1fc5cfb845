// GetData over arbitrary bytes: the result is -1 or a line start inside the
// file, calling again from it adds no row, and reading the log in two calls
// gives the rows of one call.
#include "fuzz/fuzz_util.h"
#include "journal/journal.h"
#include "journal/memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  auto settings = in.next();
  std::string_view log = in.rest();
  static const fuzz::TempFile file("getdata.log");
  file.write(log);

  velmora::Journal j;
  j.SetFilePath(file.path16());
  j.SetDateTimes(u"19010101", u"", u"29991231", u"");
  if (settings.size() > 0 && (settings[0] & 1)) j.SetTransformStr(u"1111");
  if (settings.size() > 1 && (settings[1] & 1)) j.SetInsertColumn(u"1010000001");
  if (settings.size() > 2 && (settings[2] & 1)) j.SetFilter(u"|A|", u"FilterMode");

  velmora::MemoryValueTable table;
  std::int32_t pos = j.GetStartPos(0, table);
  FUZZ_CHECK(j.NumErr() == 0);
  FUZZ_CHECK(pos == -1 || fuzz::isLineStart(log, pos));
  if (pos > 0) {
    auto rows = table.rowCount();
    std::int32_t again = j.GetStartPos(pos, table);
    FUZZ_CHECK(again == pos);
    FUZZ_CHECK(table.rowCount() == rows);
  }
  FUZZ_CHECK(j.ListStrSize() == table.rowCount());
  return 0;
}
