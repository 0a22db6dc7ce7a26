#include "Main.h"

#include <algorithm>
#include <cwchar>
#include <initializer_list>

#include "AboutBox.h"
#include "CodePage.h"
#include "Pictures.h"
#include "Texts.h"
#include "Win32DesktopServices.h"
#include "platform/windows/WideText.h"

namespace tavrin {

namespace {

// The control draws nothing until the end of a change to many of its rows, then all at once.
class WithoutRedraw {
 public:
  explicit WithoutRedraw(HWND control) : control_(control) {
    ::SendMessageW(control_, WM_SETREDRAW, FALSE, 0);
  }
  ~WithoutRedraw() {
    ::SendMessageW(control_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(control_, nullptr, TRUE);
  }
  WithoutRedraw(const WithoutRedraw&) = delete;
  WithoutRedraw& operator=(const WithoutRedraw&) = delete;

 private:
  HWND control_;
};

constexpr wchar_t kMainClass[] = L"TavrinMain";
constexpr wchar_t kPageClass[] = L"TavrinPage";

// Ids of the controls, apart from the menu's command ids.
enum ControlId : int {
  kIdCoolBar = 1001,
  kIdToolBar,
  kIdMenuBar,
  kIdPages,
  kIdList,
  kIdViewPath,
  kIdView,
  kIdStatus,
};

constexpr int kColumnName = 0;
constexpr int kColumnPath = 1;
constexpr int kColumnTask = 2;

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

// The cool bar's bands at 96 dpi: band 1 the toolbar, band 2 the menu row.
struct BandSize {
  int width, minWidth, minHeight;
};
constexpr BandSize kBands[] = {{175, 162, 22}, {451, 170, 20}};

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

void SetFont(HWND control, HFONT font, bool redraw = false) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

// The edit control breaks lines at CR LF only.
std::wstring WithCrLf(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') out.push_back(L'\r');
    out.push_back(c);
  }
  return out;
}

bool IsInside(HWND control, HWND container) {
  return control != nullptr && (control == container || ::IsChild(container, control));
}

TFMain* FromHwnd(HWND hwnd) {
  return reinterpret_cast<TFMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

const char* ToolButtonName(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kToolButtons)) ? kToolButtons[index].name
                                                                         : "";
}

bool TFMain::RegisterClasses(HINSTANCE instance) {
  static const bool registered = [instance] {
    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.style = CS_HREDRAW | CS_VREDRAW;
    main.lpfnWndProc = &TFMain::WindowProc;
    main.hInstance = instance;
    main.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kMainClass;
    WNDCLASSEXW page = main;
    page.style = 0;
    page.lpfnWndProc = &TFMain::PageProc;
    page.lpszClassName = kPageClass;
    return ::RegisterClassExW(&main) != 0 && ::RegisterClassExW(&page) != 0;
  }();
  return registered;
}

TFMain::TFMain(DesktopServices& services) : behaviour_(*this, services) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterClasses(instance);
  const std::wstring title = WideForDisplay(texts::kApplicationTitle);
  ::CreateWindowExW(0, kMainClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, this);
  dpi_ = DpiOf(hwnd_);
  smallIcon_ = CreateProgramIcon(16);
  bigIcon_ = CreateProgramIcon(32);
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  tilMain = CreateTilMain();
  BuildFonts();
  BuildMenus();
  BuildCoolBar();
  BuildPages();
  BuildStatusBar();

  // The client area at the monitor's scale, in the middle of its work area.
  RECT frame{0, 0, Scaled(632), Scaled(453)};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();

  ::DragAcceptFiles(hwnd_, TRUE);
  Forward(&WindowBehaviour::FormCreate);
}

