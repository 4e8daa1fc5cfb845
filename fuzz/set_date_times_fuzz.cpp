// SetDateTimes on arbitrary texts: either two well-formed keys in order are
// stored, or nothing changes; never an exception.
#include "fuzz/fuzz_util.h"
#include "script/journal.h"

static bool wellFormed(const velmora::U16String& key) {
  if (key.size() != 18) return false;
  for (std::size_t i = 0; i < 18; ++i) {
    char16_t c = key[i];
    bool ok = (i == 8 || i == 17) ? c == u';' : (i == 11 || i == 14) ? c == u':' : (c >= u'0' && c <= u'9');
    if (!ok) return false;
  }
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  velmora::Journal j;
  j.SetDateTimes(u"20050101", u"", u"20050131", u"");
  auto b0 = j.DateBegin(), e0 = j.DateEnd();
  auto d1 = fuzz::units(in.next()), t1 = fuzz::units(in.next());
  auto d2 = fuzz::units(in.next()), t2 = fuzz::units(in.next());
  bool ok = j.SetDateTimes(d1, t1, d2, t2);
  if (ok) {
    FUZZ_CHECK(wellFormed(j.DateBegin()) && wellFormed(j.DateEnd()));
    FUZZ_CHECK(j.DateBegin() <= j.DateEnd());
  } else {
    FUZZ_CHECK(j.DateBegin() == b0 && j.DateEnd() == e0);
  }
  return 0;
}
