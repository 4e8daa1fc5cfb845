// FilterRecord under arbitrary filters, masks and records: the fields of a
// record that passes lie inside it and it has its date and time, and a short
// record never passes.
#include <string>

#include "fuzz/fuzz_util.h"
#include "script/journal.h"

static const char16_t* const kNames[] = {u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"10"};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  velmora::Journal j;
  for (auto* name : kNames) j.SetFilter(fuzz::units(in.next()), name);
  j.SetInvertFilters(fuzz::units(in.next()));
  auto coincidence = in.next();
  j.SetCoincidenceObject(coincidence.empty() ? 0 : static_cast<unsigned char>(coincidence[0]) - 100);

  std::string_view rest = in.rest();
  while (!rest.empty()) {
    auto cut = rest.find("\r\n");
    std::string_view record = rest.substr(0, cut);
    bool passed = j.FilterRecord(record);
    if (record.size() < 19) FUZZ_CHECK(!passed);
    if (passed) {
      FUZZ_CHECK(j.Field(1) == record.substr(0, 8));
      FUZZ_CHECK(j.Field(2) == record.substr(9, 8));
      // Every field of a passing record comes from it: the fields lie in the
      // reader's copy of the line (which starts where field 1 does), and
      // fields 3..10 joined by ";" are the record after its key, up to what
      // it lacks. A field left over from an earlier record breaks both.
      const char* lo = j.Field(1).data();
      const char* hi = lo + record.size();
      std::string joined;
      for (int k = 3; k <= 10; ++k) {
        auto f = j.Field(k);
        if (!f.empty()) FUZZ_CHECK(f.data() >= lo && f.data() + f.size() <= hi);
        if (k > 3) joined.push_back(';');
        joined.append(f);
      }
      while (!joined.empty() && joined.back() == ';') joined.pop_back();
      FUZZ_CHECK(record.substr(18).substr(0, joined.size()) == joined);
    }
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 2);
  }
  return 0;
}
