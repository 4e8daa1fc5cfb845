#include "box_catcher.h"

#include <cwchar>

namespace velmora::loadcheck {
namespace {

thread_local BoxCatcher* current_catcher = nullptr;

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool Visible(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

BOOL CALLBACK ViewChild(HWND child, LPARAM param) {
  auto& view = *reinterpret_cast<BoxView*>(param);
  if (!Visible(child)) return TRUE;  // buttons a box does not use may stay hidden
  const std::wstring cls = ClassOf(child);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  if (_wcsicmp(cls.c_str(), L"Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (view.icon_controls++ == 0)
        view.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    } else if (GetWindowTextLengthW(child) > 0) {
      view.texts.push_back(TextOf(child));
    }
  } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    const LONG kind = style & BS_TYPEMASK;
    if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) view.buttons.push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

void Close(HWND box, CloseBy how) {
  // Posted, not sent: the box reads them in its own modal loop, as it would
  // read the user's input.
  switch (how) {
    case CloseBy::OkButton:
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
      break;
    case CloseBy::EscapeKey:  // what the dialog manager makes of Esc
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      break;
    case CloseBy::CloseCommand:  // the title bar's close button
      PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

struct ThreadDialogs {
  int closed = 0;
  std::vector<HWND> seen;
};

BOOL CALLBACK CloseThreadDialog(HWND window, LPARAM param) {
  auto& dialogs = *reinterpret_cast<ThreadDialogs*>(param);
  if (!IsDialog(window)) return TRUE;
  for (HWND seen : dialogs.seen)
    if (seen == window) return TRUE;
  dialogs.seen.push_back(window);
  ++dialogs.closed;
  Close(window, CloseBy::OkButton);
  return TRUE;
}

}  // namespace

bool IsDialog(HWND window) { return ClassOf(window) == L"#32770"; }

BoxCatcher::BoxCatcher(CloseBy how) : how_(how) {
  if (current_catcher != nullptr) return;
  hook_ = SetWindowsHookExW(WH_CBT, &BoxCatcher::Hook, nullptr, GetCurrentThreadId());
  if (hook_ != nullptr) current_catcher = this;
}

BoxCatcher::~BoxCatcher() {
  if (hook_ == nullptr) return;
  UnhookWindowsHookEx(hook_);
  current_catcher = nullptr;
}

LRESULT CALLBACK BoxCatcher::Hook(int code, WPARAM wparam, LPARAM lparam) {
  if (BoxCatcher* self = current_catcher) {
    auto window = reinterpret_cast<HWND>(wparam);
    if (code == HCBT_CREATEWND)
      self->Created(window, *reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs);
    else if (code == HCBT_ACTIVATE)
      self->Activated(window);
    return CallNextHookEx(self->hook_, code, wparam, lparam);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void BoxCatcher::Created(HWND window, const CREATESTRUCTW& create) {
  if ((create.style & WS_CHILD) == 0 && IsDialog(window)) ++created_;
}

void BoxCatcher::Activated(HWND window) {
  // Activation comes once the dialog has built and filled its controls.
  if (!IsDialog(window)) return;
  for (const BoxView& seen : boxes_)
    if (seen.window == window) return;
  BoxView view;
  view.window = window;
  view.owner = GetWindow(window, GW_OWNER);
  view.caption = TextOf(window);
  EnumChildWindows(window, &ViewChild, reinterpret_cast<LPARAM>(&view));
  boxes_.push_back(std::move(view));
  Close(window, how_);
}

int CloseDialogsUntilExit(HANDLE thread, DWORD thread_id) {
  ThreadDialogs dialogs;
  // Polls: a thread blocked in a box never ends by itself, and its windows
  // cannot be hooked from here. The pause only paces the polling.
  while (WaitForSingleObject(thread, 20) == WAIT_TIMEOUT)
    EnumThreadWindows(thread_id, &CloseThreadDialog, reinterpret_cast<LPARAM>(&dialogs));
  return dialogs.closed;
}

}  // namespace velmora::loadcheck