TFMain::~TFMain() {
  if (hwnd_ != nullptr && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  for (HMENU menu : {tmiFile, tmiEdit, tmiHelp}) ::DestroyMenu(menu);
  for (HBITMAP bitmap : menuBitmaps_) ::DeleteObject(bitmap);
  for (HFONT font : {formFont_, uiFont_, fixedFont_}) ::DeleteObject(font);
  ::ImageList_Destroy(tilMain);
  ::DestroyIcon(smallIcon_);
  ::DestroyIcon(bigIcon_);
}

int TFMain::Scaled(int pixels) const {
  return ::MulDiv(pixels, static_cast<int>(dpi_), 96);
}

void TFMain::Name(HWND control, const char* name) {
  names_.emplace_back(name, control);
}

HWND TFMain::Control(std::string_view name) const {
  for (const auto& [known, control] : names_) {
    if (known == name) return control;
  }
  return nullptr;
}

std::string TFMain::NameOf(HWND control) const {
  for (const auto& [known, named] : names_) {
    if (named == control) return known;
  }
  return {};
}

void TFMain::Forward(void (WindowBehaviour::*handler)()) {
  behaviour_.Handle([this, handler] { (behaviour_.*handler)(); });
}

void TFMain::AddResultList(const std::string& path) {
  behaviour_.Handle([this, path] { behaviour_.AddResultList(path); });
}

// ---- building ----

// At the window's DPI; again when it changes, the controls then taking the new fonts before the
// old ones go.
void TFMain::BuildFonts() {
  const HFONT old[] = {formFont_, uiFont_, fixedFont_};
  formFont_ = MakeFont({L"ＭＳ Ｐゴシック", L"MS PGothic"}, Scaled(12));
  uiFont_ = MakeFont({L"MS UI Gothic"}, Scaled(12));
  fixedFont_ = MakeFont({L"ＭＳ ゴシック", L"MS Gothic"}, Scaled(12));
  SetFont(hwnd_, formFont_);
  for (const auto& [control, font] : fonts_) SetFont(control, this->*font, true);
  for (HFONT font : old) {
    if (font != nullptr) ::DeleteObject(font);
  }
}

void TFMain::UseFont(HWND control, HFONT TFMain::*font) {
  SetFont(control, this->*font);
  fonts_.emplace_back(control, font);
}

void TFMain::BuildMenus() {
  auto addItem = [this](HMENU menu, int id, const wchar_t* caption, int image) {
    ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), caption);
    HBITMAP bitmap = CreateTilMainBitmap(image);
    menuBitmaps_.push_back(bitmap);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    info.hbmpItem = bitmap;
    ::SetMenuItemInfoW(menu, static_cast<UINT>(id), FALSE, &info);
  };
  tmiFile = ::CreatePopupMenu();
  addItem(tmiFile, kIdFileRun, L"実行(&R)", 4);
  addItem(tmiFile, kIdFileFindFile, L"ファイル検索ダイアログを表示する(&F)", 11);
  ::AppendMenuW(tmiFile, MF_SEPARATOR, 0, nullptr);  // tmiFileHR01
  addItem(tmiFile, kIdFileClose, L"閉じる(&C)", 5);
  tmiEdit = ::CreatePopupMenu();
  addItem(tmiEdit, kIdEditListClear, L"選択した項目をクリア(&S)", 6);
  addItem(tmiEdit, kIdEditListAllClear, L"リストを全てクリア(&C)", 7);
  ::AppendMenuW(tmiEdit, MF_SEPARATOR, 0, nullptr);  // tmiEditHR01
  addItem(tmiEdit, kIdEditListIsRecycled, L"リストファイルをごみ箱へ(&R)", 9);
  ::AppendMenuW(tmiEdit, MF_SEPARATOR, 0, nullptr);  // tmiEditHR02
  addItem(tmiEdit, kIdEditCEntity, L"「CEntity.txt」の読み込みを確認する(&E)", 10);
  tmiHelp = ::CreatePopupMenu();
  addItem(tmiHelp, kIdHelpVersion, L"バージョン情報(&A)...", 8);
}

