// GetUsers over arbitrary bytes: the result is -1 or a line start inside the
// file (or its end), and the list holds distinct, non-blank names.
#include <algorithm>
#include <set>

#include "fuzz/fuzz_util.h"
#include "script/journal.h"
#include "memhost/memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view log(reinterpret_cast<const char*>(data), size);
  static const fuzz::TempFile file("users.log");
  file.write(log);

  velmora::Journal j;
  j.SetFilePath(file.path16());
  velmora::MemoryValueList list;
  std::int32_t pos = j.GetUsers(0, list);
  FUZZ_CHECK(j.NumErr() == 0);
  if (log.empty()) {
    FUZZ_CHECK(pos == 0);
  } else {
    FUZZ_CHECK(fuzz::isLineStart(log, pos));
  }
  const auto values = list.values();
  std::set<velmora::U16String> seen;
  for (const auto& item : values) {
    FUZZ_CHECK(seen.insert(item).second);
    FUZZ_CHECK(item.find_first_not_of(u' ') != velmora::U16String::npos);
  }
  FUZZ_CHECK(std::is_sorted(values.begin(), values.end()));
  return 0;
}
