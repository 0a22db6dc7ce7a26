#include "Pages.h"

#include <oleacc.h>

#include <algorithm>
#include <string>
#include <utility>

#include "Accessible.h"

namespace tavrin {

namespace {

constexpr wchar_t kPageClass[] = L"TavrinPage";

enum ControlId : int { kIdPages = 1004, kIdList, kIdViewPath, kIdView };

}  // namespace

bool Pages::RegisterClasses(HINSTANCE instance) {
  return RegisterWindowClass(instance, kPageClass, &Pages::PageProc, COLOR_BTNFACE);
}

Pages::Pages(HWND owner, HIMAGELIST images, WindowFonts& fonts, UINT dpi) : owner_(owner) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  tpcMain =
      ::CreateWindowExW(0, WC_TABCONTROLW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_BUTTONS |
                            TCS_FLATBUTTONS | TCS_MULTILINE,
                        0, 0, 0, 0, owner, reinterpret_cast<HMENU>(kIdPages), instance, nullptr);
  fonts.Use(tpcMain, WindowFonts::kUi);
  TabCtrl_SetImageList(tpcMain, images);
  const struct {
    const wchar_t* caption;
    int image;
  } tabs[] = {{L"リスト", 12}, {L"ビュー", 13}};
  for (int i = 0; i < 2; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = const_cast<wchar_t*>(tabs[i].caption);
    item.iImage = tabs[i].image;
    ::SendMessageW(tpcMain, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&item));
  }

  // The pages lie over the tab control's display area, as its siblings.
  auto makePage = [&](HWND parent, DWORD visible) {
    HWND page = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, nullptr,
                                  WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | visible, 0, 0, 0,
                                  0, parent, nullptr, instance, this);
    ::SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return page;
  };
  ttsMain = makePage(owner, WS_VISIBLE);
  ttsView = makePage(owner, 0);
  pnlView = makePage(ttsView, WS_VISIBLE);

  // Selection shown only while the list has the focus: no LVS_SHOWSELALWAYS.
  lvwResult = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER, 0,
      0, 0, 0, ttsMain, reinterpret_cast<HMENU>(kIdList), instance, nullptr);
  fonts.Use(lvwResult, WindowFonts::kFixed);
  ListView_SetExtendedListViewStyle(lvwResult, LVS_EX_FULLROWSELECT);
  ListView_SetImageList(lvwResult, images, LVSIL_SMALL);
  ListView_SetBkColor(lvwResult, ::GetSysColor(COLOR_BTNFACE));
  ListView_SetTextBkColor(lvwResult, ::GetSysColor(COLOR_BTNFACE));
  ListView_SetTextColor(lvwResult, ::GetSysColor(COLOR_BTNTEXT));
  const struct {
    const wchar_t* caption;
    int width;
  } columns[] = {{L"ファイル名", 120}, {L"パス", 200}, {L"タスク", 80}};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(columns[i].caption);
    column.cx = ScaledTo(columns[i].width, dpi);
    ::SendMessageW(lvwResult, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&column));
  }

  // Each memo is named by a hidden label just before it, as screen readers name an edit control
  // by itself, keeping everything else they read of one (its text, line by line).
  auto addHiddenLabel = [&](const wchar_t* text) {
    ::CreateWindowExW(0, WC_STATICW, text, WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, pnlView,
                      nullptr, instance, nullptr);
  };
  addHiddenLabel(L"パス");
  // The path line takes no focus (the main window sees to it); the text takes it on entering
  // the page.
  tmeViewPath = ::CreateWindowExW(0, WC_EDITW, nullptr,
                                  WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL, 0, 0, 0, 0,
                                  pnlView, reinterpret_cast<HMENU>(kIdViewPath), instance, nullptr);
  fonts.Use(tmeViewPath, WindowFonts::kUi);
  ::SetWindowSubclass(tmeViewPath, &Pages::PathLineProc, 0, 0);
  ::SetWindowPos(tmeViewPath, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  addHiddenLabel(L"ビュー");
  // Word wrap: no ES_AUTOHSCROLL, and no WS_HSCROLL, which would switch wrapping off; the
  // horizontal bar is shown, with nothing to scroll.
  tmeView = ::CreateWindowExW(
      0, WC_EDITW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
      0, 0, 0, 0, pnlView, reinterpret_cast<HMENU>(kIdView), instance, nullptr);
  fonts.Use(tmeView, WindowFonts::kFixed);
  ::SendMessageW(tmeView, EM_SETLIMITTEXT, 0, 0);
  ::ShowScrollBar(tmeView, SB_HORZ, TRUE);
  ::EnableScrollBar(tmeView, SB_HORZ, ESB_DISABLE_BOTH);
  NameForScreenReaders();
}

