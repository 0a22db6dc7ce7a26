#include "WindowFonts.h"

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <iterator>

namespace tavrin {

namespace {

bool FontExists(const wchar_t* face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  HDC dc = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(
      dc, &wanted,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
        *reinterpret_cast<bool*>(found) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, dc);
  return found;
}

// The first named face the system has, else its Japanese UI font, else the default GUI font's
// face; at the height asked for in each case, so that it follows the DPI too.
HFONT MakeFont(std::initializer_list<const wchar_t*> faces, int pixels) {
  std::vector<const wchar_t*> candidates(faces);
  for (const wchar_t* fallback : {L"Meiryo UI", L"Yu Gothic UI", L"Meiryo", L"Yu Gothic"}) {
    candidates.push_back(fallback);
  }
  for (const wchar_t* face : candidates) {
    if (!FontExists(face)) continue;
    return ::CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, face);
  }
  LOGFONTW font{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfHeight = -pixels;
  font.lfWidth = 0;
  return ::CreateFontIndirectW(&font);
}

}  // namespace

UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void SetFont(HWND control, HFONT font, bool redraw) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

WindowFonts::~WindowFonts() {
  for (HFONT font : fonts_) ::DeleteObject(font);
}

void WindowFonts::Build(UINT dpi) {
  HFONT old[kKinds];
  std::copy(std::begin(fonts_), std::end(fonts_), std::begin(old));
  fonts_[kForm] = MakeFont({L"ＭＳ Ｐゴシック", L"MS PGothic"}, ScaledTo(12, dpi));
  fonts_[kUi] = MakeFont({L"MS UI Gothic"}, ScaledTo(12, dpi));
  fonts_[kFixed] = MakeFont({L"ＭＳ ゴシック", L"MS Gothic"}, ScaledTo(12, dpi));
  for (const auto& [control, kind] : users_) SetFont(control, fonts_[kind], true);
  for (HFONT font : old) {
    if (font != nullptr) ::DeleteObject(font);
  }
}

void WindowFonts::Use(HWND control, Kind kind) {
  SetFont(control, fonts_[kind]);
  users_.emplace_back(control, kind);
}

}  // namespace tavrin