void TFMain::BuildCoolBar() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  // One common band height, band borders, a band maximised by a double click on its gripper.
  tcbMain =
      ::CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                            RBS_BANDBORDERS | RBS_DBLCLKTOGGLE | CCS_NODIVIDER | CCS_TOP,
                        0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kIdCoolBar), instance, nullptr);
  Name(tcbMain, "tcbMain");
  REBARINFO bar{};
  bar.cbSize = sizeof bar;
  ::SendMessageW(tcbMain, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&bar));

  // No TBSTYLE_TOOLTIPS: no menu item carries a hint, so no tooltip is ever shown.
  constexpr DWORD kBandToolBar =
      WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN;
  ttbMain = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, kBandToolBar, 0, 0, 0, 0, tcbMain,
                              reinterpret_cast<HMENU>(kIdToolBar), instance, nullptr);
  Name(ttbMain, "ttbMain");
  ::SendMessageW(ttbMain, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(ttbMain, TB_SETPARENT, reinterpret_cast<WPARAM>(hwnd_), 0);
  ::SendMessageW(ttbMain, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
  ::SendMessageW(ttbMain, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(tilMain));
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
  ::SendMessageW(ttbMain, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));

  // The menu as flat caption buttons; each opens its menu as a menu bar would.
  ttbMenu = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, kBandToolBar | TBSTYLE_LIST, 0, 0, 0,
                              0, tcbMain, reinterpret_cast<HMENU>(kIdMenuBar), instance, nullptr);
  Name(ttbMenu, "ttbMenu");
  ::SendMessageW(ttbMenu, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(ttbMenu, TB_SETPARENT, reinterpret_cast<WPARAM>(hwnd_), 0);
  UseFont(ttbMenu, &TFMain::uiFont_);
  ::SendMessageW(ttbMenu, TB_SETIMAGELIST, 0, 0);
  const wchar_t* captions[] = {L"ファイル(&F)", L"編集(&E)", L"ヘルプ(&H)"};
  buttons.clear();
  for (int i = 0; i < 3; ++i) {
    TBBUTTON button{};
    button.iBitmap = I_IMAGENONE;
    button.idCommand = kIdMenuFile + i;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON | BTNS_DROPDOWN;
    button.iString = reinterpret_cast<INT_PTR>(captions[i]);
    buttons.push_back(button);
  }
  ::SendMessageW(ttbMenu, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
  ::SendMessageW(ttbMenu, TB_SETBUTTONSIZE, 0, MAKELPARAM(Scaled(63), Scaled(20)));

  const HWND children[] = {ttbMain, ttbMenu};
  for (int i = 0; i < 2; ++i) {
    REBARBANDINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_STYLE;
    info.fStyle = RBBS_GRIPPERALWAYS | RBBS_CHILDEDGE;
    info.hwndChild = children[i];
    info.cx = static_cast<UINT>(Scaled(kBands[i].width));
    info.cxMinChild = static_cast<UINT>(Scaled(kBands[i].minWidth));
    info.cyMinChild = static_cast<UINT>(Scaled(kBands[i].minHeight));
    ::SendMessageW(tcbMain, RB_INSERTBANDW, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&info));
  }
}

void TFMain::BuildPages() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  tpcMain =
      ::CreateWindowExW(0, WC_TABCONTROLW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_BUTTONS |
                            TCS_FLATBUTTONS | TCS_MULTILINE,
                        0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kIdPages), instance, nullptr);
  Name(tpcMain, "tpcMain");
  UseFont(tpcMain, &TFMain::uiFont_);
  TabCtrl_SetImageList(tpcMain, tilMain);
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
  auto makePage = [&](HWND parent, const char* name, DWORD visible) {
    HWND page = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, nullptr,
                                  WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | visible, 0, 0, 0,
                                  0, parent, nullptr, instance, this);
    ::SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Name(page, name);
    return page;
  };
  ttsMain = makePage(hwnd_, "ttsMain", WS_VISIBLE);
  ttsView = makePage(hwnd_, "ttsView", 0);
  pnlView = makePage(ttsView, "pnlView", WS_VISIBLE);

  // Selection shown only while the list has the focus: no LVS_SHOWSELALWAYS.
  lvwResult = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER, 0,
      0, 0, 0, ttsMain, reinterpret_cast<HMENU>(kIdList), instance, nullptr);
  Name(lvwResult, "lvwResult");
  UseFont(lvwResult, &TFMain::fixedFont_);
  ListView_SetExtendedListViewStyle(lvwResult, LVS_EX_FULLROWSELECT);
  ListView_SetImageList(lvwResult, tilMain, LVSIL_SMALL);
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
    column.cx = Scaled(columns[i].width);
    ::SendMessageW(lvwResult, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&column));
  }

  // The path line takes no focus (see ControlProc); the text takes it on entering the page.
  tmeViewPath = ::CreateWindowExW(0, WC_EDITW, nullptr,
                                  WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL, 0, 0, 0, 0,
                                  pnlView, reinterpret_cast<HMENU>(kIdViewPath), instance, nullptr);
  Name(tmeViewPath, "tmeViewPath");
  UseFont(tmeViewPath, &TFMain::uiFont_);
  // Word wrap: no ES_AUTOHSCROLL, and no WS_HSCROLL, which would switch wrapping off; the
  // horizontal bar is shown, with nothing to scroll.
  tmeView = ::CreateWindowExW(
      0, WC_EDITW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
      0, 0, 0, 0, pnlView, reinterpret_cast<HMENU>(kIdView), instance, nullptr);
  Name(tmeView, "tmeView");
  UseFont(tmeView, &TFMain::fixedFont_);
  ::SendMessageW(tmeView, EM_SETLIMITTEXT, 0, 0);
  ::ShowScrollBar(tmeView, SB_HORZ, TRUE);
  ::EnableScrollBar(tmeView, SB_HORZ, ESB_DISABLE_BOTH);

  for (HWND control : {lvwResult, tmeViewPath, tmeView, tpcMain}) {
    ::SetWindowSubclass(control, &TFMain::ControlProc, 0, reinterpret_cast<DWORD_PTR>(this));
  }
}

