// For the installer's check: waits until a top-level window of the given class and caption
// appears, then asks it to close as its close box would. Exit status 0 when it appeared.
// With ROWS, the window's list must also come to hold that many rows before it is closed (files
// given on the program's command line are listed).
//   tavrin_wait_window.exe CLASS CAPTION SECONDS [ROWS]
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cwchar>

namespace {

// The first list view among the window's descendants (it lies on a page of the tab control).
HWND FindListView(HWND window) {
  HWND found = nullptr;
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM result) -> BOOL {
        wchar_t name[64] = {};
        ::GetClassNameW(child, name, 64);
        if (std::wcscmp(name, WC_LISTVIEWW) != 0) return TRUE;
        *reinterpret_cast<HWND*>(result) = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) return 2;
  const long seconds = std::wcstol(argv[3], nullptr, 10);
  const long rows = argc == 5 ? std::wcstol(argv[4], nullptr, 10) : -1;
  for (long waited = 0; waited <= seconds * 10; ++waited) {
    if (HWND window = ::FindWindowW(argv[1], argv[2])) {
      HWND list = FindListView(window);
      const bool listed =
          rows < 0 || (list != nullptr && ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows);
      if (listed) return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    ::Sleep(100);
  }
  return 1;
}
