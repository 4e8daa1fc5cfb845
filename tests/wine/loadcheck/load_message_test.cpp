// The load message of test.dll, as a user sees it. Runs on a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "box_catcher.h"
#include "module_image.h"

namespace velmora::loadcheck {
namespace {

// Written out readably here; the library spells it with escapes.
const std::wstring kText = L"Загрузка test.dll прошла успешно";
const std::wstring kCaption = L"Test";

class LoadMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetModuleHandleW(path_.c_str()), nullptr) << "a test left the library loaded";
  }
  void TearDown() override {
    // Whatever a failed test left loaded, unload it, under a catcher in case
    // the library speaks on the way out.
    BoxCatcher catcher;
    while (HMODULE m = GetModuleHandleW(path_.c_str())) FreeLibrary(m);
  }

  const std::wstring path_ = LibraryPath();
};

TEST_F(LoadMessage, LoadShowsOneBoxAndSucceedsOnceItIsClosed) {
  BoxCatcher catcher;
  ASSERT_TRUE(catcher.installed());
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr) << "LoadLibraryW failed, error " << GetLastError();
  EXPECT_EQ(catcher.created(), 1);
  ASSERT_EQ(catcher.boxes().size(), 1u);
  // Shown on the loading thread and gone before the load returned: the
  // loading thread waited for it.
  EXPECT_FALSE(IsWindow(catcher.boxes()[0].window));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(LoadMessage, BoxCarriesTheMessageAndCaptionExactly) {
  BoxCatcher catcher;
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(catcher.boxes().size(), 1u);
  const BoxView& box = catcher.boxes()[0];
  EXPECT_EQ(box.caption, kCaption);
  EXPECT_EQ(box.texts, std::vector<std::wstring>{kText});
  FreeLibrary(module);
}

TEST_F(LoadMessage, BoxIsOwnerlessWithOnlyOkAndTheInformationIcon) {
  BoxCatcher catcher;
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(catcher.boxes().size(), 1u);
  const BoxView& box = catcher.boxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(box.icon_controls, 1);
  // System icons are shared, so the box shows the very handle of the
  // information icon, and a different icon a different handle.
  EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_INFORMATION));
  EXPECT_NE(box.icon, LoadIconW(nullptr, IDI_WARNING));
  FreeLibrary(module);
}

class LoadMessageClosed : public LoadMessage, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(LoadMessageClosed, LoadSucceedsWhicheverWayTheBoxIsClosed) {
  BoxCatcher catcher(GetParam());
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr) << "LoadLibraryW failed, error " << GetLastError();
  EXPECT_EQ(catcher.boxes().size(), 1u);
  EXPECT_TRUE(FreeLibrary(module));
}

INSTANTIATE_TEST_SUITE_P(Ways, LoadMessageClosed,
                         ::testing::Values(CloseBy::OkButton, CloseBy::EscapeKey, CloseBy::CloseCommand),
                         [](const ::testing::TestParamInfo<CloseBy>& info) -> std::string {
                           switch (info.param) {
                             case CloseBy::OkButton: return "OkButton";
                             case CloseBy::EscapeKey: return "EscapeKey";
                             case CloseBy::CloseCommand: return "CloseCommand";
                           }
                           return "Unknown";
                         });

TEST_F(LoadMessage, LoadingAgainWhileLoadedShowsNothing) {
  BoxCatcher catcher;
  HMODULE first = LoadLibraryW(path_.c_str());
  ASSERT_NE(first, nullptr);
  HMODULE second = LoadLibraryW(path_.c_str());
  EXPECT_EQ(second, first);
  EXPECT_EQ(catcher.created(), 1);
  EXPECT_EQ(catcher.boxes().size(), 1u);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_TRUE(FreeLibrary(first));
}

TEST_F(LoadMessage, UnloadingShowsNothing) {
  BoxCatcher catcher;
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(catcher.created(), 1);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleW(path_.c_str()), nullptr) << "still loaded";
  EXPECT_EQ(catcher.created(), 1);
  EXPECT_EQ(catcher.boxes().size(), 1u);
}

TEST_F(LoadMessage, EveryFreshLoadShowsItAgain) {
  BoxCatcher catcher;
  for (int load = 1; load <= 2; ++load) {
    HMODULE module = LoadLibraryW(path_.c_str());
    ASSERT_NE(module, nullptr) << "load " << load;
    EXPECT_EQ(catcher.boxes().size(), static_cast<size_t>(load));
    ASSERT_TRUE(FreeLibrary(module));
  }
  ASSERT_EQ(catcher.boxes().size(), 2u);
  EXPECT_EQ(catcher.boxes()[1].texts, std::vector<std::wstring>{kText});
}

DWORD WINAPI DoNothing(void*) { return 7; }

TEST_F(LoadMessage, ThreadsStartingAndEndingShowNothing) {
  BoxCatcher catcher;
  HMODULE module = LoadLibraryW(path_.c_str());
  ASSERT_NE(module, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &DoNothing, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  // A box on the new thread's start or end would hold it: close and count.
  EXPECT_EQ(CloseDialogsUntilExit(thread, id), 0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
  EXPECT_EQ(catcher.boxes().size(), 1u);
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
}  // namespace velmora::loadcheck