void TFMain::BuildStatusBar() {
  tsbMain = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                              0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kIdStatus),
                              ::GetModuleHandleW(nullptr), nullptr);
  Name(tsbMain, "tsbMain");
  UseFont(tsbMain, &TFMain::formFont_);
  int parts[] = {-1};
  ::SendMessageW(tsbMain, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  ::SendMessageW(tsbMain, SB_SETMINHEIGHT, static_cast<WPARAM>(Scaled(20)), 0);
}

// ---- layout ----

void TFMain::Layout() {
  RECT client;
  ::GetClientRect(hwnd_, &client);
  ::SendMessageW(tsbMain, WM_SIZE, 0, 0);
  ::SendMessageW(tcbMain, WM_SIZE, 0, 0);
  RECT status, bar;
  ::GetWindowRect(tsbMain, &status);
  ::GetWindowRect(tcbMain, &bar);
  const int top = (bar.bottom - bar.top) + Scaled(5);  // tblTopSpacer
  const int bottom = client.bottom - (status.bottom - status.top);
  ::MoveWindow(tpcMain, 0, top, client.right, std::max(0, bottom - top), TRUE);

  RECT display{0, 0, client.right, std::max(0, bottom - top)};
  TabCtrl_AdjustRect(tpcMain, FALSE, &display);
  ::OffsetRect(&display, 0, top);
  const int width = std::max(0, static_cast<int>(display.right - display.left));
  const int height = std::max(0, static_cast<int>(display.bottom - display.top));
  for (HWND page : {ttsMain, ttsView}) {
    ::MoveWindow(page, display.left, display.top, width, height, TRUE);
  }
  ::MoveWindow(lvwResult, 0, 0, width, height, TRUE);
  ::MoveWindow(pnlView, 0, 0, width, height, TRUE);
  const int inset = 2;  // the panel's bevel
  const int pathHeight = Scaled(16);
  ::MoveWindow(tmeViewPath, inset, inset, std::max(0, width - 2 * inset), pathHeight, TRUE);
  ::MoveWindow(tmeView, inset, inset + pathHeight, std::max(0, width - 2 * inset),
               std::max(0, height - 2 * inset - pathHeight), TRUE);
  FitPathColumn();
}

// Moved to a monitor of another DPI: everything sized at 96 dpi is sized again, and what the user
// sized (bands, columns) keeps its size relative to the text.
void TFMain::OnDpiChanged(UINT dpi, const RECT& suggested) {
  const UINT old = dpi_;
  if (dpi == 0 || dpi == old) return;
  dpi_ = dpi;
  const auto rescaled = [&](int pixels) {
    return ::MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(old));
  };
  BuildFonts();
  ::SendMessageW(ttbMenu, TB_SETBUTTONSIZE, 0, MAKELPARAM(Scaled(63), Scaled(20)));
  for (int i = 0; i < 2; ++i) {
    REBARBANDINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_SIZE;
    ::SendMessageW(tcbMain, RB_GETBANDINFOW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&info));
    info.fMask = RBBIM_CHILDSIZE | RBBIM_SIZE;
    info.cx = static_cast<UINT>(rescaled(static_cast<int>(info.cx)));
    info.cxMinChild = static_cast<UINT>(Scaled(kBands[i].minWidth));
    info.cyMinChild = static_cast<UINT>(Scaled(kBands[i].minHeight));
    ::SendMessageW(tcbMain, RB_SETBANDINFOW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&info));
  }
  for (int column : {kColumnName, kColumnTask}) {
    ListView_SetColumnWidth(lvwResult, column,
                            rescaled(ListView_GetColumnWidth(lvwResult, column)));
  }
  ::SendMessageW(tsbMain, SB_SETMINHEIGHT, static_cast<WPARAM>(Scaled(20)), 0);
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFMain::FitPathColumn() {
  RECT client;
  ::GetClientRect(lvwResult, &client);
  const int rest = client.right - ListView_GetColumnWidth(lvwResult, kColumnName) -
                   ListView_GetColumnWidth(lvwResult, kColumnTask);
  const int wanted = std::max(rest, Scaled(20));
  if (ListView_GetColumnWidth(lvwResult, kColumnPath) != wanted) {
    ListView_SetColumnWidth(lvwResult, kColumnPath, wanted);
  }
}

