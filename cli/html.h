// Text placed in an HTML page, whatever it holds: a user name, a comment or
// an event code from the log can close no element, open none and end no
// attribute value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::cli {

// Appends utf8 (valid UTF-8, as toUtf8 makes it) for use as element text or
// as an attribute value in double quotes: & < > " ' become references, and
// control characters, which HTML cannot carry, become visible stand-ins
// (C0 and DEL their Unicode control pictures, C1 the replacement character).
void appendHtml(std::string& out, std::string_view utf8);
std::string html(std::string_view utf8);

// A count with its thousands set apart by narrow spaces, for people.
std::string groupedNumber(std::uint64_t value);

}  // namespace velmora::cli
