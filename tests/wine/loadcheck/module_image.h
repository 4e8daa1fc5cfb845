// Reads the export and import tables of a module as the loader mapped it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::loadcheck {

struct ModuleTables {
  bool has_export_directory = false;
  DWORD exported_names = 0;
  DWORD exported_functions = 0;
  // Libraries named by the import table, in lower case.
  std::vector<std::string> imports;
  bool has_delay_imports = false;
};

ModuleTables ReadModuleTables(HMODULE module);

// Full path of the library under test: test.dll beside this program.
std::wstring LibraryPath();

}  // namespace velmora::loadcheck
