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
