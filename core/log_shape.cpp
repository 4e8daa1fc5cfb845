#include "core/log_shape.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "core/fileio.h"
#include "core/lines.h"
#include "core/text_stream.h"

namespace velmora {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 16;

struct Magic {
  std::string_view bytes;
  const char* name;
};
// No record can begin with one of these: a record begins with a digit.
constexpr std::array<Magic, 6> kMagics{{
    {std::string_view("\x1f\x8b", 2), "gzip"},
    {std::string_view("\x28\xb5\x2f\xfd", 4), "zstd"},
    {std::string_view("BZh", 3), "bzip2"},
    {std::string_view("\xfd" "7zXZ\0", 6), "xz"},
    {std::string_view("PK\x03\x04", 4), "zip"},
    {std::string_view("PK\x05\x06", 4), "zip"},
}};

}  // namespace

std::string readableFormats() {
  std::string out;
  const DecoderSet* set = decoderSet();
  for (const char* name : {"gzip", "zstd", "bzip2", "xz"}) {
    if (set == nullptr || !set->supports(name)) continue;
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out.empty() ? "no compressed log" : out;
}

const char* compressionOf(std::string_view head) {
  for (const Magic& m : kMagics) {
    if (head.substr(0, m.bytes.size()) == m.bytes) return m.name;
  }
  return nullptr;
}

LogShapeCheck checkLogShape(U16View path) {
  LogShapeCheck out;
  std::error_code ec;
  const auto status = std::filesystem::status(std::filesystem::path(std::u16string(path)), ec);
  if (!std::filesystem::exists(status)) {
    out.shape = LogShape::Missing;
    return out;
  }
  if (std::filesystem::is_directory(status)) {
    out.shape = LogShape::Folder;
    return out;
  }
  if (!std::filesystem::is_regular_file(status)) {
    out.shape = LogShape::NotAFile;
    return out;
  }
  try {
    ReadFile file(path);
    // A compressed log whose format this build decodes is checked as its
    // text; any other compressed file is refused by its magic number.
    out.compression = file.compression();
    const bool streamed = file.streamed();
    out.size = file.size();
    if (out.size == 0) return out;
    std::string block(kBlock, '\0');
    bool onlyNul = true;
    char last = 0;
    std::int64_t seen = 0;
    for (std::int64_t at = 1; at <= out.size;) {
      const std::size_t got = file.readAt(at, block.data(), block.size());
      if (got == 0) break;
      if (at == 1 && !streamed) {
        if ((out.compression = compressionOf(std::string_view(block.data(), got))) != nullptr) {
          out.shape = LogShape::Compressed;
          return out;
        }
      }
      // A CR at the end of one block may pair with an LF at the next's start.
      if (last == '\r' && block[0] == '\n') return out;
      if (lines::findLineEnd(block.data(), block.data() + got) != nullptr) return out;
      onlyNul = onlyNul && std::all_of(block.data(), block.data() + got, [](char c) { return c == '\0'; });
      last = block[got - 1];
      at += static_cast<std::int64_t>(got);
      seen += static_cast<std::int64_t>(got);
    }
    if (streamed) {
      out.size = seen;
      if (seen == 0) return out;  // an empty text, as an empty log
    }
    out.shape = onlyNul ? LogShape::OnlyNul : LogShape::NoLineEnd;
  } catch (const std::exception& e) {
    out.shape = LogShape::Unreadable;
    out.detail = e.what();
  }
  return out;
}

std::string describeLogShape(const LogShapeCheck& c, const std::string& shown) {
  const std::string log = "the log \"" + shown + "\"";
  switch (c.shape) {
    case LogShape::Fine:
      return {};
    case LogShape::Missing:
      return log + " does not exist";
    case LogShape::Folder:
      return log + " is a folder (the log must be a file)";
    case LogShape::NotAFile:
      return log + " is not a regular file (a pipe or a device is not read: the log must be a file)";
    case LogShape::Compressed:
      if (std::string_view(c.compression) == "zip")
        return log + " is a zip archive; unpack it first (a zip archive is not read as a log)";
      return log + " is " + c.compression + "-compressed, a format this build does not read (it reads " +
             readableFormats() + "); decompress it first";
    case LogShape::OnlyNul:
      return log + " holds only NUL bytes (" + std::to_string(c.size) + " of them), so no record";
    case LogShape::NoLineEnd:
      return log + " holds no CR LF line end in its " + std::to_string(c.size) +
             " bytes, so no record: each record of the log ends with CR LF (a file with LF line ends only, or one "
             "that is not a log, is not read)";
    case LogShape::Unreadable:
      return log + " cannot be read: " + c.detail;
  }
  return {};
}

}  // namespace velmora
