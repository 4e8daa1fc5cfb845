#include "core/file_identity.h"

#include "core/fileio.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmora {
namespace {

#ifdef _WIN32

std::optional<FileIdentity> identityOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return std::nullopt;
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.number = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  id.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                          info.ftLastWriteTime.dwLowDateTime);
  id.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileType(h) == FILE_TYPE_DISK;
  return id;
}

#else

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.number = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::int64_t>(st.st_size);
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.regular = S_ISREG(st.st_mode);
  return id;
}

#endif

}  // namespace

std::optional<FileIdentity> fileIdentity(U16View path) {
  if (path.empty()) return std::nullopt;
#ifdef _WIN32
  // Opened for no access at all, with the semantics that also open a folder.
  const std::wstring wide(path.begin(), path.end());
  const UniqueHandle h(CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return std::nullopt;
  return identityOf(h.get());
#else
  struct stat st {};
  if (::stat(toUtf8(path).c_str(), &st) != 0) return std::nullopt;
  return identityOf(st);
#endif
}

std::optional<FileIdentity> fileIdentity(const UniqueFile& file) {
#ifdef _WIN32
  return identityOf(file.get());
#else
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return std::nullopt;
  return identityOf(st);
#endif
}

std::optional<FileIdentity> stdoutIdentity() {
#ifdef _WIN32
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE || out == nullptr) return std::nullopt;
  std::optional<FileIdentity> id = identityOf(out);
#else
  struct stat st {};
  std::optional<FileIdentity> id;
  if (::fstat(1, &st) == 0) id = identityOf(st);
#endif
  if (id && !id->regular) id.reset();
  return id;
}

}  // namespace velmora
