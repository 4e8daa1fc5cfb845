// A build without the viewer's server (no cpp-httplib for its target).
#include <ostream>

#include "cli/serve.h"

namespace velmora::cli {

int runServe(const ServeRequest&, Io& io) {
  io.err << "velmora: this build has no viewer: it was built without cpp-httplib\n";
  return kFailed;
}

}  // namespace velmora::cli
