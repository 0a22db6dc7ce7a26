#include "CoolBar.h"

#include <oleacc.h>

#include <iterator>
#include <vector>

#include "Accessible.h"
#include "Main.h"
#include "WindowFonts.h"

namespace tavrin {

namespace {

enum ControlId : int { kIdCoolBar = 1001, kIdToolBar };

// The toolbar's buttons left to right: each runs its menu item's command with its image.
struct ToolButtonSlot {
  const char* name;
  int command;  // 0 for a separator
  int image;
};
constexpr ToolButtonSlot kToolButtons[] = {
    {"ToolButton1", kIdFileRun, 4},
    {"ToolButton9", kIdFileFindFile, 11},
    {"ToolButton2", 0, 0},
    {"ToolButton3", kIdEditListClear, 6},
    {"ToolButton4", kIdEditListAllClear, 7},
    {"ToolButton5", 0, 0},
    {"ToolButton8", kIdEditListIsRecycled, 9},
    {"ToolButton7", 0, 0},
    {"ToolButton6", kIdFileClose, 5},
};

// The bands at 96 dpi: band 1 the toolbar, band 2 the menu row.
struct BandSize {
  int width, minWidth, minHeight;
};
constexpr BandSize kBands[] = {{175, 162, 22}, {451, 170, 20}};

}  // namespace

const char* ToolButtonName(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kToolButtons)) ? kToolButtons[index].name
                                                                         : "";
}

CoolBar::CoolBar(HWND owner, HIMAGELIST images) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  // One common band height, band borders, a band maximised by a double click on its gripper.
  bar_ =
      ::CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                            RBS_BANDBORDERS | RBS_DBLCLKTOGGLE | CCS_NODIVIDER | CCS_TOP,
                        0, 0, 0, 0, owner, reinterpret_cast<HMENU>(kIdCoolBar), instance, nullptr);
  REBARINFO info{};
  info.cbSize = sizeof info;
  ::SendMessageW(bar_, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));

  // No TBSTYLE_TOOLTIPS: no menu item carries a hint, so no tooltip is ever shown.
  toolBar_ = ::CreateWindowExW(
      0, TOOLBARCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, 0,
      0, 0, bar_, reinterpret_cast<HMENU>(kIdToolBar), instance, nullptr);
  ::SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(toolBar_, TB_SETPARENT, reinterpret_cast<WPARAM>(owner), 0);
  SetImages(images);
  // The buttons carry their items' captions but show only their pictures.
  ::SendMessageW(toolBar_, TB_SETMAXTEXTROWS, 0, 0);
  SetAccessibleText(toolBar_, ROLE_SYSTEM_TOOLBAR, L"ツールバー");
  std::vector<TBBUTTON> buttons;
  for (const ToolButtonSlot& slot : kToolButtons) {
    TBBUTTON button{};
    if (slot.command == 0) {
      button.iBitmap = 8;  // the separator's width
      button.fsStyle = BTNS_SEP;
    } else {
      button.iBitmap = slot.image;
      button.idCommand = slot.command;
      button.fsState = TBSTATE_ENABLED;
      button.fsStyle = BTNS_BUTTON;
    }
    buttons.push_back(button);
  }
  ::SendMessageW(toolBar_, TB_ADDBUTTONSW, buttons.size(),
                 reinterpret_cast<LPARAM>(buttons.data()));
}

void CoolBar::TakeCaptions(std::initializer_list<HMENU> menus) {
  for (const ToolButtonSlot& slot : kToolButtons) {
    if (slot.command == 0) continue;
    for (HMENU menu : menus) {
      wchar_t caption[256] = {};
      if (::GetMenuStringW(menu, static_cast<UINT>(slot.command), caption, 256, MF_BYCOMMAND) <=
          0) {
        continue;
      }
      TBBUTTONINFOW info{};
      info.cbSize = sizeof info;
      info.dwMask = TBIF_TEXT;
      info.pszText = caption;
      ::SendMessageW(toolBar_, TB_SETBUTTONINFOW, static_cast<WPARAM>(slot.command),
                     reinterpret_cast<LPARAM>(&info));
      break;
    }
  }
}

void CoolBar::AddBands(HWND menuRow, UINT dpi) {
  const HWND children[] = {toolBar_, menuRow};
  // The bands' titles are never shown: a screen reader reads them.
  const wchar_t* titles[] = {L"ツールバー", L"メニュー バー"};
  for (int i = 0; i < 2; ++i) {
    REBARBANDINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_STYLE | RBBIM_TEXT;
    info.fStyle = RBBS_GRIPPERALWAYS | RBBS_CHILDEDGE | RBBS_HIDETITLE;
    info.lpText = const_cast<wchar_t*>(titles[i]);
    info.hwndChild = children[i];
    info.cx = static_cast<UINT>(ScaledTo(kBands[i].width, dpi));
    info.cxMinChild = static_cast<UINT>(ScaledTo(kBands[i].minWidth, dpi));
    info.cyMinChild = static_cast<UINT>(ScaledTo(kBands[i].minHeight, dpi));
    ::SendMessageW(bar_, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&info));
  }
}

void CoolBar::Rescale(UINT oldDpi, UINT dpi) {
  for (int i = 0; i < 2; ++i) {
    REBARBANDINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_SIZE;
    ::SendMessageW(bar_, RB_GETBANDINFOW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&info));
    info.fMask = RBBIM_CHILDSIZE | RBBIM_SIZE;
    info.cx = static_cast<UINT>(
        ::MulDiv(static_cast<int>(info.cx), static_cast<int>(dpi), static_cast<int>(oldDpi)));
    info.cxMinChild = static_cast<UINT>(ScaledTo(kBands[i].minWidth, dpi));
    info.cyMinChild = static_cast<UINT>(ScaledTo(kBands[i].minHeight, dpi));
    ::SendMessageW(bar_, RB_SETBANDINFOW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&info));
  }
}

void CoolBar::SetImages(HIMAGELIST images) {
  int width = 16, height = 16;
  ::ImageList_GetIconSize(images, &width, &height);
  ::SendMessageW(toolBar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(width, height));
  ::SendMessageW(toolBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
  ::SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
}

}  // namespace tavrin
