// A compressed log gives what the plain log gives, in every format, whole
// or written in several members (frames, streams), and followed it is read
// once; an archive cut short or
// damaged keeps the records before the break and fails, naming the file
// and where its text stops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_support.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

struct Format {
  const char* name;     // as the tool names it
  const char* command;  // writes the compressed file to standard output
};
const std::vector<Format> kFormats{
    {"gzip", "gzip -1 -c"}, {"zstd", "zstd -1 -q -c"}, {"bzip2", "bzip2 -1 -c"}, {"xz", "xz -0 -c -T1"}};

// The bytes compressed as one archive, or as one per part, concatenated.
std::string compress(const TempDir& dir, const Format& f, const std::string& bytes, std::vector<std::size_t> cuts) {
  const std::string archive = dir.path(std::string("out.") + f.name);
  writeFile(archive, "");
  cuts.push_back(bytes.size());
  std::size_t from = 0;
  for (std::size_t to : cuts) {
    writeFile(dir.path("part"), bytes.substr(from, to - from));
    const std::string command = std::string(f.command) + " '" + dir.path("part") + "' >> '" + archive + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    from = to;
  }
  return readFile(archive);
}

std::string runAll(const std::vector<std::string>& args) {
  const RunResult r = runVelmora(args);
  return std::to_string(r.exitCode) + "\n" + r.out + "\n" + r.err;
}

TEST(Compressed, EveryFormatReadsAsThePlainLog) {
  TempDir dir;
  SampleOptions o;
  o.days = 30;
  o.perDay = 2000;  // some 5.8 MB: more than the decoded text held at once
  const std::string bytes = sampleLog(o);
  const std::string plain = dir.path("events.log");
  writeFile(plain, bytes);
  auto answers = [&](const std::string& log) {
    std::vector<std::string> out;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"data", log, "--format", "csv"},
             {"data", log, "--from", "2005-01-11", "--to", "2005-01-13", "--user", "Бухгалтер", "--format", "csv"},
             {"stats", log, "--format", "csv"},
             {"stats", log, "--from", "2005-01-11", "--to", "2005-01-13", "--format", "csv"},
             {"users", log},
             {"sql", log, "SELECT user, count(*) FROM log GROUP BY user", "--format", "csv"}})
      out.push_back(runAll(args));
    return out;
  };
  const std::vector<std::string> expected = answers(plain);
  ASSERT_EQ(expected[0].substr(0, 2), "0\n");
  const std::string plainRows = runVelmora({"data", plain, "--format", "csv"}).out;

  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    // Whole, and in three pieces cut inside lines.
    for (const auto& cuts : {std::vector<std::size_t>{}, {bytes.size() / 5 + 7, bytes.size() / 2 + 3, bytes.size() - 100}}) {
      const std::string log = dir.path(std::string("events.") + std::to_string(cuts.size()));
      const std::string archive = compress(dir, f, bytes, cuts);
      writeFile(log, archive);
      EXPECT_EQ(answers(log), expected) << cuts.size() << " cut(s)";
      // Followed, it is read once to its end: a compressed log does not grow,
      // and its positions past the file's length are no sign of a cut log.
      const RunResult followed = runVelmora({"data", log, "--follow", "--format", "csv"});
      EXPECT_EQ(followed.exitCode, 0) << followed.err;
      EXPECT_EQ(followed.out, plainRows) << "rows once, in order";
      EXPECT_NE(followed.err.find("not followed"), std::string::npos) << followed.err;

      // Cut short, at 60 % of the archive: the records whose lines the text
      // holds whole up to the byte named are printed and counted, then it
      // fails.
      writeFile(log, archive.substr(0, archive.size() * 3 / 5));
      const RunResult data = runVelmora({"data", log, "--format", "csv"});
      EXPECT_EQ(data.exitCode, 3) << data.err;
      const std::string says = "the " + std::string(f.name) + " archive stops after byte ";
      const auto at = data.err.find(says);
      ASSERT_NE(at, std::string::npos) << data.err;
      EXPECT_NE(data.err.find(log), std::string::npos) << data.err;
      EXPECT_NE(data.err.find("of the archive"), std::string::npos) << data.err;
      const std::size_t stops = std::stoull(data.err.substr(at + says.size()));
      ASSERT_LT(stops, bytes.size());
      std::size_t whole = 0;  // lines ended by CR LF up to there
      for (std::size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos && p + 2 <= stops; p += 2) ++whole;
      EXPECT_GT(whole, 0u);
      EXPECT_EQ(linesOf(data.out, "\r\n").size() - 1, whole) << "the header and the rows";
      const RunResult stats = runVelmora({"stats", log, "--format", "csv"});
      EXPECT_EQ(stats.exitCode, 3) << stats.err;
      EXPECT_NE(stats.out.find("total,all," + std::to_string(whole) + ","), std::string::npos) << stats.out;

      // Damaged in the middle: a failure naming the file, whatever the
      // library finds first.
      std::string damaged = archive;
      for (std::size_t k = 0; k < 64; ++k) damaged[damaged.size() / 2 + k] = static_cast<char>(0x55 ^ k);
      writeFile(log, damaged);
      const RunResult bad = runVelmora({"stats", log, "--format", "csv"});
      EXPECT_EQ(bad.exitCode, 3) << bad.err;
      EXPECT_NE(bad.err.find("\"" + log + "\""), std::string::npos) << bad.err;
      EXPECT_NE(bad.err.find("archive stops after byte"), std::string::npos) << bad.err;
    }
  }
}

}  // namespace
}  // namespace velmora::testing
