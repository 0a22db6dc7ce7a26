// The About box: the credit lines over the picture, modal, closed with its close box.
#pragma once

#include <functional>

#include "WinApi.h"

namespace tavrin {

// Control ids of the box: the picture and the four labels.
enum AboutBoxId : int { kIdImage1 = 1, kIdLabel2 = 2, kIdLabel3, kIdLabel4, kIdLabel5 };

class TFAboutBox {
 public:
  // Shows a new box modally over owner, sized for the owner's DPI, until it is closed, then
  // destroys it. whileShown, when set, runs once the box shows, given the box.
  static void Execute(HWND owner, UINT dpi, const std::function<void(HWND)>& whileShown);
};

}  // namespace tavrin
