#include "Main.h"

#include <oleacc.h>

#include <algorithm>

#include "Accessible.h"
#include "CodePage.h"
#include "CoolBar.h"
#include "MenuRow.h"
#include "Pages.h"
#include "Pictures.h"
#include "Texts.h"
#include "Win32DesktopServices.h"
#include "platform/windows/WideText.h"

namespace tavrin {

namespace {

constexpr wchar_t kMainClass[] = L"TavrinMain";
constexpr int kIdStatus = 1008;

TFMain* FromHwnd(HWND hwnd) {
  return reinterpret_cast<TFMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

bool IsInside(HWND control, HWND container) {
  return control != nullptr && (control == container || ::IsChild(container, control));
}

bool TFMain::RegisterClasses(HINSTANCE instance) {
  static const bool registered = RegisterWindowClass(instance, kMainClass, &TFMain::WindowProc,
                                                     COLOR_BTNFACE, CS_HREDRAW | CS_VREDRAW) &&
                                 Pages::RegisterClasses(instance);
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
  tilMain = CreateTilMain(Scaled(16));
  fonts_.Build(dpi_);
  fonts_.Use(hwnd_, WindowFonts::kForm);

  coolBar_ = std::make_unique<CoolBar>(hwnd_, tilMain);
  tcbMain = coolBar_->Bar();
  ttbMain = coolBar_->ToolBar();
  menuRow_ = std::make_unique<MenuRow>(hwnd_, tcbMain, tilMain, fonts_, dpi_);
  ttbMenu = menuRow_->Bar();
  tmiFile = menuRow_->File();
  tmiEdit = menuRow_->Edit();
  tmiHelp = menuRow_->Help();
  coolBar_->AddBands(ttbMenu, dpi_);
  coolBar_->TakeCaptions({tmiFile, tmiEdit, tmiHelp});
  Name(tcbMain, "tcbMain");
  Name(ttbMain, "ttbMain");
  Name(ttbMenu, "ttbMenu");

  pages_ = std::make_unique<Pages>(hwnd_, tilMain, fonts_, dpi_);
  tpcMain = pages_->tpcMain;
  ttsMain = pages_->ttsMain;
  ttsView = pages_->ttsView;
  pnlView = pages_->pnlView;
  lvwResult = pages_->lvwResult;
  tmeViewPath = pages_->tmeViewPath;
  tmeView = pages_->tmeView;
  Name(tpcMain, "tpcMain");
  Name(ttsMain, "ttsMain");
  Name(ttsView, "ttsView");
  Name(pnlView, "pnlView");
  Name(lvwResult, "lvwResult");
  Name(tmeViewPath, "tmeViewPath");
  Name(tmeView, "tmeView");
  for (HWND control : {lvwResult, tmeViewPath, tmeView, tpcMain}) {
    ::SetWindowSubclass(control, &TFMain::ControlProc, 0, reinterpret_cast<DWORD_PTR>(this));
  }
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
  ::ImageList_Destroy(tilMain);
  ::DestroyIcon(smallIcon_);
  ::DestroyIcon(bigIcon_);
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

void TFMain::BuildStatusBar() {
  tsbMain = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                              0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kIdStatus),
                              ::GetModuleHandleW(nullptr), nullptr);
  Name(tsbMain, "tsbMain");
  fonts_.Use(tsbMain, WindowFonts::kForm);
  int parts[] = {-1};
  ::SendMessageW(tsbMain, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  // Read as "ステータス" with its text as the value, which is announced when it changes.
  AccessibleText status;
  status.role = ROLE_SYSTEM_STATUSBAR;
  status.name = [] { return std::wstring(L"ステータス"); };
  status.value = [bar = tsbMain] {
    std::wstring text(LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) + 1u, L'\0');
    text.resize(LOWORD(::SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()))));
    return text;
  };
  SetAccessibleText(tsbMain, std::move(status));
  FitStatusBar();
}

