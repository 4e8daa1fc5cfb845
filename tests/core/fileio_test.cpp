#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "core/failure.h"
#include "core/fileio.h"
#include "script/num_err.h"
#include "log_builder.h"
#include "permission_checks.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velmora {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::string readAll(ReadFile& f, std::int64_t position, std::size_t n) {
  std::string out(n, '\0');
  out.resize(f.readAt(position, out.data(), n));
  return out;
}

TEST(FileIo, ReadsAtOneBasedPositionsAndStopsAtTheEnd) {
  TempDir tmp;
  tmp.write("log.txt", "abcdefghij");
  ReadFile f(tmp.u16("log.txt"));
  EXPECT_EQ(f.size(), 10);
  EXPECT_EQ(readAll(f, 1, 3), "abc");
  EXPECT_EQ(readAll(f, 8, 100), "hij");  // short read at the end
  EXPECT_EQ(readAll(f, 11, 5), "");      // past the end: nothing, no failure
  EXPECT_EQ(readAll(f, 10, 1), "j");
}

// Windows read one after another, overlapping as the record loops read
// them, in place and copied, at random lengths: the file's bytes, in few
// system calls; and the block never hides a file that grew or was cut.
TEST(FileIo, ReadAheadGivesTheFilesBytesInFewCalls) {
  TempDir tmp;
  std::string bytes(24u << 20, '\0');
  std::uint32_t x = 7;
  for (char& c : bytes) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  tmp.write("log.txt", bytes);
  ReadFile f(tmp.u16("log.txt"));
  std::int64_t pos = 1;
  std::string copy(65536, '\0');
  while (pos <= f.size()) {
    const std::size_t n = 65536 - static_cast<std::size_t>(x = x * 1103515245u + 12345u) % 1000;
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), f.size() - pos + 1));
    std::size_t got = 0;
    const char* view = (x >> 20) % 2 ? f.view(pos, n, got) : nullptr;
    if (view == nullptr) {
      got = f.readAt(pos, copy.data(), n);
      view = copy.data();
    } else {
      for (std::size_t i = got; i < n + ReadFile::kViewPadding; ++i) ASSERT_EQ(view[i], ' ') << pos;
    }
    ASSERT_EQ(got, want);
    ASSERT_EQ(std::string_view(view, got), std::string_view(bytes).substr(static_cast<std::size_t>(pos - 1), got)) << pos;
    pos += static_cast<std::int64_t>(got) - 100;  // the next window starts inside this one
    if (got < n) break;
  }
  EXPECT_LE(f.readCalls(), 24u) << "24 MiB in blocks of up to 2 MiB";

  // A cut below the block's end is read as the file is now; growth too.
  ReadFile g(tmp.u16("log.txt"));
  EXPECT_EQ(readAll(g, 1, 1000), bytes.substr(0, 1000));
  EXPECT_EQ(readAll(g, 900, 1000), bytes.substr(899, 1000));  // follows on: a block from 900
  fs::resize_file(tmp.path("log.txt"), 5000);
  EXPECT_EQ(readAll(g, 1800, 10000), bytes.substr(1799, 3201));
  tmp.append("log.txt", "grown");
  EXPECT_EQ(readAll(g, 4990, 100), bytes.substr(4989, 11) + "grown");
}

TEST(FileIo, SizeIsTakenAtOpenWhileTheFileGrows) {
  TempDir tmp;
  tmp.write("log.txt", "12345");
  ReadFile f(tmp.u16("log.txt"));
  tmp.append("log.txt", "678");  // another writer while it is open
  EXPECT_EQ(f.size(), 5);
  EXPECT_EQ(f.currentSize(), 8);
  EXPECT_EQ(readAll(f, 6, 10), "678");
}

TEST(FileIo, ReadsAFileThatAnotherProgramHoldsOpenForWriting) {
  TempDir tmp;
  std::ofstream writer(tmp.path("log.txt"), std::ios::binary);
  writer << "first\r\n" << std::flush;
  ReadFile f(tmp.u16("log.txt"));
  EXPECT_EQ(readAll(f, 1, 7), "first\r\n");
}

TEST(FileIo, PathsWithCyrillicNames) {
  TempDir tmp;
  tmp.write("журнал событий.txt", "данные");
  EXPECT_TRUE(fileExists(tmp.u16("журнал событий.txt")));
  ReadFile f(tmp.u16("журнал событий.txt"));
  EXPECT_EQ(f.size(), static_cast<std::int64_t>(std::string("данные").size()));
}

TEST(FileIo, MissingFileFailsWithANumberAndATextNamingIt) {
  TempDir tmp;
  try {
    ReadFile f(tmp.u16("нет.txt"));
    FAIL() << "opened a missing file";
  } catch (const Failure& e) {
    EXPECT_EQ(numErr(e), static_cast<std::int16_t>(ErrorNumber::FileNotFound));
    EXPECT_NE(textErr(e).find(u"нет.txt"), U16String::npos) << test::utf8(textErr(e));
    EXPECT_NE(textErr(e).find(u"не найден"), U16String::npos) << test::utf8(textErr(e));
  }
}

