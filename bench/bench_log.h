// The logs the benchmarks read: made once by the sample generator into
// bench/data/ (not kept in git) and reused, so that every benchmark and
// every run reads the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sample/sample.h"

namespace velmora::bench {

inline const std::filesystem::path kDataDir = std::filesystem::path(__FILE__).parent_path() / "data";
inline constexpr int kRecordsPerDay = 20000;  // of the big log

// Writes the log unless it is there; a run stopped halfway leaves only a
// .partial file, never a short log under the final name.
inline void ensureLog(const std::filesystem::path& log, const SampleOptions& options) {
  if (std::filesystem::exists(log)) return;
  std::printf("generating %s ...\n", log.c_str());
  std::fflush(stdout);
  const std::filesystem::path partial = log.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    writeSampleLog(out, options);
  }
  std::filesystem::rename(partial, log);
}

// The big log of about mib MiB: 20,000 records a day from 1 January 2005,
// seed 7.
inline std::filesystem::path bigLog(std::uint64_t mib) {
  std::filesystem::create_directories(kDataDir);
  const std::filesystem::path log = kDataDir / ("journal-" + std::to_string(mib) + "m.log");
  SampleOptions options;
  options.perDay = kRecordsPerDay;
  options.seed = 7;
  options.startDate = 20050101;
  options.targetBytes = mib << 20;
  ensureLog(log, options);
  return log;
}

}  // namespace velmora::bench
