#include "MenuRow.h"

#include <oleacc.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "Accessible.h"
#include "Main.h"

namespace tavrin {

namespace {

constexpr int kIdMenuBar = 1003;

// The button size at 96 dpi.
constexpr int kButtonWidth = 63;
constexpr int kButtonHeight = 20;
// The drop-down arrow beside a caption, with its gap.
constexpr int kArrow = 14;
constexpr const wchar_t* kCaptions[] = {L"ファイル(&F)", L"編集(&E)", L"ヘルプ(&H)"};

// The row whose menu is open; menus are modal, so there is at most one per thread.
thread_local MenuRow* menuOwner = nullptr;

}  // namespace

MenuRow::MenuRow(const HWND& owner, HWND parent, HIMAGELIST images, WindowFonts& fonts, UINT dpi)
    : owner_(owner), images_(images) {
  BuildMenus();
  constexpr DWORD kStyle = WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER |
                           CCS_NORESIZE | CCS_NOPARENTALIGN;
  bar_ =
      ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, kStyle, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(kIdMenuBar), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(bar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(bar_, TB_SETPARENT, reinterpret_cast<WPARAM>(owner_), 0);
  fonts.Use(bar_, WindowFonts::kUi);
  ::SendMessageW(bar_, TB_SETIMAGELIST, 0, 0);
  std::vector<TBBUTTON> buttons;
  for (int i = 0; i < 3; ++i) {
    TBBUTTON button{};
    button.iBitmap = I_IMAGENONE;
    button.idCommand = kIdMenuFile + i;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON | BTNS_DROPDOWN;
    button.iString = reinterpret_cast<INT_PTR>(kCaptions[i]);
    buttons.push_back(button);
  }
  ::SendMessageW(bar_, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
  // The row is the window's menu bar, its buttons the bar's items, read by their captions.
  AccessibleText menuBar;
  menuBar.role = ROLE_SYSTEM_MENUBAR;
  menuBar.name = [] { return std::wstring(L"メニュー"); };
  menuBar.partRole = [bar = bar_](LONG button) {
    return button >= 1 && button <= ::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0) ? ROLE_SYSTEM_MENUITEM
                                                                              : 0;
  };
  SetAccessibleText(bar_, std::move(menuBar));
  Rescale(dpi);
}

MenuRow::~MenuRow() {
  for (HMENU menu : {file_, edit_, help_}) ::DestroyMenu(menu);
}

void MenuRow::BuildMenus() {
  auto addItem = [this](HMENU menu, int id, const wchar_t* caption, int image) {
    ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), caption);
    itemImages_.emplace_back(id, image);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    info.hbmpItem = HBMMENU_CALLBACK;
    ::SetMenuItemInfoW(menu, static_cast<UINT>(id), FALSE, &info);
  };
  file_ = ::CreatePopupMenu();
  addItem(file_, kIdFileRun, L"実行(&R)", 4);
  addItem(file_, kIdFileFindFile, L"ファイル検索ダイアログを表示する(&F)", 11);
  ::AppendMenuW(file_, MF_SEPARATOR, 0, nullptr);  // tmiFileHR01
  addItem(file_, kIdFileClose, L"閉じる(&C)", 5);
  edit_ = ::CreatePopupMenu();
  addItem(edit_, kIdEditListClear, L"選択した項目をクリア(&S)", 6);
  addItem(edit_, kIdEditListAllClear, L"リストを全てクリア(&C)", 7);
  ::AppendMenuW(edit_, MF_SEPARATOR, 0, nullptr);  // tmiEditHR01
  addItem(edit_, kIdEditListIsRecycled, L"リストファイルをごみ箱へ(&R)", 9);
  ::AppendMenuW(edit_, MF_SEPARATOR, 0, nullptr);  // tmiEditHR02
  addItem(edit_, kIdEditCEntity, L"「CEntity.txt」の読み込みを確認する(&E)", 10);
  help_ = ::CreatePopupMenu();
  addItem(help_, kIdHelpVersion, L"バージョン情報(&A)...", 8);
}

// The named size where the captions fit in it; wider or taller where the face shown needs it, so
// that no caption is cut.
void MenuRow::Rescale(UINT dpi) {
  int width = ScaledTo(kButtonWidth, dpi), height = ScaledTo(kButtonHeight, dpi);
  HDC dc = ::GetDC(bar_);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(bar_, WM_GETFONT, 0, 0)));
  const LRESULT padding = ::SendMessageW(bar_, TB_GETPADDING, 0, 0);
  for (const wchar_t* caption : kCaptions) {
    std::wstring shown;
    for (const wchar_t* c = caption; *c != L'\0'; ++c) {
      if (*c != L'&') shown.push_back(*c);
    }
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
    width = std::max(width, static_cast<int>(extent.cx) + LOWORD(padding) + ScaledTo(kArrow, dpi));
    height = std::max(height, static_cast<int>(extent.cy) + HIWORD(padding));
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(bar_, dc);
  ::SendMessageW(bar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(width, height));
}

bool MenuRow::MeasureItem(MEASUREITEMSTRUCT& item) const {
  if (item.CtlType != ODT_MENU) return false;
  for (const auto& [command, image] : itemImages_) {
    if (static_cast<UINT>(command) != item.itemID) continue;
    int width = 0, height = 0;
    ::ImageList_GetIconSize(images_, &width, &height);
    item.itemWidth = static_cast<UINT>(width);
    item.itemHeight = static_cast<UINT>(height);
    return true;
  }
  return false;
}

