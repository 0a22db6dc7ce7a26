// The Windows headers the face uses. windows.h defines MessageBox and GetFileAttributes as
// macros for their A and W forms; here they are the names of DesktopServices' methods, and
// every call of the system's functions names the W form itself.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#undef MessageBox
#undef GetFileAttributes

// Registers a window class of this program: the arrow cursor, a background of the system colour
// `colour` (a COLOR_ index).
inline bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                                int colour, UINT style = 0) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = style;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(colour + 1));
  windowClass.lpszClassName = name;
  return ::RegisterClassExW(&windowClass) != 0;
}
