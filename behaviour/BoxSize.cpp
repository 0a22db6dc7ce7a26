#include "BoxSize.h"

#include <algorithm>

namespace tavrin {

int BoxWrapWidth(int workWidth, int dpi) {
  return std::min(workWidth / 2, 500 * dpi / 96);
}

BoxPane FitTextPane(Extent text, Extent room, int bar, int line) {
  room.width = std::max(room.width, 3 * bar);
  room.height = std::max(room.height, 3 * line);
  BoxPane pane{text};
  if (pane.size.width > room.width) {
    pane.size.width = room.width;
    pane.size.height += bar;
    pane.scrollsAcross = true;
  }
  if (pane.size.height > room.height) {
    pane.size.height = room.height;
    pane.scrollsDown = true;
    // The bar down takes its width beside the text; where the room has none left, the text
    // scrolls across under it too.
    if (pane.size.width + bar > room.width) {
      pane.size.width = room.width;
      pane.scrollsAcross = true;
    } else {
      pane.size.width += bar;
    }
  }
  return pane;
}

}  // namespace tavrin