bool MenuRow::DrawItem(const DRAWITEMSTRUCT& item) const {
  if (item.CtlType != ODT_MENU) return false;
  for (const auto& [command, image] : itemImages_) {
    if (static_cast<UINT>(command) != item.itemID) continue;
    int width = 0, height = 0;
    ::ImageList_GetIconSize(images_, &width, &height);
    const RECT& room = item.rcItem;
    ::ImageList_Draw(images_, image, item.hDC, room.left + (room.right - room.left - width) / 2,
                     room.top + (room.bottom - room.top - height) / 2, ILD_TRANSPARENT);
    return true;
  }
  return false;
}

int MenuRow::ButtonOfKey(wchar_t key) const {
  UINT button = 0;
  return ::SendMessageW(bar_, TB_MAPACCELERATORW, key, reinterpret_cast<LPARAM>(&button))
             ? static_cast<int>(button)
             : 0;
}

void MenuRow::NoteSelection(WPARAM wParam, LPARAM lParam) {
  if (shown_ == nullptr) return;
  selectedIn_ = reinterpret_cast<HMENU>(lParam);
  selectedFlags_ = HIWORD(wParam) == 0xFFFF ? 0 : HIWORD(wParam);
}

// Left and Right while a menu is open: on a menu bar they go to the neighbouring menu, which a
// popup menu on its own does not know of. The key is taken here, the menu ended, and Open
// opens the neighbour. Left inside a submenu closes that submenu, and Right on an item with a
// submenu opens it, as the menu itself does. Likewise the mouse moving onto another caption
// button opens that button's menu.
LRESULT CALLBACK MenuRow::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const MSG*>(lParam);
  MenuRow* self = menuOwner;
  if (code == MSGF_MENU && self != nullptr && message->message == WM_MOUSEMOVE &&
      (message->pt.x != self->mouse_.x || message->pt.y != self->mouse_.y)) {
    // Only a real move counts: a menu that opens under a still mouse brings a move message too.
    self->mouse_ = message->pt;
    POINT at = message->pt;
    ::ScreenToClient(self->bar_, &at);
    const auto index =
        static_cast<int>(::SendMessageW(self->bar_, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&at)));
    TBBUTTON button{};
    if (index >= 0 &&
        ::SendMessageW(self->bar_, TB_GETBUTTON, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(&button)) &&
        button.idCommand != self->button_) {
      self->pointedAt_ = button.idCommand;
      ::EndMenu();
      return TRUE;
    }
  }
  if (code == MSGF_MENU && self != nullptr && message->message == WM_KEYDOWN &&
      (message->wParam == VK_LEFT || message->wParam == VK_RIGHT)) {
    const bool left = message->wParam == VK_LEFT;
    const HMENU top = self->shown_;
    const bool onTop = self->selectedIn_ == nullptr || self->selectedIn_ == top;
    const bool opensSubmenu = (self->selectedFlags_ & MF_POPUP) != 0;
    if (left ? onTop : !opensSubmenu) {
      self->move_ = left ? -1 : 1;
      ::EndMenu();
      return TRUE;
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

int MenuRow::Open(int button, bool fromKeyboard) {
  constexpr int kMenus = kIdMenuHelp - kIdMenuFile + 1;
  ::GetCursorPos(&mouse_);
  while (true) {
    HMENU popup = button == kIdMenuFile   ? file_
                  : button == kIdMenuEdit ? edit_
                  : button == kIdMenuHelp ? help_
                                          : nullptr;
    if (popup == nullptr) return 0;
    if (whileShows) return whileShows(popup);
    RECT rect{};
    ::SendMessageW(bar_, TB_GETRECT, static_cast<WPARAM>(button), reinterpret_cast<LPARAM>(&rect));
    ::MapWindowPoints(bar_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    TPMPARAMS params{};
    params.cbSize = sizeof params;
    params.rcExclude = rect;
    // Opened from the keyboard, the first item is selected, as in a menu bar.
    if (fromKeyboard) ::PostMessageW(owner_, WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageW(bar_, TB_PRESSBUTTON, static_cast<WPARAM>(button), TRUE);
    button_ = button;
    shown_ = popup;
    selectedIn_ = nullptr;
    selectedFlags_ = 0;
    move_ = 0;
    pointedAt_ = 0;
    menuOwner = this;
    HHOOK filter =
        ::SetWindowsHookExW(WH_MSGFILTER, &MenuRow::KeyFilter, nullptr, ::GetCurrentThreadId());
    const int chosen = static_cast<int>(
        ::TrackPopupMenuEx(popup, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL,
                           rect.left, rect.bottom, owner_, &params));
    if (filter != nullptr) ::UnhookWindowsHookEx(filter);
    menuOwner = nullptr;
    shown_ = nullptr;
    if (owner_ == nullptr) return 0;  // closed while the menu was open
    ::SendMessageW(bar_, TB_PRESSBUTTON, static_cast<WPARAM>(button), FALSE);
    if (chosen != 0) return chosen;
    if (pointedAt_ != 0) {
      button = pointedAt_;
      fromKeyboard = false;
      continue;
    }
    if (move_ == 0) return 0;
    // The neighbour, round the row's ends, opened as from the keyboard.
    button = kIdMenuFile + (button - kIdMenuFile + move_ + kMenus) % kMenus;
    fromKeyboard = true;
  }
}

}  // namespace tavrin
