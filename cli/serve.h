// velmora serve: the viewer's server (serve/) on the tool's query language
// and printers.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"

namespace velmora::cli {

struct ServeRequest {
  std::vector<std::string> logs;  // one log, or files and folders read as one timeline
  std::string bind = "127.0.0.1";
  int port = 0;
};

// Serves until SIGINT or SIGTERM; prints the address line on io.out.
int runServe(const ServeRequest& request, Io& io);

}  // namespace velmora::cli