void TFMain::ShowCurrentPage() {
  const bool view = TabCtrl_GetCurSel(tpcMain) == 1;
  ::ShowWindow(view ? ttsView : ttsMain, SW_SHOW);
  ::ShowWindow(view ? ttsMain : ttsView, SW_HIDE);
}

// ---- window procedures ----

LRESULT CALLBACK TFMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TFMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  TFMain* self = FromHwnd(hwnd);
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

// The pages and the panel hand their children's notices to the main window.
LRESULT CALLBACK TFMain::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(
        hwnd, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  TFMain* self = FromHwnd(hwnd);
  if (self != nullptr && self->hwnd_ != nullptr) {
    switch (message) {
      case WM_NOTIFY:
      case WM_COMMAND:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
        return ::SendMessageW(self->hwnd_, message, wParam, lParam);
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
      default:
        break;
    }
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK TFMain::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TFMain*>(data);
  switch (message) {
    case WM_SETFOCUS:
      if (hwnd == self->tmeViewPath) {
        // The path line takes no focus: it goes back where it came from.
        const auto previous = reinterpret_cast<HWND>(wParam);
        ::SetFocus(previous != nullptr && ::IsChild(self->hwnd_, previous) ? previous
                                                                           : self->tmeView);
        return 0;
      }
      {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        self->OnFocusChanged(hwnd);
        return result;
      }
    case WM_LBUTTONDBLCLK:
      if (hwnd == self->tmeView) {
        self->Forward(&WindowBehaviour::tmeViewDblClick);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &TFMain::ControlProc, 0);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT TFMain::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0 && lParam == 0) {
        OnCommand(LOWORD(wParam));  // a menu item
        return 0;
      }
      if (HIWORD(wParam) == BN_CLICKED && reinterpret_cast<HWND>(lParam) == ttbMain) {
        OnCommand(LOWORD(wParam));
        return 0;
      }
      break;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_SYSCOMMAND:
      // Alt with a letter: the menu button whose access key it is (Alt+Space stays the
      // system menu's). F10, or Alt alone: the first menu, as a menu bar would take them; the
      // system would enter its own menu unseen and take the next keys.
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0) {
        OpenMenu(kIdMenuFile, true);
        return 0;
      }
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam != L' ') {
        OnSysKeyMenu(static_cast<wchar_t>(lParam));
        return 0;
      }
      break;
    case WM_ACTIVATE:
      // Coming back from a box or another program, the focus returns where it was: no move.
      if (LOWORD(wParam) != WA_INACTIVE) {
        ::SetFocus(lastFocus_ != nullptr && ::IsWindowVisible(lastFocus_) ? lastFocus_ : tpcMain);
        return 0;
      }
      break;
    case WM_SETFOCUS:
      ::SetFocus(lastFocus_ != nullptr && ::IsWindowVisible(lastFocus_) ? lastFocus_ : tpcMain);
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
      // The memos show button-face colours, as the rest of the window's chrome does.
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_MENUSELECT:
      // Where the open menu's selection is, for Left and Right (see MenuKeyFilter).
      if (menuShown_ != nullptr) {
        menuSelectedIn_ = reinterpret_cast<HMENU>(lParam);
        menuSelectedFlags_ = HIWORD(wParam) == 0xFFFF ? 0 : HIWORD(wParam);
      }
      break;
    case WM_SETTINGCHANGE:
      InitCodePageFromLocale();
      break;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      // Closing in the middle of a run, or under its error box, closes after them: nothing is
      // left half written, and no box stays without its window.
      if (behaviour_.IsHoldingEvents()) {
        behaviour_.Handle([this] {
          if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
        });
        return 0;
      }
      ::DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      if (quitWhenClosed) ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT TFMain::OnNotify(const NMHDR& header) {
  if (header.hwndFrom == lvwResult && header.code == NM_DBLCLK) {
    Forward(&WindowBehaviour::lvwResultDblClick);
    return 0;
  }
  if (header.hwndFrom == tpcMain && header.code == TCN_SELCHANGING) {
    focusInOldPage_ = IsInside(::GetFocus(), TabCtrl_GetCurSel(tpcMain) == 1 ? ttsView : ttsMain);
    return FALSE;
  }
  if (header.hwndFrom == tpcMain && header.code == TCN_SELCHANGE) {
    OnPageChanged(focusInOldPage_);
    return 0;
  }
  if (header.hwndFrom == ttbMenu && header.code == TBN_DROPDOWN) {
    OpenMenu(reinterpret_cast<const NMTOOLBARW&>(header).iItem, false);
    return TBDDRET_DEFAULT;
  }
  if (header.hwndFrom == ListView_GetHeader(lvwResult) &&
      (header.code == HDN_ITEMCHANGEDW || header.code == HDN_ITEMCHANGEDA)) {
    // The path column takes what the other two leave.
    if (reinterpret_cast<const NMHEADERW&>(header).iItem != kColumnPath) FitPathColumn();
    return 0;
  }
  return 0;
}

