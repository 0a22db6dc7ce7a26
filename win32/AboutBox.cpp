#include "AboutBox.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "JpegPicture.h"
#include "Pictures.h"
#include "Texts.h"

namespace tavrin {

namespace {

constexpr wchar_t kAboutClass[] = L"TavrinAboutBox";
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 320;
constexpr int kLabelX = 8;
constexpr int kLabelWidth = 225;
constexpr int kLabelHeight = 17;

// Names the compiler and the toolkit that built this copy.
std::wstring BuildToolLine() {
  const std::string_view compiler = texts::kCompiler;
  return std::wstring(compiler.begin(), compiler.end()) + L" / Win32";
}

// The About picture from the program's resources, decoded by the same code as on Linux, as a
// 32-bit bitmap of width x height (stretched when the monitor's DPI makes the box larger).
HBITMAP AboutPicture(int width, int height) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(instance, L"ABOUT_JPEG", MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = found != nullptr ? ::LoadResource(instance, found) : nullptr;
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return nullptr;
  const JpegPicture picture = DecodeJpegPicture(static_cast<const unsigned char*>(bytes),
                                                ::SizeofResource(instance, found));
  if (picture.IsNull()) return nullptr;

  // Blue, green, red and a zero byte, which the static control shows as it is.
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(picture.width * picture.height));
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const unsigned char* p = &picture.pixels[i * static_cast<std::size_t>(picture.channels)];
    const std::uint32_t r = p[0];
    const std::uint32_t g = picture.channels == 1 ? p[0] : p[1];
    const std::uint32_t b = picture.channels == 1 ? p[0] : p[2];
    pixels[i] = r << 16 | g << 8 | b;
  }
  const BITMAPINFO source = TopDownBitmapInfo(picture.width, picture.height);
  const BITMAPINFO target = TopDownBitmapInfo(width, height);
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &target, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  ::SetStretchBltMode(dc, HALFTONE);
  ::SetBrushOrgEx(dc, 0, 0, nullptr);
  ::StretchDIBits(dc, 0, 0, width, height, 0, 0, picture.width, picture.height, pixels.data(),
                  &source, DIB_RGB_COLORS, SRCCOPY);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return bitmap;
}

LRESULT CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // The labels lie over the picture: black on the part of the picture beneath them, which
      // the box's brush paints with its origin moved to the label's corner.
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::SetBkMode(dc, TRANSPARENT);
      const auto brush = reinterpret_cast<HBRUSH>(::GetWindowLongPtrW(box, GWLP_USERDATA));
      if (brush == nullptr) return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
      RECT label{};
      ::GetWindowRect(reinterpret_cast<HWND>(lParam), &label);
      ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&label), 2);
      ::SetBrushOrgEx(dc, -label.left, -label.top, nullptr);
      return reinterpret_cast<LRESULT>(brush);
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
  // Image1 fills the box; it stays below the labels and leaves their places to them.
  const int pictureWidth = DpiScaled(owner, kClientWidth);
  const int pictureHeight = DpiScaled(owner, kClientHeight);
  HWND image1 = ::CreateWindowExW(
      0, WC_STATICW, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP, 0, 0,
      pictureWidth, pictureHeight, box, reinterpret_cast<HMENU>(kIdImage1), instance, nullptr);
  HBITMAP picture = AboutPicture(pictureWidth, pictureHeight);
  HBRUSH labelBrush = picture != nullptr ? ::CreatePatternBrush(picture) : nullptr;
  ::SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(labelBrush));
  ::SendMessageW(image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
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
  ::SetWindowPos(image1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

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
  // A static control leaves the bitmaps it was given to their owner.
  if (labelBrush != nullptr) ::DeleteObject(labelBrush);
  if (picture != nullptr) ::DeleteObject(picture);
}

}  // namespace tavrin