// Names as the other face gives them: the list has no label of its own, and the tab strip reads
// as the page it shows.
void Pages::NameForScreenReaders() {
  AccessibleText tabs;
  tabs.role = ROLE_SYSTEM_PAGETABLIST;
  tabs.name = [control = tpcMain] {
    wchar_t caption[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 64;
    TabCtrl_GetItem(control, TabCtrl_GetCurSel(control), &item);
    return std::wstring(caption);
  };
  SetAccessibleText(tpcMain, std::move(tabs));
  SetAccessibleText(ttsMain, ROLE_SYSTEM_PROPERTYPAGE, L"リスト");
  SetAccessibleText(ttsView, ROLE_SYSTEM_PROPERTYPAGE, L"ビュー");
  SetAccessibleText(lvwResult, ROLE_SYSTEM_LIST, L"リスト");
}

// The pages and the panel hand their children's notices to the main window.
LRESULT CALLBACK Pages::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(
        hwnd, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  const auto* self = reinterpret_cast<const Pages*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr) {
    switch (message) {
      case WM_NOTIFY:
      case WM_COMMAND:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
        return ::SendMessageW(self->owner_, message, wParam, lParam);
      case WM_PAINT:
        if (hwnd == self->pnlView) {
          // Raised inner and lowered outer bevel.
          PAINTSTRUCT paint;
          HDC dc = ::BeginPaint(hwnd, &paint);
          RECT rect;
          ::GetClientRect(hwnd, &rect);
          ::DrawEdge(dc, &rect, EDGE_ETCHED, BF_RECT);
          ::EndPaint(hwnd, &paint);
          return 0;
        }
        break;
      case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
      default:
        break;
    }
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// The path line's bevel, on its right and bottom edges only, outside its text.
LRESULT CALLBACK Pages::PathLineProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_NCCALCSIZE: {
      const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
      RECT& client = *reinterpret_cast<RECT*>(lParam);  // first in NCCALCSIZE_PARAMS too
      client.right = std::max(client.left, client.right - kBevel);
      client.bottom = std::max(client.top, client.bottom - kBevel);
      return result;
    }
    case WM_NCPAINT: {
      const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
      HDC dc = ::GetWindowDC(hwnd);
      RECT rect;
      ::GetWindowRect(hwnd, &rect);
      ::OffsetRect(&rect, -rect.left, -rect.top);
      ::DrawEdge(dc, &rect, EDGE_SUNKEN, BF_RIGHT | BF_BOTTOM);
      ::ReleaseDC(hwnd, dc);
      return result;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &Pages::PathLineProc, 0);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void Pages::ShowCurrent() {
  const bool view = ViewShown();
  ::ShowWindow(view ? ttsView : ttsMain, SW_SHOW);
  ::ShowWindow(view ? ttsMain : ttsView, SW_HIDE);
}

void Pages::Layout(int top, int bottom, int width, UINT dpi) {
  const int tabsHeight = std::max(0, bottom - top);
  ::MoveWindow(tpcMain, 0, top, width, tabsHeight, TRUE);
  RECT display{0, 0, width, tabsHeight};
  TabCtrl_AdjustRect(tpcMain, FALSE, &display);
  ::OffsetRect(&display, 0, top);
  const int pageWidth = std::max(0, static_cast<int>(display.right - display.left));
  const int height = std::max(0, static_cast<int>(display.bottom - display.top));
  for (HWND page : {ttsMain, ttsView}) {
    ::MoveWindow(page, display.left, display.top, pageWidth, height, TRUE);
  }
  ::MoveWindow(lvwResult, 0, 0, pageWidth, height, TRUE);
  ::MoveWindow(pnlView, 0, 0, pageWidth, height, TRUE);
  const int inset = 2;  // the panel's bevel
  const int pathHeight = ScaledTo(16, dpi);
  ::MoveWindow(tmeViewPath, inset, inset, std::max(0, pageWidth - 2 * inset), pathHeight, TRUE);
  ::MoveWindow(tmeView, inset, inset + pathHeight, std::max(0, pageWidth - 2 * inset),
               std::max(0, height - 2 * inset - pathHeight), TRUE);
  FitPathColumn(dpi);
}

void Pages::FitPathColumn(UINT dpi) {
  RECT client;
  ::GetClientRect(lvwResult, &client);
  const int rest = client.right - ListView_GetColumnWidth(lvwResult, kColumnName) -
                   ListView_GetColumnWidth(lvwResult, kColumnTask);
  const int wanted = std::max(rest, ScaledTo(20, dpi));
  if (ListView_GetColumnWidth(lvwResult, kColumnPath) != wanted) {
    ListView_SetColumnWidth(lvwResult, kColumnPath, wanted);
  }
}

void Pages::RescaleColumns(UINT oldDpi, UINT dpi) {
  for (int column : {kColumnName, kColumnTask}) {
    ListView_SetColumnWidth(lvwResult, column,
                            ::MulDiv(ListView_GetColumnWidth(lvwResult, column),
                                     static_cast<int>(dpi), static_cast<int>(oldDpi)));
  }
}

void Pages::SetImages(HIMAGELIST images) {
  TabCtrl_SetImageList(tpcMain, images);
  ListView_SetImageList(lvwResult, images, LVSIL_SMALL);
}

}  // namespace tavrin
