// SetFilter and GetFilter on arbitrary names and texts: an unknown name
// changes nothing, a known one stores a trimmed text, a refused list text
// leaves the filter off.
#include "fuzz/fuzz_util.h"
#include "script/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  velmora::Journal j;
  while (!in.rest().empty()) {
    auto name = fuzz::units(in.next());
    auto text = fuzz::units(in.next());
    auto before = j.GetFilter(name);
    bool ok = j.SetFilter(text, name);
    auto after = j.GetFilter(name);
    (void)before;
    if (!ok) FUZZ_CHECK(after.empty());
    if (!after.empty()) FUZZ_CHECK(after.front() != u' ' && after.back() != u' ');
  }
  return 0;
}
