#include "AboutBox.h"

#include <oleacc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Accessible.h"
#include "JpegPicture.h"
#include "Pictures.h"
#include "Texts.h"
#include "WindowFonts.h"

namespace tavrin {

namespace {

constexpr wchar_t kAboutClass[] = L"TavrinAboutBox";
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 320;
constexpr int kLabelX = 8;
constexpr int kLabelWidth = 225;
constexpr int kLabelHeight = 17;

std::wstring TextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

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

// What the box draws with, made for its DPI; made again when that changes.
struct AboutDrawing {
  HFONT labelFont = nullptr;
  HBITMAP picture = nullptr;
  HBRUSH labelBrush = nullptr;
  ~AboutDrawing() {
    if (labelFont != nullptr) ::DeleteObject(labelFont);
    // A static control leaves the bitmaps it was given to their owner.
    if (labelBrush != nullptr) ::DeleteObject(labelBrush);
    if (picture != nullptr) ::DeleteObject(picture);
  }
};

constexpr struct {
  int id, y;
} kLabels[] = {{kIdLabel2, 248}, {kIdLabel3, 264}, {kIdLabel5, 280}, {kIdLabel4, 296}};

// Sizes and places the picture and the labels at this DPI, with a font and a picture made for it.
void LayOut(HWND box, int dpi, AboutDrawing& drawing) {
  const auto scaled = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
  AboutDrawing old;
  std::swap(old.labelFont, drawing.labelFont);
  std::swap(old.picture, drawing.picture);
  std::swap(old.labelBrush, drawing.labelBrush);

  std::wstring texts;
  for (const auto& label : kLabels) texts += TextOf(::GetDlgItem(box, label.id));
  drawing.labelFont = MakeFont({L"Tahoma"}, scaled(11), false, texts);
  // Each label at its named size where its text fits, larger where not; the box as wide as the
  // widest needs.
  HDC dc = ::GetDC(box);
  HGDIOBJ oldFont = ::SelectObject(dc, drawing.labelFont);
  SIZE sizes[std::size(kLabels)] = {};
  int width = scaled(kClientWidth);
  for (std::size_t i = 0; i < std::size(kLabels); ++i) {
    const std::wstring text = TextOf(::GetDlgItem(box, kLabels[i].id));
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &sizes[i]);
    sizes[i].cx = std::max(static_cast<int>(sizes[i].cx), scaled(kLabelWidth));
    sizes[i].cy = std::max(static_cast<int>(sizes[i].cy), scaled(kLabelHeight));
    width = std::max(width, scaled(kLabelX) + static_cast<int>(sizes[i].cx) +
                                (scaled(kClientWidth) - scaled(kLabelX + kLabelWidth)));
  }
  ::SelectObject(dc, oldFont);
  ::ReleaseDC(box, dc);
  RECT client;
  ::GetClientRect(box, &client);
  if (client.right < width) {
    RECT frame{0, 0, width, client.bottom};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_EXSTYLE)));
    ::SetWindowPos(box, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Image1 fills the box; it stays below the labels and leaves their places to them.
  const int height = scaled(kClientHeight);
  drawing.picture = AboutPicture(width, height);
  drawing.labelBrush = drawing.picture != nullptr ? ::CreatePatternBrush(drawing.picture) : nullptr;
  HWND image1 = ::GetDlgItem(box, kIdImage1);
  ::SetWindowPos(image1, HWND_BOTTOM, 0, 0, width, height, SWP_NOACTIVATE);
  ::SendMessageW(image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(drawing.picture));
  for (std::size_t i = 0; i < std::size(kLabels); ++i) {
    HWND control = ::GetDlgItem(box, kLabels[i].id);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(drawing.labelFont), FALSE);
    // A taller label keeps its text's middle where the named one has it.
    const int y = scaled(kLabels[i].y) - (static_cast<int>(sizes[i].cy) - scaled(kLabelHeight)) / 2;
    ::MoveWindow(control, scaled(kLabelX), y, sizes[i].cx, sizes[i].cy, FALSE);
  }
  ::InvalidateRect(box, nullptr, TRUE);
}

LRESULT CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* drawing = reinterpret_cast<AboutDrawing*>(::GetWindowLongPtrW(box, GWLP_USERDATA));
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // The labels lie over the picture: black on the part of the picture beneath them, which
      // the box's brush paints with its origin moved to the label's corner.
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::SetBkMode(dc, TRANSPARENT);
      if (drawing == nullptr || drawing->labelBrush == nullptr) {
        return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
      }
      RECT label{};
      ::GetWindowRect(reinterpret_cast<HWND>(lParam), &label);
      ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&label), 2);
      ::SetBrushOrgEx(dc, -label.left, -label.top, nullptr);
      return reinterpret_cast<LRESULT>(drawing->labelBrush);
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI: drawn again for it, at the size the system suggests.
      if (drawing != nullptr) LayOut(box, HIWORD(wParam), *drawing);
      const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(box, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
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

}  // namespace

void TFAboutBox::Execute(HWND owner, UINT dpi, const std::function<void(HWND)>& whileShown) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  static const bool registered =
      RegisterWindowClass(instance, kAboutClass, &AboutProc, COLOR_WINDOW);
  if (!registered) return;

  // A dialog border: fixed size, no minimise or maximise.
  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
  const int scale = dpi != 0 ? static_cast<int>(dpi) : 96;
  RECT frame{0, 0, ::MulDiv(kClientWidth, scale, 96), ::MulDiv(kClientHeight, scale, 96)};
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

  HWND image1 =
      ::CreateWindowExW(0, WC_STATICW, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP,
                        0, 0, 0, 0, box, reinterpret_cast<HMENU>(kIdImage1), instance, nullptr);
  // What the picture shows, for those who cannot see it.
  SetAccessibleText(image1, ROLE_SYSTEM_GRAPHIC, L"tavrin ver 2",
                    L"砂岩の壁の写真。右上に鉄格子の窓、下から駐車禁止の丸い標識が傾いて立ち、"
                    L"右寄りの中ほどに黒い太字で「tavrin」と「ver 2」。");
  const std::wstring texts[] = {L"作者: tavrin 開発チーム", L"連絡先: tavrin-dev@example.invalid",
                                L"compired with", BuildToolLine()};
  for (std::size_t i = 0; i < std::size(kLabels); ++i) {
    ::CreateWindowExW(0, WC_STATICW, texts[i].c_str(),
                      WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0, 0, 0,
                      box, reinterpret_cast<HMENU>(kLabels[i].id), instance, nullptr);
  }
  AboutDrawing drawing;
  ::SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&drawing));
  LayOut(box, scale, drawing);

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
}

}  // namespace tavrin
