// test.dll where no box can be shown: the load must succeed all the same.
#include <gtest/gtest.h>

#include "box_catcher.h"
#include "module_image.h"

namespace velmora::loadcheck {
namespace {

TEST(Headless, LoadSucceedsWithoutADisplay) {
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0)
    GTEST_SKIP() << "a display is present; run this without DISPLAY";
  // Should the box appear after all, close it rather than wait for a user.
  BoxCatcher catcher;
  const std::wstring path = LibraryPath();
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr) << "LoadLibraryW failed, error " << GetLastError();
  EXPECT_LE(catcher.boxes().size(), 1u);
  RecordProperty("boxes_shown", static_cast<int>(catcher.boxes().size()));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
}

}  // namespace
}  // namespace velmora::loadcheck