// 20 pixels high with the bar's own borders, or as high as its text needs.
void TFMain::FitStatusBar() {
  const int wanted = Scaled(20);
  ::SendMessageW(tsbMain, SB_SETMINHEIGHT, static_cast<WPARAM>(wanted), 0);
  ::SendMessageW(tsbMain, WM_SIZE, 0, 0);
  RECT rect;
  ::GetWindowRect(tsbMain, &rect);
  const int borders = (rect.bottom - rect.top) - wanted;
  if (borders > 0 && borders < wanted) {
    ::SendMessageW(tsbMain, SB_SETMINHEIGHT, static_cast<WPARAM>(wanted - borders), 0);
    ::SendMessageW(tsbMain, WM_SIZE, 0, 0);
  }
}

void TFMain::Layout() {
  if (pages_ == nullptr) return;  // not built yet
  RECT client;
  ::GetClientRect(hwnd_, &client);
  ::SendMessageW(tsbMain, WM_SIZE, 0, 0);
  ::SendMessageW(tcbMain, WM_SIZE, 0, 0);
  RECT status, bar;
  ::GetWindowRect(tsbMain, &status);
  ::GetWindowRect(tcbMain, &bar);
  const int top = (bar.bottom - bar.top) + Scaled(5);  // tblTopSpacer
  const int bottom = client.bottom - (status.bottom - status.top);
  pages_->Layout(top, bottom, client.right, dpi_);
}

// Moved to a monitor of another DPI: everything sized at 96 dpi is sized again, and what the user
// sized (bands, columns) keeps its size relative to the text.
void TFMain::OnDpiChanged(UINT dpi, const RECT& suggested) {
  const UINT old = dpi_;
  if (dpi == 0 || dpi == old) return;
  dpi_ = dpi;
  fonts_.Build(dpi);
  menuRow_->Rescale(dpi);
  coolBar_->Rescale(old, dpi);
  pages_->RescaleColumns(old, dpi);
  // The pictures at the new size, taken by every control before the old ones go.
  HIMAGELIST images = CreateTilMain(Scaled(16));
  coolBar_->SetImages(images);
  menuRow_->SetImages(images);
  pages_->SetImages(images);
  ::ImageList_Destroy(tilMain);
  tilMain = images;
  FitStatusBar();
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFMain::OpenMenu(int button, bool fromKeyboard) {
  menuRow_->whileShows = whileMenuShows;
  const int chosen = menuRow_->Open(button, fromKeyboard);
  if (chosen != 0) OnCommand(chosen);
}

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
    case kRowChangesMessage:
      ApplyRowChanges();
      return 0;
    case kPreviewSliceMessage:
      FeedPreview();
      return 0;
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
        const int button = menuRow_->ButtonOfKey(static_cast<wchar_t>(lParam));
        if (button != 0) {
          OpenMenu(button, true);
        } else {
          ::MessageBeep(0);
        }
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
      if (menuRow_ != nullptr) menuRow_->NoteSelection(wParam, lParam);
      break;
    case WM_MEASUREITEM:
      if (menuRow_ != nullptr &&
          menuRow_->MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam))) {
        return TRUE;
      }
      break;
    case WM_DRAWITEM:
      if (menuRow_ != nullptr &&
          menuRow_->DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
        return TRUE;
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
  if (pages_ == nullptr) return 0;  // not built yet
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
  if (pages_->IsListHeader(header.hwndFrom) &&
      (header.code == HDN_ITEMCHANGEDW || header.code == HDN_ITEMCHANGEDA)) {
    // The path column takes what the other two leave.
    if (!Pages::IsPathColumn(reinterpret_cast<const NMHEADERW&>(header).iItem)) {
      pages_->FitPathColumn(dpi_);
    }
    return 0;
  }
  return 0;
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
  pages_->ShowCurrent();
}

}  // namespace tavrin
