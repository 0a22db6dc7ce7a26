// What the user gives the main window beyond its controls' own handling: menu and toolbar
// commands, dropped files, and the keys taken before the focused control sees them.
#include <string>
#include <vector>

#include "Main.h"
#include "MenuRow.h"
#include "Pages.h"
#include "platform/windows/WideText.h"

namespace tavrin {

void TFMain::OnCommand(int id) {
  switch (id) {
    case kIdFileRun:
      Forward(&WindowBehaviour::tmiFileRunClick);
      break;
    case kIdFileFindFile:
      Forward(&WindowBehaviour::tmiFileFindFileClick);
      break;
    case kIdFileClose:
      Forward(&WindowBehaviour::tmiFileCloseClick);
      break;
    case kIdEditListClear:
      Forward(&WindowBehaviour::tmiEditListClearClick);
      break;
    case kIdEditListAllClear:
      Forward(&WindowBehaviour::tmiEditListAllClearClick);
      break;
    case kIdEditListIsRecycled:
      Forward(&WindowBehaviour::tmiEditListIsRecycledClick);
      break;
    case kIdEditCEntity:
      Forward(&WindowBehaviour::tmiEditCEntityClick);
      break;
    case kIdHelpVersion:
      Forward(&WindowBehaviour::tmiHelpVersionClick);
      break;
    default:
      break;
  }
}

void TFMain::OnDropFiles(HDROP drop) {
  // The names are taken now, whole (no length limit), and the handle released; a drop that
  // arrives while a run paints is handled after the run.
  std::vector<std::string> paths;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    const UINT got = ::DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(got);
    paths.push_back(Utf8FromWide(path));
  }
  ::DragFinish(drop);
  behaviour_.Handle([this, paths = std::move(paths)] { behaviour_.DropFiles(paths); });
}

bool TFMain::PreTranslateMessage(const MSG& message) {
  if (hwnd_ == nullptr || (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) return false;
  if (message.message == WM_SYSKEYDOWN && (HIWORD(message.lParam) & KF_ALTDOWN) &&
      message.wParam >= 'A' && message.wParam <= 'Z') {
    const int button = menuRow_->ButtonOfKey(static_cast<wchar_t>(message.wParam));
    if (button != 0) OpenMenu(button, true);
    return button != 0;
  }
  if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) return false;
  const bool control = ::GetKeyState(VK_CONTROL) < 0;
  if (control) {
    // Ctrl+Tab and Ctrl+Shift+Tab: the other page, as a click on its tab would.
    const bool focusWasInPage =
        IsInside(::GetFocus(), TabCtrl_GetCurSel(tpcMain) == 1 ? ttsView : ttsMain);
    TabCtrl_SetCurSel(tpcMain, TabCtrl_GetCurSel(tpcMain) == 1 ? 0 : 1);
    OnPageChanged(focusWasInPage);
    return true;
  }
  // Tab and Shift+Tab between the tab strip and the page's first control.
  HWND first = TabCtrl_GetCurSel(tpcMain) == 1 ? tmeView : lvwResult;
  ::SetFocus(::GetFocus() == tpcMain ? first : tpcMain);
  return true;
}
}  // namespace tavrin
