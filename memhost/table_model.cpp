#include "memhost/table_model.h"

namespace velmora {

GroupLayout layoutGroups(std::vector<std::size_t> grouped, std::vector<std::size_t> summed, std::size_t width) {
  GroupLayout layout{std::move(grouped), std::move(summed), {}};
  const auto find = [](const std::vector<std::size_t>& in, std::size_t c) {
    return static_cast<std::size_t>(std::find(in.begin(), in.end(), c) - in.begin());
  };
  for (std::size_t c = 0; c < width; ++c) {
    const std::size_t s = find(layout.summed, c), g = find(layout.grouped, c);
    if (s < layout.summed.size()) {
      layout.kept.push_back({c, true, s});
    } else if (g < layout.grouped.size()) {
      layout.kept.push_back({c, false, g});
    }
  }
  return layout;
}

}  // namespace velmora
