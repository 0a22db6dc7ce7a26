// For the installer's check: waits until a top-level window of the given class and caption
// appears, then asks it to close as its close box would. Exit status 0 when it appeared.
//   tavrin_wait_window.exe CLASS CAPTION SECONDS
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const long seconds = std::wcstol(argv[3], nullptr, 10);
  for (long waited = 0; waited <= seconds * 10; ++waited) {
    if (HWND window = ::FindWindowW(argv[1], argv[2])) {
      return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    ::Sleep(100);
  }
  return 1;
}
