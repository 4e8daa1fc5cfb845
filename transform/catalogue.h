// The fixed tables of the translator: run modes, categories and the event
// catalogue, stored as data.
#pragma once

#include <array>

#include "text/text.h"

namespace velmora {

struct CodeText {
  U16View code;
  U16View text;
};

// Event codes in ascending code-unit order; the lookup depends on it.
extern const std::array<CodeText, 54> kEventCatalogue;
// Run modes and categories, in the order in which they are tested.
extern const std::array<CodeText, 4> kRunModes;
extern const std::array<CodeText, 17> kCategories;

}  // namespace velmora
