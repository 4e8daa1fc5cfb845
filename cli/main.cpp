#include <iostream>
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/files.h"
#include "cli/terminal.h"
#include "text/text.h"

#ifdef _WIN32
// Wide arguments, so that Russian names and paths arrive whatever the
// console's code page; the tool works in UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(velmora::toUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  velmora::cli::ConsoleUtf8 console;
  // Output bytes as written: CSV ends its records with CR LF itself, and a
  // text-mode stream would make that CR CR LF.
  velmora::cli::setBinaryStdout();
  // Standard output through the system's write, so that a failed write is
  // known and reported, not lost in a stream's state.
  velmora::cli::StdoutBuffer buffer;
  std::ostream out(&buffer);
  return velmora::cli::runApp(args, out, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  velmora::cli::guardStandardDescriptors();
  velmora::cli::StdoutBuffer buffer;
  std::ostream out(&buffer);
  return velmora::cli::runApp(args, out, std::cerr);
}
#endif
