// The tables of test.dll as loaded: it exports nothing and needs nothing but
// the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "box_catcher.h"
#include "module_image.h"

namespace velmora::loadcheck {
namespace {

// Libraries every Windows installation has.
constexpr std::array<std::string_view, 4> kSystemLibraries = {"kernel32.dll", "user32.dll", "msvcrt.dll",
                                                             "ntdll.dll"};

class Image : public ::testing::Test {
 protected:
  void SetUp() override {
    BoxCatcher catcher;  // the load message
    module_ = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(module_, nullptr) << "LoadLibraryW failed, error " << GetLastError();
  }
  void TearDown() override {
    BoxCatcher catcher;  // in case it speaks on the way out too
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

TEST_F(Image, HasNoExportTable) {
  const ModuleTables tables = ReadModuleTables(module_);
  EXPECT_FALSE(tables.has_export_directory)
      << tables.exported_functions << " functions, " << tables.exported_names << " names";
}

TEST_F(Image, ImportsSystemLibrariesOnly) {
  const ModuleTables tables = ReadModuleTables(module_);
  EXPECT_FALSE(tables.has_delay_imports);
  ASSERT_FALSE(tables.imports.empty());
  for (const std::string& name : tables.imports)
    EXPECT_NE(std::find(kSystemLibraries.begin(), kSystemLibraries.end(), name), kSystemLibraries.end())
        << "imports " << name;
  // The box comes from user32, bound at load time.
  EXPECT_NE(std::find(tables.imports.begin(), tables.imports.end(), "user32.dll"), tables.imports.end());
}

}  // namespace
}  // namespace velmora::loadcheck
