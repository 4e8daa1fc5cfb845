// A realistic, deterministic event log for tests, benchmarks and the
// command-line tool.
#pragma once

namespace velmora {

}  // namespace velmora
