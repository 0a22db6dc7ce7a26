// ttbMenu: the menus as flat caption buttons in the cool bar, opened and walked as a menu bar's
// (Alt and a letter, F10, Left and Right, the mouse moving along the row).
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "WinApi.h"
#include "WindowFonts.h"

namespace tavrin {

class MenuRow {
 public:
  // The row inside the cool bar parent; its notices and the chosen items go to owner, whose
  // handle is read again after a menu closes (null once the window is gone).
  MenuRow(const HWND& owner, HWND parent, HIMAGELIST images, WindowFonts& fonts, UINT dpi);
  ~MenuRow();
  MenuRow(const MenuRow&) = delete;
  MenuRow& operator=(const MenuRow&) = delete;

  HWND Bar() const { return bar_; }
  HMENU File() const { return file_; }
  HMENU Edit() const { return edit_; }
  HMENU Help() const { return help_; }

  // Opens a button's menu and walks the row until a menu closes for good; the chosen item's
  // id, or 0.
  int Open(int button, bool fromKeyboard);
  // The button whose access key this is, or 0.
  int ButtonOfKey(wchar_t key) const;
  // Where the open menu's selection is (WM_MENUSELECT), for Left and Right.
  void NoteSelection(WPARAM wParam, LPARAM lParam);
  void Rescale(UINT dpi);
  void SetImages(HIMAGELIST images) { images_ = images; }
  // A menu item's image, drawn by the owner from the image list (WM_MEASUREITEM, WM_DRAWITEM):
  // a bitmap of its own would lose its transparency where menus ignore alpha. False for what is
  // no item of these menus.
  bool MeasureItem(MEASUREITEMSTRUCT& item) const;
  bool DrawItem(const DRAWITEMSTRUCT& item) const;

  // Runs instead of showing a popup, given it; answers with an item's id.
  std::function<int(HMENU)> whileShows;

 private:
  static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);
  void BuildMenus();

  const HWND& owner_;
  HWND bar_ = nullptr;
  HMENU file_ = nullptr, edit_ = nullptr, help_ = nullptr;
  HIMAGELIST images_;
  // Each item's command and its image in images_.
  std::vector<std::pair<int, int>> itemImages_;
  // While a menu is open: its button, where its selection is, and the neighbour that Left or
  // Right asked for (-1, +1) or the button the mouse moved onto, to be opened once it has closed.
  int button_ = 0;
  HMENU shown_ = nullptr;
  HMENU selectedIn_ = nullptr;
  UINT selectedFlags_ = 0;
  int move_ = 0;
  int pointedAt_ = 0;
  POINT mouse_{};
};

}  // namespace tavrin
