// Reader::filterRecord under arbitrary filters, inversions and records: the
// fields of a record that passes lie inside it and it has its date and time,
// and a short record never passes.
#include <array>
#include <string>

#include "core/filter_text.h"
#include "core/reader.h"
#include "fuzz/fuzz_util.h"
#include "text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  std::array<velmora::U16String, 11> texts;
  for (int f = 3; f <= 10; ++f) texts[f] = fuzz::units(in.next());
  const velmora::U16String invert = fuzz::units(in.next());
  auto coincidence = in.next();
  const bool exactId = !coincidence.empty() && static_cast<unsigned char>(coincidence[0]) > 100;
  velmora::ReadQuery query;
  for (int f = 3; f <= 10; ++f) {
    velmora::FieldFilter& plan = query.filters[static_cast<std::size_t>(f)];
    plan = velmora::parseFilterText(f, texts[f], exactId).value_or(velmora::FieldFilter{});
    plan.invert = static_cast<std::size_t>(f - 3) < invert.size() && invert[static_cast<std::size_t>(f - 3)] == u'1';
  }
  velmora::Reader reader(u"", query, velmora::CodePage::current());

  std::string_view rest = in.rest();
  while (!rest.empty()) {
    auto cut = rest.find("\r\n");
    std::string_view record = rest.substr(0, cut);
    bool passed = reader.filterRecord(record);
    if (record.size() < 19) FUZZ_CHECK(!passed);
    if (passed) {
      const velmora::RecordFields& fields = reader.lastRecord().fields;
      FUZZ_CHECK(fields[1] == record.substr(0, 8));
      FUZZ_CHECK(fields[2] == record.substr(9, 8));
      // Every field of a passing record comes from it: the fields lie in the
      // reader's copy of the line (which starts where field 1 does), and
      // fields 3..10 joined by ";" are the record after its key, up to what
      // it lacks. A field left over from an earlier record breaks both.
      const char* lo = fields[1].data();
      const char* hi = lo + record.size();
      std::string joined;
      for (int k = 3; k <= 10; ++k) {
        auto f = fields[k];
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
