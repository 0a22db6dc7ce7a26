#include "ScrollingBox.h"

#include <algorithm>
#include <string>
#include <vector>

#include "BoxSize.h"
#include "WindowFonts.h"

namespace tavrin {

namespace {

constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kBoxExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

struct BoxButton {
  int id;
  const wchar_t* caption;
};

// What the box shows and what was answered; lives on ShowScrollingBox's stack.
struct BoxState {
  std::wstring text;  // lines ended by CR LF, as the edit control breaks them
  UINT type = 0;
  std::vector<BoxButton> buttons;
  int escapeAnswer = IDOK;
  int answer = 0;
  bool done = false;
  UINT dpi = 96;
  WindowFonts fonts;
  HWND pane = nullptr;
  HWND icon = nullptr;
  HWND focus = nullptr;
};

// The edit control breaks lines at CR LF only; a lone CR or LF ends a line too.
std::wstring WithEditLineEnds(const std::wstring& text) {
  std::wstring lines;
  lines.reserve(text.size() + text.size() / 8);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == L'\r' || text[at] == L'\n') {
      lines += L"\r\n";
      if (text[at] == L'\r' && at + 1 < text.size() && text[at + 1] == L'\n') ++at;
    } else {
      lines.push_back(text[at]);
    }
  }
  return lines;
}

HICON IconFor(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return ::LoadIconW(nullptr, IDI_HAND);
    case MB_ICONQUESTION:
      return ::LoadIconW(nullptr, IDI_QUESTION);
    case MB_ICONEXCLAMATION:
      return ::LoadIconW(nullptr, IDI_EXCLAMATION);
    case MB_ICONASTERISK:
      return ::LoadIconW(nullptr, IDI_ASTERISK);
    default:
      return nullptr;
  }
}

