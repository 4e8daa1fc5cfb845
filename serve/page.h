// The viewer's page, its script and its style, embedded in the binary: the
// browser loads nothing from anywhere else.
#pragma once

#include <string_view>

namespace velmora::serve {

std::string_view pageHtml();
std::string_view pageScript();
std::string_view pageStyle();

}  // namespace velmora::serve
