#include "transform/catalogue.h"

namespace velmora {

const std::array<CodeText, 54> kEventCatalogue{};
const std::array<CodeText, 4> kRunModes{};
const std::array<CodeText, 17> kCategories{};

}  // namespace velmora
