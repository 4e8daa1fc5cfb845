#include "module_image.h"

#include <cctype>

namespace velmora::loadcheck {
namespace {

std::string Lower(const char* name) {
  std::string s(name);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

ModuleTables ReadModuleTables(HMODULE module) {
  // A mapped image: relative addresses are offsets from its base.
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* dirs = nt->OptionalHeader.DataDirectory;
  ModuleTables tables;

  const IMAGE_DATA_DIRECTORY& exports = dirs[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exports.VirtualAddress != 0 || exports.Size != 0) {
    tables.has_export_directory = true;
    if (exports.VirtualAddress != 0) {
      const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
      tables.exported_names = dir->NumberOfNames;
      tables.exported_functions = dir->NumberOfFunctions;
    }
  }

  const IMAGE_DATA_DIRECTORY& imports = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress != 0) {
    for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name != 0; ++d)
      tables.imports.push_back(Lower(reinterpret_cast<const char*>(base + d->Name)));
  }
  const IMAGE_DATA_DIRECTORY& delayed = dirs[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  tables.has_delay_imports = delayed.VirtualAddress != 0 || delayed.Size != 0;
  return tables;
}

std::wstring LibraryPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + L"test.dll";
}

}  // namespace velmora::loadcheck
