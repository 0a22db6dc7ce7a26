#include "Win32DesktopServices.h"

#include <algorithm>
#include <string_view>

#include "ScrollingBox.h"
#include "WinApi.h"
#include "platform/windows/WideText.h"

namespace tavrin {

namespace {

HWND Owner(WindowHandle owner) {
  return static_cast<HWND>(owner);
}

// What a system box answers when it was closed before showing because it would not fit.
constexpr int kBoxTooLarge = 0x7A11;

// The system's box, checked once it has laid itself out and before it shows: one larger than
// the working area of its screen is closed at once, its text to show in a scrolling box.
thread_local HHOOK boxHook = nullptr;
thread_local bool boxChecked = false;

LRESULT CALLBACK CloseBoxTooLarge(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && !boxChecked && call->message == WM_INITDIALOG) {
    boxChecked = true;
    RECT frame;
    ::GetWindowRect(call->hwnd, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(call->hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    if (frame.right - frame.left > work.right - work.left ||
        frame.bottom - frame.top > work.bottom - work.top) {
      // Out of sight too: some systems still show a box ended while it was being made.
      ::SetWindowPos(call->hwnd, nullptr, -32000, -32000, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
      ::EndDialog(call->hwnd, kBoxTooLarge);
    }
  }
  return ::CallNextHookEx(boxHook, code, wParam, lParam);
}

}  // namespace

std::wstring WideForDisplay(std::string_view utf8) {
  std::wstring wide;
  if (!WideFromUtf8(utf8, wide)) {
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(units > 0 ? units : 0));
    if (units > 0) {
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            units);
    }
  }
  return wide;
}

std::wstring BoxText(std::string_view utf8) {
  std::wstring text = WideForDisplay(utf8);
  if (text.size() > Win32DesktopServices::kMaxBoxText) {
    std::size_t cut = Win32DesktopServices::kMaxBoxText;
    if (IS_HIGH_SURROGATE(text[cut - 1])) --cut;
    text.resize(cut);
    text += L"\x2026";
  }
  return text;
}

int Win32DesktopServices::MessageBox(WindowHandle owner, std::string_view text,
                                     std::string_view caption, unsigned flags) {
  // Without an owner the box is modal for the whole application: the task-modal flag disables
  // every window of this thread while it shows.
  UINT type = flags;
  if (owner == nullptr) type |= MB_TASKMODAL;
  const std::wstring shown = BoxText(text), title = WideForDisplay(caption);
  boxChecked = false;
  boxHook =
      ::SetWindowsHookExW(WH_CALLWNDPROCRET, &CloseBoxTooLarge, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxW(Owner(owner), shown.c_str(), title.c_str(), type);
  if (boxHook != nullptr) ::UnhookWindowsHookEx(boxHook);
  boxHook = nullptr;
  if (answer != kBoxTooLarge) return answer;
  return ShowScrollingBox(Owner(owner), shown, title, type);
}

std::uint32_t Win32DesktopServices::GetFileAttributes(const std::string& path) {
  std::wstring wide;
  if (path.find('\0') != std::string::npos || !WideFromUtf8(path, wide) || !NamesItself(wide)) {
    return kInvalidFileAttributes;
  }
  // Only a regular file may be listed: devices and reparse points that are folders count as
  // folders. A device name is known by the name alone, before the look at its attributes, which
  // may open the device.
  if (IsDeviceName(wide)) return kFileAttributeDirectory;
  const DWORD attributes = ::GetFileAttributesW(SystemName(wide).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidFileAttributes;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    return attributes | kFileAttributeDirectory;
  }
  return attributes;
}

void Win32DesktopServices::MoveToTrash(WindowHandle owner, std::string_view pathList) {
  // Each path converted on its own, each followed by one NUL, the list by one more.
  std::wstring list;
  std::size_t at = 0;
  while (at < pathList.size()) {
    const std::size_t end = std::min(pathList.find('\0', at), pathList.size());
    if (end > at) {
      std::wstring path;
      // A path that is not UTF-8 names no file; it is not handed on to name some other one.
      if (WideFromUtf8(pathList.substr(at, end - at), path)) {
        list += path;
        list.push_back(L'\0');
      }
    }
    at = end + 1;
  }
  if (list.empty()) return;
  list.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.hwnd = Owner(owner);
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  operation.fFlags = FOF_ALLOWUNDO;
  operation.fAnyOperationsAborted = TRUE;
  ::SHFileOperationW(&operation);
}

std::string Win32DesktopServices::BrowseForFolder(WindowHandle owner, std::string_view prompt) {
  const std::wstring title = WideForDisplay(prompt);
  BROWSEINFOW browse{};
  browse.hwndOwner = Owner(owner);
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
  if (chosen == nullptr) return {};
  wchar_t path[MAX_PATH + 1] = {};
  const bool converted = ::SHGetPathFromIDListW(chosen, path) != FALSE;
  ::CoTaskMemFree(chosen);
  return converted ? Utf8FromWide(path) : std::string();
}

void Win32DesktopServices::OpenSearchWindow(WindowHandle owner, const std::string& folder) {
  std::wstring wide;
  if (!WideFromUtf8(folder, wide)) return;
  ::ShellExecuteW(Owner(owner), L"find", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tavrin
