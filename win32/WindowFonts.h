// The DPI a window is drawn at, and the window's three fonts made for it.
#pragma once

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
