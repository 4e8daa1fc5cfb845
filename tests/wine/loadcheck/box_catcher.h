// Catches the dialog windows that code running on this thread puts up,
// records what each showed when it became active, and closes it, so that a
// test can load a library that shows a modal box without anyone at the
// screen.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::loadcheck {

// What a dialog showed when it became active. Only visible controls count.
struct BoxView {
  HWND window = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::vector<std::wstring> texts;  // text controls, in window order
  std::vector<int> buttons;         // push button ids, in window order
  int icon_controls = 0;
  HICON icon = nullptr;             // of the first icon control
};

// How a caught box is closed: each is a way a user can close it.
enum class CloseBy { OkButton, EscapeKey, CloseCommand };

// Watches the thread that constructs it, through a CBT hook, until it is
// destroyed. One at a time per thread.
class BoxCatcher {
 public:
  explicit BoxCatcher(CloseBy how = CloseBy::OkButton);
  ~BoxCatcher();
  BoxCatcher(const BoxCatcher&) = delete;
  BoxCatcher& operator=(const BoxCatcher&) = delete;

  bool installed() const { return hook_ != nullptr; }
  // Top-level dialogs created on this thread so far.
  int created() const { return created_; }
  // Dialogs that became active, in order; each was closed at once.
  const std::vector<BoxView>& boxes() const { return boxes_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam);
  void Created(HWND window, const CREATESTRUCTW& create);
  void Activated(HWND window);

  HHOOK hook_ = nullptr;
  CloseBy how_;
  int created_ = 0;
  std::vector<BoxView> boxes_;
};

// Dialogs of another thread: until `thread` ends, closes and counts every
// top-level dialog it shows. Returns the count.
int CloseDialogsUntilExit(HANDLE thread, DWORD thread_id);

// Whether `window` is a dialog, by its window class.
bool IsDialog(HWND window);

}  // namespace velmora::loadcheck
