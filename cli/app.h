// The velmora command line: parses the arguments (UTF-8) and runs one
// subcommand. Returns the process exit code.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmora::cli {

int runApp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velmora::cli
