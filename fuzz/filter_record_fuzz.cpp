// FilterRecord under arbitrary filters, masks and records: the fields of a
// record that passes lie inside it and it has its date and time, and a short
// record never passes.
#include "fuzz/fuzz_util.h"
#include "journal/journal.h"

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
      // Every field of a passing record comes from it: none is left over
      // from an earlier record.
      const char* lo = record.data();
      const char* hi = record.data() + record.size();
      for (int k = 3; k <= 10; ++k) {
        auto f = j.Field(k);
        if (!f.empty()) FUZZ_CHECK(f.data() >= lo && f.data() + f.size() <= hi);
      }
      FUZZ_CHECK(j.Field(1) == record.substr(0, 8));
      FUZZ_CHECK(j.Field(2) == record.substr(9, 8));
    }
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 2);
  }
  return 0;
}