void TFMain::OnCommand(int id) {
  switch (id) {
    case kIdFileRun:
      Forward(&WindowBehaviour::tmiFileRunClick);
      break;
    case kIdFileFindFile:
      Forward(&WindowBehaviour::tmiFileFindFileClick);
      break;
    case kIdFileClose:
      Forward(&WindowBehaviour::tmiFileCloseClick);
      break;
    case kIdEditListClear:
      Forward(&WindowBehaviour::tmiEditListClearClick);
      break;
    case kIdEditListAllClear:
      Forward(&WindowBehaviour::tmiEditListAllClearClick);
      break;
    case kIdEditListIsRecycled:
      Forward(&WindowBehaviour::tmiEditListIsRecycledClick);
      break;
    case kIdEditCEntity:
      Forward(&WindowBehaviour::tmiEditCEntityClick);
      break;
    case kIdHelpVersion:
      Forward(&WindowBehaviour::tmiHelpVersionClick);
      break;
    default:
      break;
  }
}

void TFMain::OnDropFiles(HDROP drop) {
  // The names are taken now, whole (no length limit), and the handle released; a drop that
  // arrives while a run paints is handled after the run.
  std::vector<std::string> paths;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    const UINT got = ::DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(got);
    paths.push_back(Utf8FromWide(path));
  }
  ::DragFinish(drop);
  behaviour_.Handle([this, paths = std::move(paths)] { behaviour_.DropFiles(paths); });
}

void TFMain::OnFocusChanged(HWND now) {
  // Only a move between this window's own controls counts; the focus leaving for a box or
  // another program and coming back is no move (see WM_ACTIVATE).
  if (now == nullptr || !::IsChild(hwnd_, now)) return;
  const bool entered = IsInside(now, ttsView) && !IsInside(lastFocus_, ttsView);
  lastFocus_ = now;
  if (entered) Forward(&WindowBehaviour::ttsViewEnter);
}

void TFMain::OnPageChanged(bool focusWasInOldPage) {
  const bool view = TabCtrl_GetCurSel(tpcMain) == 1;
  HWND page = view ? ttsView : ttsMain;
  // The new page shows before the old one hides, so the focus never falls to the window.
  ::ShowWindow(page, SW_SHOW);
  if (focusWasInOldPage) ::SetFocus(view ? tmeView : lvwResult);
  ShowCurrentPage();
}

void TFMain::OnSysKeyMenu(wchar_t key) {
  UINT button = 0;
  if (::SendMessageW(ttbMenu, TB_MAPACCELERATORW, key, reinterpret_cast<LPARAM>(&button))) {
    OpenMenu(static_cast<int>(button), true);
  } else {
    ::MessageBeep(0);
  }
}

namespace {
// The window whose menu is open; menus are modal, so there is at most one per thread.
thread_local TFMain* menuOwner = nullptr;
}  // namespace

