// The DPI a window is drawn at, and the window's three fonts made for it.
#pragma once

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "WinApi.h"

namespace tavrin {

// The DPI of the monitor a window is on (the system's where the system cannot tell).
UINT DpiOf(HWND hwnd);
// Pixels at 96 dpi, at another DPI.
inline int ScaledTo(int pixels, UINT dpi) {
  return ::MulDiv(pixels, static_cast<int>(dpi), 96);
}
void SetFont(HWND control, HFONT font, bool redraw = false);
// A font pixels high in which every character of texts has a glyph and "_" is drawn: the first
// named face that does, then Japanese UI faces by name, then any face the system has with the
// Shift-JIS character set; a pixel or two larger where none does. The fixed font asks for fixed
// pitch.
HFONT MakeFont(std::initializer_list<const wchar_t*> named, int pixels, bool fixed,
               std::wstring_view texts);

// The form's font, the controls' and the fixed one. Made again when the DPI changes, the
// controls then taking the new fonts before the old ones go.
class WindowFonts {
 public:
  enum Kind { kForm, kUi, kFixed, kKinds };

  WindowFonts() = default;
  ~WindowFonts();
  WindowFonts(const WindowFonts&) = delete;
  WindowFonts& operator=(const WindowFonts&) = delete;

  void Build(UINT dpi);
  // The control shows that font, now and after each Build.
  void Use(HWND control, Kind kind);
  HFONT Get(Kind kind) const { return fonts_[kind]; }

 private:
  HFONT fonts_[kKinds] = {};
  std::vector<std::pair<HWND, Kind>> users_;
};

}  // namespace tavrin
