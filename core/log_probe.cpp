#include "core/log_probe.h"

#include <string_view>
#include <vector>

#include "core/fileio.h"
#include "core/lines.h"
#include "core/long_lines.h"

namespace velmora {
namespace {

constexpr std::size_t kProbeBlock = std::size_t{1} << 16;

}  // namespace

std::string readLogBytes(U16View path, std::int64_t position, std::size_t n) {
  std::string out(n, '\0');
  ReadFile file(path);
  out.resize(file.readAt(position, out.data(), n));
  return out;
}

std::int64_t lineStartAtOrAfter(U16View path, std::int64_t position) {
  if (position <= 1) return position;
  ReadFile file(path);
  char before[2] = {};
  if (position >= 3 && file.readAt(position - 2, before, 2) == 2 && std::string_view(before, 2) == "\r\n") return position;
  // The next CR LF whose LF lies at or after position: its CR may be the
  // byte before it.
  std::vector<char> scratch(kProbeBlock);
  const std::int64_t cr = lines::followLine<false>(file, position - 1, file.size(), scratch, [](std::int64_t, std::string_view) {});
  return cr < 0 ? -1 : cr + 2;
}

}  // namespace velmora
