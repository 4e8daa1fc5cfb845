// The extension's fixed tables: the script properties and methods with
// their English/Russian name pairs, flags and parameter counts.
#pragma once

#include <cstdint>
#include <span>

#include "text/text.h"

namespace velmora {

// How a written property value is converted before the reader sees it.
enum class WriteAs : std::uint8_t { ReadOnly, String, Long };

struct PropertyEntry {
  const char16_t* names;  // "English,Russian"
  WriteAs write;
};

struct MethodEntry {
  const char16_t* names;
  long params;
};

std::span<const PropertyEntry> propertyTable();
std::span<const MethodEntry> methodTable();

// The English (alias 0) or Russian (any other alias) half of a name pair;
// the whole text when it has no comma.
U16View termString(U16View names, long alias);

// Number of the first entry whose English or Russian name equals name
// exactly, checking English before Russian for each entry; -1 when none.
long findProperty(U16View name);
long findMethod(U16View name);

}  // namespace velmora
