// Script-facing text: sequences of 16-bit code units, as the host counts
// characters. Log bytes stay bytes (std::string_view) until a field is written.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

using U16String = std::u16string;
using U16View = std::u16string_view;

// UTF-8 <-> UTF-16, for the command line and for messages. Invalid input
// becomes U+FFFD; never throws.
std::string toUtf8(U16View text);
U16String fromUtf8(std::string_view text);

// Removes the space character (code 32) only, on both ends.
U16View trimSpaces(U16View text);

}  // namespace velmora
