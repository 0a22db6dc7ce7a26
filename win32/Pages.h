// tpcMain and its two pages: ttsMain with the list lvwResult, ttsView with the panel pnlView
// holding the path line tmeViewPath and the text tmeView.
#pragma once

#include "WinApi.h"
#include "WindowFonts.h"

namespace tavrin {

class Pages {
 public:
  // Each page hands its children's notices to owner.
  Pages(HWND owner, HIMAGELIST images, WindowFonts& fonts, UINT dpi);
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;
  static bool RegisterClasses(HINSTANCE instance);

  HWND tpcMain = nullptr;
  HWND ttsMain = nullptr;
  HWND ttsView = nullptr;
  HWND pnlView = nullptr;
  HWND lvwResult = nullptr;
  HWND tmeViewPath = nullptr;
  HWND tmeView = nullptr;

  bool ViewShown() const { return TabCtrl_GetCurSel(tpcMain) == 1; }
  // The page of the current tab shown, the other hidden.
  void ShowCurrent();
  // The tabs over the rectangle top..bottom of the owner, width wide, and the pages in them.
  void Layout(int top, int bottom, int width, UINT dpi);
  // The path column takes what the other two leave.
  void FitPathColumn(UINT dpi);
  // The columns the user sized keep their size relative to the text.
  void RescaleColumns(UINT oldDpi, UINT dpi);
  // The tabs and the list draw these pictures.
  void SetImages(HIMAGELIST images);
  bool IsListHeader(HWND control) const { return control == ListView_GetHeader(lvwResult); }
  static bool IsPathColumn(int column) { return column == kColumnPath; }

 private:
  static constexpr int kColumnName = 0;
  static constexpr int kColumnPath = 1;
  static constexpr int kColumnTask = 2;
  static constexpr int kBevel = 2;
  void NameForScreenReaders();
  static LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PathLineProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);

  HWND owner_;
};

}  // namespace tavrin