SIZE TextExtent(HWND window, HFONT font, const wchar_t* text, UINT format) {
  HDC dc = ::GetDC(window);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rect{0, 0, 0, 0};
  ::DrawTextW(dc, text, -1, &rect, format | DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

int LineHeight(HWND window, HFONT font) {
  HDC dc = ::GetDC(window);
  HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return std::max(1, static_cast<int>(metrics.tmHeight));
}

// A read-only pane of the text; it wraps at its width, a word wider than that included, so no
// text lies past its right edge.
HWND MakePane(HWND box, const BoxState& state, bool scrollsDown) {
  const DWORD style = WS_CHILD | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL |
                      (scrollsDown ? WS_VSCROLL : 0);
  HWND pane =
      ::CreateWindowExW(0, WC_EDITW, nullptr, style, 0, 0, 0, 0, box,
                        reinterpret_cast<HMENU>(kIdBoxPane), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(pane, EM_SETLIMITTEXT, 0, 0);
  ::SendMessageW(pane, WM_SETFONT, reinterpret_cast<WPARAM>(state.fonts.Get(WindowFonts::kUi)),
                 FALSE);
  ::SendMessageW(pane, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
  ::SetWindowTextW(pane, state.text.c_str());
  return pane;
}

// How wide the box must be for its title bar to show the whole caption beside its icon and
// buttons.
int CaptionWidth(HWND box, UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return 0;
  }
  HFONT font = ::CreateFontIndirectW(&metrics.lfCaptionFont);
  std::wstring caption(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
  caption.resize(static_cast<std::size_t>(
      ::GetWindowTextW(box, caption.data(), static_cast<int>(caption.size()))));
  const int text = TextExtent(box, font, caption.c_str(), DT_SINGLELINE).cx;
  ::DeleteObject(font);
  return text + ::GetSystemMetricsForDpi(SM_CXSMICON, dpi) +
         3 * ::GetSystemMetricsForDpi(SM_CXSIZE, dpi);
}

// How many lines the text takes wrapped at width, as the pane wraps it.
int WrappedLines(HWND box, const BoxState& state, int width) {
  HWND measure = MakePane(box, state, false);
  ::MoveWindow(measure, 0, 0, width, 1 << 14, FALSE);
  const int lines = static_cast<int>(::SendMessageW(measure, EM_GETLINECOUNT, 0, 0));
  ::DestroyWindow(measure);
  return std::max(lines, 1);
}

// Sizes the pane, the icon and the buttons at the box's DPI and places the box in the middle of
// the working area, which it never outgrows.
void LayOut(HWND box, BoxState& state, const RECT& work) {
  const auto scaled = [&state](int pixels) { return ScaledTo(pixels, state.dpi); };
  HFONT font = state.fonts.Get(WindowFonts::kUi);
  const int margin = scaled(11), gap = scaled(7);
  const int iconSide = state.icon != nullptr ? scaled(32) : 0;
  const int iconSpace = state.icon != nullptr ? iconSide + margin : 0;
  int buttonWidth = scaled(75);
  const int buttonHeight = scaled(23);
  for (const BoxButton& button : state.buttons) {
    buttonWidth = std::max(
        buttonWidth,
        static_cast<int>(TextExtent(box, font, button.caption, DT_SINGLELINE).cx) + scaled(16));
  }
  const int buttonCount = static_cast<int>(state.buttons.size());
  const int buttonsWidth = buttonCount * buttonWidth + (buttonCount - 1) * gap;

  // The frame's share, measured on the box itself.
  RECT frame, client;
  ::GetWindowRect(box, &frame);
  ::GetClientRect(box, &client);
  const int frameWidth = (frame.right - frame.left) - client.right;
  const int frameHeight = (frame.bottom - frame.top) - client.bottom;
  const Extent room{(work.right - work.left) - frameWidth - 2 * margin - iconSpace,
                    (work.bottom - work.top) - frameHeight - 2 * margin - gap - buttonHeight};
  const int bar = ::GetSystemMetricsForDpi(SM_CXVSCROLL, state.dpi);
  const int line = LineHeight(box, font);

  // The text as wide as its longest line, wrapped where that is wider than a box should be.
  const int widest = TextExtent(box, font, state.text.c_str(), 0).cx + 1;
  int width = std::max(1, std::min({widest, BoxWrapWidth(work.right - work.left, state.dpi),
                                    std::max(room.width, 3 * bar)}));
  BoxPane pane = FitTextPane({width, WrappedLines(box, state, width) * line}, room, bar, line);
  if (pane.scrollsAcross) {
    // No room beside the text for the bar down: the text wraps narrower instead.
    width = std::max(1, pane.size.width - bar);
    pane = FitTextPane({width, WrappedLines(box, state, width) * line}, room, bar, line);
    pane.size.width = width + bar;
    pane.scrollsAcross = false;
  }

  const bool hadFocus = state.pane != nullptr && ::GetFocus() == state.pane;
  if (state.pane != nullptr) ::DestroyWindow(state.pane);
  state.pane = MakePane(box, state, pane.scrollsDown);
  ::SetWindowPos(state.pane, HWND_TOP, margin + iconSpace, margin, pane.size.width,
                 pane.size.height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
  if (hadFocus) ::SetFocus(state.pane);

  const int textHeight = std::max(pane.size.height, iconSide);
  // Wide enough for the caption, as far as the working area allows.
  const int captionWidth =
      std::min(CaptionWidth(box, state.dpi), static_cast<int>(work.right - work.left)) - frameWidth;
  const int clientWidth =
      std::max({iconSpace + pane.size.width + 2 * margin, buttonsWidth + 2 * margin, captionWidth});
  const int clientHeight = margin + textHeight + gap + buttonHeight + margin;
  if (state.icon != nullptr) {
    ::SetWindowPos(state.icon, nullptr, margin, margin, iconSide, iconSide,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  int x = (clientWidth - buttonsWidth) / 2;
  for (const BoxButton& button : state.buttons) {
    HWND control = ::GetDlgItem(box, button.id);
    ::SetWindowPos(control, nullptr, x, margin + textHeight + gap, buttonWidth, buttonHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    x += buttonWidth + gap;
  }
  const int boxWidth = std::min(clientWidth + frameWidth, static_cast<int>(work.right - work.left));
  const int boxHeight =
      std::min(clientHeight + frameHeight, static_cast<int>(work.bottom - work.top));
  ::SetWindowPos(box, nullptr, work.left + (work.right - work.left - boxWidth) / 2,
                 work.top + (work.bottom - work.top - boxHeight) / 2, boxWidth, boxHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(box, nullptr, TRUE);
}

RECT WorkAreaOf(HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ::GetMonitorInfoW(monitor, &info);
  return info.rcWork;
}

void Answer(HWND box, int answer) {
  auto* state = reinterpret_cast<BoxState*>(::GetWindowLongPtrW(box, GWLP_USERDATA));
  if (state == nullptr || state->done) return;
  state->answer = answer;
  state->done = true;
}

LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<BoxState*>(::GetWindowLongPtrW(box, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && state != nullptr) {
        for (const BoxButton& button : state->buttons) {
          if (button.id == LOWORD(wParam)) Answer(box, button.id);
        }
      }
      return 0;
    case WM_CLOSE:
      if (state != nullptr) Answer(box, state->escapeAnswer);
      return 0;
    case WM_ACTIVATE:
      // The focus comes back where it was when the user returns to the box.
      if (state != nullptr) {
        if (LOWORD(wParam) == WA_INACTIVE) {
          HWND focus = ::GetFocus();
          if (focus != nullptr && ::IsChild(box, focus)) state->focus = focus;
        } else if (state->focus != nullptr && ::IsWindow(state->focus)) {
          ::SetFocus(state->focus);
          return 0;
        }
      }
      break;
    case WM_DPICHANGED:
      // Moved to a monitor of another DPI: fonts and sizes made again for it, fitted to its
      // working area.
      if (state != nullptr && HIWORD(wParam) != 0) {
        state->dpi = HIWORD(wParam);
        state->fonts.Build(state->dpi);
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        LayOut(box, *state, WorkAreaOf(::MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST)));
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(box, message, wParam, lParam);
}

// The scrolling keys scroll the pane while the focus is elsewhere in the box; in the pane they
// move its caret, which scrolls it too.
bool ScrollPaneFor(const MSG& message, const BoxState& state) {
  if (message.message != WM_KEYDOWN || ::GetFocus() == state.pane) return false;
  WORD command;
  switch (message.wParam) {
    case VK_UP:
      command = SB_LINEUP;
      break;
    case VK_DOWN:
      command = SB_LINEDOWN;
      break;
    case VK_PRIOR:
      command = SB_PAGEUP;
      break;
    case VK_NEXT:
      command = SB_PAGEDOWN;
      break;
    case VK_HOME:
      command = SB_TOP;
      break;
    case VK_END:
      command = SB_BOTTOM;
      break;
    default:
      return false;
  }
  ::SendMessageW(state.pane, WM_VSCROLL, MAKEWPARAM(command, 0), 0);
  return true;
}

// Enter presses the focused button, or the first where the focus is in the pane; Escape gives the
// answer the close box gives.
bool AnswerFor(HWND box, const MSG& message, const BoxState& state) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.wParam == VK_ESCAPE) {
    Answer(box, state.escapeAnswer);
    return true;
  }
  if (message.wParam != VK_RETURN) return false;
  const int focused = ::GetDlgCtrlID(::GetFocus());
  int answer = state.buttons.front().id;
  for (const BoxButton& button : state.buttons) {
    if (button.id == focused) answer = focused;
  }
  Answer(box, answer);
  return true;
}

// The windows a box without an owner keeps from input: every enabled window of this thread.
std::vector<HWND> EnabledThreadWindows() {
  std::vector<HWND> windows;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM list) -> BOOL {
        if (::IsWindowEnabled(window))
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace

int ShowScrollingBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  static const bool registered =
      RegisterWindowClass(instance, kScrollingBoxClass, &BoxProc, COLOR_BTNFACE);
  if (!registered) return 0;

  BoxState state;
  state.text = WithEditLineEnds(text);
  state.type = type;
  if ((type & MB_TYPEMASK) == MB_YESNO) {
    state.buttons = {{IDYES, L"はい(&Y)"}, {IDNO, L"いいえ(&N)"}};
    state.escapeAnswer = IDNO;
  } else {
    state.buttons = {{IDOK, L"OK"}};
    state.escapeAnswer = IDOK;
  }
  state.dpi = DpiOf(owner);
  state.fonts.Build(state.dpi);

  HWND box = ::CreateWindowExW(kBoxExStyle, kScrollingBoxClass, caption.c_str(), kBoxStyle, 0, 0,
                               100, 100, owner, nullptr, instance, nullptr);
  if (box == nullptr) return 0;
  ::SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  if (HICON icon = IconFor(type)) {
    state.icon = ::CreateWindowExW(0, WC_STATICW, nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 0,
                                   0, box, nullptr, instance, nullptr);
    ::SendMessageW(state.icon, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  }
  for (const BoxButton& button : state.buttons) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                        (button.id == state.buttons.front().id ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND control = ::CreateWindowExW(0, WC_BUTTONW, button.caption, style, 0, 0, 0, 0, box,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)),
                                     instance, nullptr);
    state.fonts.Use(control, WindowFonts::kUi);
  }
  LayOut(box, state,
         WorkAreaOf(::MonitorFromWindow(owner != nullptr ? owner : ::GetActiveWindow(),
                                        MONITOR_DEFAULTTOPRIMARY)));

  // Modal: the owner, or without one every window of this thread, takes no input meanwhile.
  std::vector<HWND> disabled = owner != nullptr ? std::vector<HWND>{owner} : EnabledThreadWindows();
  disabled.erase(std::remove(disabled.begin(), disabled.end(), box), disabled.end());
  for (HWND window : disabled) ::EnableWindow(window, FALSE);
  ::ShowWindow(box, SW_SHOW);
  HWND first = ::GetDlgItem(box, state.buttons.front().id);
  ::SetFocus(first);
  state.focus = first;

  MSG message;
  while (!state.done) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: the loop that owns the quit message gets it back.
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    const bool forBox = message.hwnd == box || ::IsChild(box, message.hwnd);
    if (forBox && (AnswerFor(box, message, state) || ScrollPaneFor(message, state))) continue;
    if (forBox && ::IsDialogMessageW(box, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  // The owner takes input again before the box goes, so it becomes the active window.
  for (HWND window : disabled) ::EnableWindow(window, TRUE);
  ::DestroyWindow(box);
  return state.answer;
}

}  // namespace tavrin