// Left and Right while a menu is open: on a menu bar they go to the neighbouring menu, which a
// popup menu on its own does not know of. The key is taken here, the menu ended, and OpenMenu
// opens the neighbour. Left inside a submenu closes that submenu, and Right on an item with a
// submenu opens it, as the menu itself does. Likewise the mouse moving onto another caption
// button opens that button's menu.
LRESULT CALLBACK TFMain::MenuKeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const MSG*>(lParam);
  TFMain* self = menuOwner;
  if (code == MSGF_MENU && self != nullptr && message->message == WM_MOUSEMOVE &&
      (message->pt.x != self->menuMouse_.x || message->pt.y != self->menuMouse_.y)) {
    // Only a real move counts: a menu that opens under a still mouse brings a move message too.
    self->menuMouse_ = message->pt;
    POINT at = message->pt;
    ::ScreenToClient(self->ttbMenu, &at);
    const auto index = static_cast<int>(
        ::SendMessageW(self->ttbMenu, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&at)));
    TBBUTTON button{};
    if (index >= 0 &&
        ::SendMessageW(self->ttbMenu, TB_GETBUTTON, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(&button)) &&
        button.idCommand != self->menuButton_) {
      self->menuPointedAt_ = button.idCommand;
      ::EndMenu();
      return TRUE;
    }
  }
  if (code == MSGF_MENU && self != nullptr && message->message == WM_KEYDOWN &&
      (message->wParam == VK_LEFT || message->wParam == VK_RIGHT)) {
    const bool left = message->wParam == VK_LEFT;
    const HMENU top = self->menuShown_;
    const bool onTop = self->menuSelectedIn_ == nullptr || self->menuSelectedIn_ == top;
    const bool opensSubmenu = (self->menuSelectedFlags_ & MF_POPUP) != 0;
    if (left ? onTop : !opensSubmenu) {
      self->menuMove_ = left ? -1 : 1;
      ::EndMenu();
      return TRUE;
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void TFMain::OpenMenu(int button, bool fromKeyboard) {
  constexpr int kMenus = kIdMenuHelp - kIdMenuFile + 1;
  int chosen = 0;
  ::GetCursorPos(&menuMouse_);
  while (true) {
    HMENU popup = button == kIdMenuFile   ? tmiFile
                  : button == kIdMenuEdit ? tmiEdit
                  : button == kIdMenuHelp ? tmiHelp
                                          : nullptr;
    if (popup == nullptr) return;
    if (whileMenuShows) {
      chosen = whileMenuShows(popup);
      break;
    }
    RECT rect{};
    ::SendMessageW(ttbMenu, TB_GETRECT, static_cast<WPARAM>(button),
                   reinterpret_cast<LPARAM>(&rect));
    ::MapWindowPoints(ttbMenu, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    TPMPARAMS params{};
    params.cbSize = sizeof params;
    params.rcExclude = rect;
    // Opened from the keyboard, the first item is selected, as in a menu bar.
    if (fromKeyboard) ::PostMessageW(hwnd_, WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageW(ttbMenu, TB_PRESSBUTTON, static_cast<WPARAM>(button), TRUE);
    menuButton_ = button;
    menuShown_ = popup;
    menuSelectedIn_ = nullptr;
    menuSelectedFlags_ = 0;
    menuMove_ = 0;
    menuPointedAt_ = 0;
    menuOwner = this;
    HHOOK filter =
        ::SetWindowsHookExW(WH_MSGFILTER, &TFMain::MenuKeyFilter, nullptr, ::GetCurrentThreadId());
    chosen = static_cast<int>(
        ::TrackPopupMenuEx(popup, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL,
                           rect.left, rect.bottom, hwnd_, &params));
    if (filter != nullptr) ::UnhookWindowsHookEx(filter);
    menuOwner = nullptr;
    menuShown_ = nullptr;
    if (hwnd_ == nullptr) return;  // closed while the menu was open
    ::SendMessageW(ttbMenu, TB_PRESSBUTTON, static_cast<WPARAM>(button), FALSE);
    if (chosen != 0) break;
    if (menuPointedAt_ != 0) {
      button = menuPointedAt_;
      fromKeyboard = false;
      continue;
    }
    if (menuMove_ == 0) break;
    // The neighbour, round the row's ends, opened as from the keyboard.
    button = kIdMenuFile + (button - kIdMenuFile + menuMove_ + kMenus) % kMenus;
    fromKeyboard = true;
  }
  if (chosen != 0) OnCommand(chosen);
}

bool TFMain::PreTranslateMessage(const MSG& message) {
  if (hwnd_ == nullptr || (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) return false;
  if (message.message == WM_SYSKEYDOWN && (HIWORD(message.lParam) & KF_ALTDOWN) &&
      message.wParam >= 'A' && message.wParam <= 'Z') {
    UINT button = 0;
    if (::SendMessageW(ttbMenu, TB_MAPACCELERATORW, message.wParam,
                       reinterpret_cast<LPARAM>(&button))) {
      OpenMenu(static_cast<int>(button), true);
      return true;
    }
    return false;
  }
  if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) return false;
  const bool control = ::GetKeyState(VK_CONTROL) < 0;
  if (control) {
    // Ctrl+Tab and Ctrl+Shift+Tab: the other page, as a click on its tab would.
    const bool focusWasInPage =
        IsInside(::GetFocus(), TabCtrl_GetCurSel(tpcMain) == 1 ? ttsView : ttsMain);
    TabCtrl_SetCurSel(tpcMain, TabCtrl_GetCurSel(tpcMain) == 1 ? 0 : 1);
    OnPageChanged(focusWasInPage);
    return true;
  }
  // Tab and Shift+Tab between the tab strip and the page's first control.
  HWND first = TabCtrl_GetCurSel(tpcMain) == 1 ? tmeView : lvwResult;
  ::SetFocus(::GetFocus() == tpcMain ? first : tpcMain);
  return true;
}

// ---- what the behaviour shows ----

void TFMain::RowsAppended(std::span<const FileListItem> rows) {
  // One repaint for the whole drop, and room for every row made once.
  const int first = ListView_GetItemCount(lvwResult);
  const WithoutRedraw quiet(lvwResult);
  ListView_SetItemCount(lvwResult, first + static_cast<int>(rows.size()));
  for (const FileListItem& row : rows) {
    const std::wstring name = WideForDisplay(row.shownName);
    const std::wstring path = WideForDisplay(row.shownPath);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(lvwResult);
    item.pszText = const_cast<wchar_t*>(name.c_str());
    const int index = static_cast<int>(
        ::SendMessageW(lvwResult, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    item.iItem = index;
    item.iSubItem = kColumnPath;
    item.pszText = const_cast<wchar_t*>(path.c_str());
    ::SendMessageW(lvwResult, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&item));
    RowChanged(index, row);
  }
}

void TFMain::RowChanged(int row, const FileListItem& state) {
  const std::wstring task = WideForDisplay(state.taskText);
  LVITEMW item{};
  item.iItem = row;
  item.iSubItem = kColumnTask;
  item.pszText = const_cast<wchar_t*>(task.c_str());
  ::SendMessageW(lvwResult, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  LVITEMW image{};
  image.mask = LVIF_IMAGE;
  image.iItem = row;
  image.iImage = state.imageIndex;
  ::SendMessageW(lvwResult, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&image));
}

void TFMain::RowsRemoved(const std::vector<int>& rows) {
  // Deleted from the last up, so that no row moves before its turn, with one repaint at the end.
  const WithoutRedraw quiet(lvwResult);
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) ListView_DeleteItem(lvwResult, *row);
}

void TFMain::RowsCleared() {
  ListView_DeleteAllItems(lvwResult);
}

std::vector<int> TFMain::SelectedRows() const {
  std::vector<int> rows;
  for (int row = ListView_GetNextItem(lvwResult, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(lvwResult, row, LVNI_SELECTED)) {
    rows.push_back(row);
  }
  return rows;
}

void TFMain::SetRowSelected(int row, bool selected) {
  ListView_SetItemState(lvwResult, row, selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
}

void TFMain::ScrollToRow(int row) {
  ListView_EnsureVisible(lvwResult, row, FALSE);
}

void TFMain::PaintNow(int row) {
  // The run stays inside its command. The window paints and answers what the system sends or
  // posts (a drop, a close, which the behaviour holds until the run ends); mouse and keyboard
  // input stays in its queue until then, so no other command can start in the middle.
  ScrollToRow(row);
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0,
                        PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    ::DispatchMessageW(&message);
  }
}

void TFMain::SetStatusText(std::string_view text) {
  const std::wstring shown = WideForDisplay(text);
  ::SendMessageW(tsbMain, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

void TFMain::SetPreview(std::string_view shownPath, std::string_view shownText) {
  ::SetWindowTextW(tmeView, WithCrLf(WideForDisplay(shownText)).c_str());
  ::SetWindowTextW(tmeViewPath, WideForDisplay(shownPath).c_str());
}

void TFMain::ShowPage(Page page) {
  const bool view = page == Page::kView;
  HWND first = view ? tmeView : lvwResult;
  TabCtrl_SetCurSel(tpcMain, view ? 1 : 0);
  ::ShowWindow(view ? ttsView : ttsMain, SW_SHOW);
  ::SetFocus(first);
  ShowCurrentPage();
  // Where the window is not active no focus moves; the focus is in the page all the same, so
  // its activation later is no move into it.
  lastFocus_ = first;
}

void TFMain::ShowAboutBox() {
  TFAboutBox::Execute(hwnd_, dpi_, whileAboutBoxShows);
}

void TFMain::CloseWindow() {
  ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

}  // namespace tavrin
