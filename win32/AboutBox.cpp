#include "AboutBox.h"

#include <string>

namespace tavrin {

namespace {

constexpr wchar_t kAboutClass[] = L"TavrinAboutBox";
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 320;
constexpr int kLabelX = 8;
constexpr int kLabelWidth = 225;
constexpr int kLabelHeight = 17;

// Names the compiler that built this copy.
std::wstring BuildToolLine() {
#if defined(__clang__)
  const char* compiler = __VERSION__;
#elif defined(__GNUC__)
  const char* compiler = "GCC " __VERSION__;
#else
  const char* compiler = "C++";
#endif
  return std::wstring(compiler, compiler + std::char_traits<char>::length(compiler)) + L" / Win32";
}

LRESULT CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // The labels lie over the picture: black, no background of their own.
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    case WM_CLOSE:
      // The owner takes input again before the box goes, so it becomes the active window.
      ::EnableWindow(::GetWindow(box, GW_OWNER), TRUE);
      ::DestroyWindow(box);
      return 0;
    default:
      return ::DefWindowProcW(box, message, wParam, lParam);
  }
}

int DpiScaled(HWND hwnd, int pixels) {
  HDC dc = ::GetDC(hwnd);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(hwnd, dc);
  return ::MulDiv(pixels, dpi > 0 ? dpi : 96, 96);
}

}  // namespace

void TFAboutBox::Execute(HWND owner, const std::function<void(HWND)>& whileShown) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  static const bool registered = [instance] {
    WNDCLASSEXW about{};
    about.cbSize = sizeof about;
    about.lpfnWndProc = &AboutProc;
    about.hInstance = instance;
    about.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    about.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    about.lpszClassName = kAboutClass;
    return ::RegisterClassExW(&about) != 0;
  }();
  if (!registered) return;

  // A dialog border: fixed size, no minimise or maximise.
  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, DpiScaled(owner, kClientWidth), DpiScaled(owner, kClientHeight)};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  HWND box = ::CreateWindowExW(kExStyle, kAboutClass, L"バージョン情報", kStyle,
                               work.left + (work.right - work.left - width) / 2,
                               work.top + (work.bottom - work.top - height) / 2, width, height,
                               owner, nullptr, instance, nullptr);
  if (box == nullptr) return;

  LOGFONTW font{};
  font.lfHeight = -DpiScaled(owner, 11);
  font.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  HFONT labelFont = ::CreateFontIndirectW(&font);
  // The picture is not drawn yet: Image1 holds its place.
  ::CreateWindowExW(0, WC_STATICW, nullptr, WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0,
                    DpiScaled(owner, kClientWidth), DpiScaled(owner, kClientHeight), box,
                    reinterpret_cast<HMENU>(kIdImage1), instance, nullptr);
  const struct {
    int id, y;
    std::wstring text;
  } labels[] = {
      {kIdLabel2, 248, L"作者: tavrin 開発チーム"},
      {kIdLabel3, 264, L"連絡先: tavrin-dev@example.invalid"},
      {kIdLabel5, 280, L"compired with"},
      {kIdLabel4, 296, BuildToolLine()},
  };
  for (const auto& label : labels) {
    HWND control = ::CreateWindowExW(0, WC_STATICW, label.text.c_str(),
                                     WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX,
                                     DpiScaled(owner, kLabelX), DpiScaled(owner, label.y),
                                     DpiScaled(owner, kLabelWidth), DpiScaled(owner, kLabelHeight),
                                     box, reinterpret_cast<HMENU>(label.id), instance, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont), FALSE);
  }

  // Modal: the owner takes no input until the box is closed.
  if (owner != nullptr) ::EnableWindow(owner, FALSE);
  ::ShowWindow(box, SW_SHOW);
  if (whileShown) whileShown(box);
  MSG message;
  while (::IsWindow(box)) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: the loop that owns the quit message gets it back.
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      ::DestroyWindow(box);
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (owner != nullptr) ::EnableWindow(owner, TRUE);
  ::DeleteObject(labelFont);
}

}  // namespace tavrin
