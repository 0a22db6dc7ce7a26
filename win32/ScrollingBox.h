// A message box whose text lies in a read-only pane that scrolls, for a text the system's own box
// would show larger than the screen: the box never outgrows the screen's working area, and its
// buttons stay in view.
#pragma once

#include <string>

#include "WinApi.h"

namespace tavrin {

// The window class of the box, by which tests find it.
inline constexpr wchar_t kScrollingBoxClass[] = L"TavrinScrollingBox";
// The id of the text pane inside the box.
inline constexpr int kIdBoxPane = 100;

// Shows the box modally (modal for the whole application when owner is null) with OK, or Yes and
// No, and the icon that type names; returns the button pressed. Enter presses the focused button
// (OK at first), Escape and the close box answer OK or No; the scrolling keys scroll the pane
// wherever the focus is.
int ShowScrollingBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

}  // namespace tavrin
