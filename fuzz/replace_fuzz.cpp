// ReplaceDateTimes over arbitrary logs and lists: the copy has the length of
// the log's complete records and differs from the log only in the first 18
// bytes of records, and only where the list gave that record's key.
#include "fuzz/fuzz_util.h"
#include "script/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in(data, size);
  std::string_view list = in.next();
  std::string_view log = in.rest();
  static const fuzz::TempFile file("replace.log"), listFile("replace.list"), out("replace.out");
  file.write(log);
  listFile.write(list);
  out.remove();

  velmora::Journal j;
  j.SetFilePath(file.path16());
  std::int32_t used = j.ReplaceDateTimes(out.path16(), listFile.path16());
  FUZZ_CHECK(j.NumErr() == 0 || used == -1);
  if (used < 0) return 0;
  // A list without a line writes nothing; any other list gets a copy, even
  // when its first entry stops the replacing.
  if (list.find("\r\n") == std::string_view::npos) FUZZ_CHECK(used == 0 && !out.exists());
  if (!out.exists()) return 0;
  std::string copy = out.read();
  std::string_view whole = log.substr(0, fuzz::completeLength(log));
  FUZZ_CHECK(copy.size() == whole.size());
  std::size_t at = 0;
  while (at < whole.size()) {
    auto end = whole.find("\r\n", at) + 2;
    // A record shorter than a key has none to replace; a longer one may only
    // change its first 18 bytes, to a key taken from a line of the list.
    std::size_t keyEnd = end - 2 - at >= 18 ? at + 18 : at;
    for (std::size_t i = keyEnd; i < end; ++i) FUZZ_CHECK(copy[i] == whole[i]);
    if (keyEnd > at && copy.compare(at, 18, whole, at, 18) != 0) {
      FUZZ_CHECK(list.find(std::string_view(copy).substr(at, 18)) != std::string_view::npos);
    }
    at = end;
  }
  return 0;
}
