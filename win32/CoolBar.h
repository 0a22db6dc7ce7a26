// tcbMain: the cool bar, band 1 the toolbar ttbMain, band 2 the menu row.
#pragma once

#include <initializer_list>

#include "WinApi.h"

namespace tavrin {

class CoolBar {
 public:
  // The bar and its toolbar, whose buttons notify owner; the bands come with AddBands.
  CoolBar(HWND owner, HIMAGELIST images);
  CoolBar(const CoolBar&) = delete;
  CoolBar& operator=(const CoolBar&) = delete;

  HWND Bar() const { return bar_; }
  HWND ToolBar() const { return toolBar_; }
  void AddBands(HWND menuRow, UINT dpi);
  // Each button takes its menu item's caption, found in these menus; never shown, it is what a
  // screen reader reads for the picture.
  void TakeCaptions(std::initializer_list<HMENU> menus);
  // The bands' sizes at another DPI; what the user sized keeps its size relative to the text.
  void Rescale(UINT oldDpi, UINT dpi);
  // The toolbar draws these pictures, at their size.
  void SetImages(HIMAGELIST images);

 private:
  HWND bar_ = nullptr;
  HWND toolBar_ = nullptr;
};

}  // namespace tavrin
