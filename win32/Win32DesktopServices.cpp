#include "Win32DesktopServices.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

#include "WinApi.h"
#include "platform/windows/WideText.h"

namespace tavrin {

namespace {

HWND Owner(WindowHandle owner) {
  return static_cast<HWND>(owner);
}

// The id the system's box gives the control that shows its text.
constexpr int kBoxTextId = 0xFFFF;

// Lines ending in CR LF, as a multi-line edit control breaks them.
std::wstring WithEditLineBreaks(const std::wstring& text) {
  std::wstring lines;
  lines.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' || text[i] == L'\n') {
      lines += L"\r\n";
      if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      lines += text[i];
    }
  }
  return lines;
}

// The system lays its box out to the text's size, past the screen's edges when the text is longer
// than the screen holds (and its sizes then past what a window can measure). Such a box is laid
// out again to fit the working area of its monitor: its text moves into a read-only edit control,
// which breaks overlong words and scrolls, with the buttons centred beneath it.
void FitBoxToScreen(HWND box) {
  HWND text = ::GetDlgItem(box, kBoxTextId);
  if (text == nullptr) return;
  MONITORINFO monitor{sizeof monitor, {}, {}, 0};
  ::GetMonitorInfoW(::MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT work = monitor.rcWork;
  RECT frame, client, shown;
  ::GetWindowRect(box, &frame);
  ::GetClientRect(box, &client);
  const int workWidth = work.right - work.left, workHeight = work.bottom - work.top;
  if (frame.right - frame.left <= workWidth && frame.bottom - frame.top <= workHeight) return;
  const int frameWidth = (frame.right - frame.left) - client.right;
  const int frameHeight = (frame.bottom - frame.top) - client.bottom;
  ::GetWindowRect(text, &shown);
  ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&shown), 2);
  const int left = shown.left, top = shown.top, shownWidth = shown.right - shown.left;
  const int margin = std::max(top, 8);

  // The buttons' row, as the system made it.
  std::vector<HWND> buttons;
  RECT row{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&rect), 2);
    if (std::wstring_view(name) != L"Button") {
      // The icon beside the text, placed for the text's height: back at its top.
      if (child != text) {
        ::SetWindowPos(child, nullptr, rect.left, top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      continue;
    }
    row = {std::min(row.left, rect.left), std::min(row.top, rect.top),
           std::max(row.right, rect.right), std::max(row.bottom, rect.bottom)};
    buttons.push_back(child);
  }
  if (buttons.empty()) return;
  const int rowWidth = row.right - row.left, rowHeight = row.bottom - row.top;

  const int bar = ::GetSystemMetrics(SM_CXVSCROLL);
  // A word wider than the screen is broken at half its width, as lines of a readable length.
  const int most = workWidth - frameWidth - left - margin;
  const int width = std::max(shownWidth + bar <= most ? shownWidth + bar : most / 2, 4 * bar);
  // The lines the text takes at that width, broken as the edit control breaks them.
  const int length = ::GetWindowTextLengthW(text);
  std::wstring whole(static_cast<std::size_t>(length) + 1, L'\0');
  whole.resize(static_cast<std::size_t>(::GetWindowTextW(text, whole.data(), length + 1)));
  const std::wstring lines = WithEditLineBreaks(whole);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0));
  HDC dc = ::GetDC(box);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT need{0, 0, width - bar, 0};
  ::DrawTextW(dc, lines.c_str(), static_cast<int>(lines.size()), &need,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
  ::SelectObject(dc, old);
  ::ReleaseDC(box, dc);
  const int height = std::max(std::min(static_cast<int>(need.bottom) + 4,
                                       workHeight - frameHeight - top - 2 * margin - rowHeight),
                              2 * bar);

  HWND edit = ::CreateWindowExW(
      0, L"EDIT", lines.c_str(), WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
      left, top, width, height, box, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (edit == nullptr) return;
  ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::ShowWindow(text, SW_HIDE);

  const int clientWidth = std::max(left + width + margin, rowWidth + 2 * margin);
  const int rowTop = top + height + margin;
  for (HWND button : buttons) {
    RECT rect;
    ::GetWindowRect(button, &rect);
    ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&rect), 2);
    ::SetWindowPos(button, nullptr, (clientWidth - rowWidth) / 2 + (rect.left - row.left),
                   rowTop + (rect.top - row.top), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const int boxWidth = frameWidth + clientWidth;
  const int boxHeight = frameHeight + rowTop + rowHeight + margin;
  ::SetWindowPos(box, nullptr, work.left + (workWidth - boxWidth) / 2,
                 work.top + (workHeight - boxHeight) / 2, boxWidth, boxHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The box this thread is about to show, fitted once the system has laid it out for its text: when
// its dialog is initialised (some systems activate it before).
HHOOK boxHook = nullptr;
WNDPROC boxProcedure = nullptr;

LRESULT CALLBACK FitBoxOnceInitialised(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC procedure = boxProcedure;
  const LRESULT result = ::CallWindowProcW(procedure, box, message, wParam, lParam);
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    FitBoxToScreen(box);
  }
  return result;
}

LRESULT CALLBACK WatchForTheBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && boxProcedure == nullptr) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = {};
    ::GetClassNameW(box, name, 16);
    if (std::wstring_view(name) == L"#32770") {
      boxProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
          box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FitBoxOnceInitialised)));
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
  const HHOOK outerHook = boxHook;
  const WNDPROC outerProcedure = boxProcedure;
  boxProcedure = nullptr;
  boxHook = ::SetWindowsHookExW(WH_CBT, WatchForTheBox, nullptr, ::GetCurrentThreadId());
  const int pressed =
      ::MessageBoxW(Owner(owner), BoxText(text).c_str(), WideForDisplay(caption).c_str(), type);
  if (boxHook != nullptr) ::UnhookWindowsHookEx(boxHook);
  boxHook = outerHook;
  boxProcedure = outerProcedure;
  return pressed;
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