TEST(FileIo, FolderIsNeitherAnExistingFileNorReadable) {
  TempDir tmp;
  fs::create_directory(tmp.path("sub"));
  EXPECT_FALSE(fileExists(tmp.u16("sub")));
  EXPECT_FALSE(fileExists(tmp.u16("missing")));
  EXPECT_FALSE(fileExists(u""));
  EXPECT_THROW(ReadFile(tmp.u16("sub")), Failure);
  EXPECT_THROW(WriteFile(tmp.u16("sub")), Failure);
#ifndef _WIN32
  // A FIFO is no log: opening it for reading would wait for a writer.
  ASSERT_EQ(::mkfifo(tmp.path("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(fileExists(tmp.u16("fifo")));
#endif
}

TEST(FileIo, WriteIntoAMissingFolderFailsWithPathNotFound) {
  TempDir tmp;
  try {
    WriteFile f(tmp.u16("no-such-folder/out.txt"));
    FAIL() << "created a file in a missing folder";
  } catch (const Failure& e) {
    EXPECT_EQ(numErr(e), static_cast<std::int16_t>(ErrorNumber::PathNotFound));
    EXPECT_NE(textErr(e).find(u"out.txt"), U16String::npos);
  }
}

TEST(FileIo, WriteIntoAReadOnlyFileFailsWithPermissionDenied) {
  test::PermissionChecks checks;
  if (!checks.apply()) GTEST_SKIP() << "root may write anywhere, and may not drop that right here";
  TempDir tmp;
  tmp.write("ro.txt", "x");
  fs::permissions(tmp.path("ro.txt"), fs::perms::owner_read);
  try {
    WriteFile f(tmp.u16("ro.txt"));
    FAIL() << "opened a read-only file for writing";
  } catch (const Failure& e) {
    EXPECT_EQ(numErr(e), static_cast<std::int16_t>(ErrorNumber::PermissionDenied));
  }
  fs::permissions(tmp.path("ro.txt"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(tmp.read("ro.txt"), "x");
}

#ifndef _WIN32

TEST(FileIo, FullDiskFailsTheWriteWithDiskFull) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  WriteFile f(u"/dev/full");
  try {
    f.write(std::string(100000, 'x'));
    FAIL() << "wrote to a full disk";
  } catch (const Failure& e) {
    EXPECT_EQ(numErr(e), static_cast<std::int16_t>(ErrorNumber::DiskFull));
    EXPECT_NE(textErr(e).find(u"/dev/full"), U16String::npos);
  }
}
#endif

TEST(FileIo, OutputEndsWhereTheWrittenBytesEnd) {
  TempDir tmp;
  tmp.write("out.txt", std::string(100, 'o'));
  {
    WriteFile f(tmp.u16("out.txt"));
    f.write("new");
    f.write(" text");
    f.close();
  }
  EXPECT_EQ(tmp.read("out.txt"), "new text");
}

TEST(FileIo, OutputDroppedWithoutCloseKeepsOnlyWhatWasWritten) {
  TempDir tmp;
  tmp.write("out.txt", std::string(100, 'o'));
  {
    WriteFile f(tmp.u16("out.txt"));
    f.write("partial");
  }  // an error path: no close()
  EXPECT_EQ(tmp.read("out.txt"), "partial");
}

TEST(FileIo, SameFileThroughOtherSpellings) {
  TempDir tmp;
  tmp.write("log.txt", "x");
  tmp.write("other.txt", "y");
  fs::create_directory(tmp.path("sub"));
  const U16String log = tmp.u16("log.txt");
  EXPECT_TRUE(sameFile(log, log));
  EXPECT_TRUE(sameFile(log, tmp.u16("sub/../log.txt")));
  EXPECT_TRUE(sameFile(log, tmp.u16("./log.txt")));
  EXPECT_FALSE(sameFile(log, tmp.u16("other.txt")));
  EXPECT_FALSE(sameFile(log, tmp.u16("new.txt")));  // one exists, one does not

  // A relative spelling, from the folder.
  const auto cwd = fs::current_path();
  fs::current_path(tmp.dir());
  const bool relative = sameFile(u"log.txt", log);
  const bool relativeNew = sameFile(u"new.txt", tmp.u16("sub/../new.txt"));
  fs::current_path(cwd);
  EXPECT_TRUE(relative);
  EXPECT_TRUE(relativeNew);  // neither exists: same name in the same folder
  EXPECT_FALSE(sameFile(tmp.u16("a.txt"), tmp.u16("b.txt")));
}

#ifndef _WIN32
TEST(FileIo, SameFileThroughLinks) {
  TempDir tmp;
  tmp.write("log.txt", "x");
  fs::create_hard_link(tmp.path("log.txt"), tmp.path("hard.txt"));
  fs::create_symlink(tmp.path("log.txt"), tmp.path("soft.txt"));
  EXPECT_TRUE(sameFile(tmp.u16("log.txt"), tmp.u16("hard.txt")));
  EXPECT_TRUE(sameFile(tmp.u16("soft.txt"), tmp.u16("log.txt")));
}
#else
TEST(FileIo, SameFileIgnoresLetterCaseOnWindows) {
  TempDir tmp;
  tmp.write("log.txt", "x");
  EXPECT_TRUE(sameFile(tmp.u16("log.txt"), tmp.u16("LOG.TXT")));
  EXPECT_TRUE(sameFile(tmp.u16("new.txt"), tmp.u16("NEW.txt")));
}
#endif

TEST(FileIo, ReadsPastFourGigabytesInASparseFile) {
  TempDir tmp;
  const std::int64_t size = (std::int64_t{1} << 32) + 100;
  {
    std::ofstream out(tmp.path("big.txt"), std::ios::binary);
  }
  std::error_code ec;
  fs::resize_file(tmp.path("big.txt"), static_cast<std::uintmax_t>(size), ec);
  if (ec) GTEST_SKIP() << "no sparse file of " << size << " bytes here: " << ec.message();
  {
    std::fstream io(tmp.path("big.txt"), std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(size - 4);
    io.write("tail", 4);
  }
  ReadFile f(tmp.u16("big.txt"));
  EXPECT_EQ(f.size(), size);
  EXPECT_EQ(readAll(f, size - 3, 10), "tail");
  EXPECT_EQ(readAll(f, (std::int64_t{1} << 31) + 1, 4), std::string(4, '\0'));
}

}  // namespace
}  // namespace velmora
