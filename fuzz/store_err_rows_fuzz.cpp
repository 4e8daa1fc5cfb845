// StoreErrRows over arbitrary logs: the two outputs split the log's complete
// records between them byte for byte, in order, nothing lost or added, and
// the count is the number of records in the error file.
#include "fuzz/fuzz_util.h"
#include "script/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view log(reinterpret_cast<const char*>(data), size);
  static const fuzz::TempFile file("strip.log"), kept("strip.kept"), errors("strip.err");
  file.write(log);
  kept.remove();
  errors.remove();

  velmora::Journal j;
  j.SetFilePath(file.path16());
  std::int32_t removed = j.StoreErrRows(kept.path16(), errors.path16());
  FUZZ_CHECK(j.NumErr() == 0);
  FUZZ_CHECK(removed >= 0);
  std::string a = kept.read(), b = errors.read();
  std::string_view whole = log.substr(0, fuzz::completeLength(log));
  FUZZ_CHECK(a.size() + b.size() == whole.size());

  // Walk the log's records and take each from the front of one output.
  std::string_view ra = a, rb = b;
  std::int32_t inErrors = 0;
  while (!whole.empty()) {
    auto end = whole.find("\r\n") + 2;
    std::string_view record = whole.substr(0, end);
    if (ra.substr(0, end) == record) {
      ra.remove_prefix(end);
    } else {
      FUZZ_CHECK(rb.substr(0, end) == record);
      rb.remove_prefix(end);
      ++inErrors;
    }
    whole.remove_prefix(end);
  }
  FUZZ_CHECK(ra.empty() && rb.empty());
  FUZZ_CHECK(inErrors == removed);
  return 0;
}
