// How large a message box's text pane is: the text's own size while the box fits the screen's
// working area, no larger than that area leaves where not, the pane then scrolling. Both faces
// size their boxes by it, so that no box outgrows the screen and its buttons stay in view.
#pragma once

namespace tavrin {

struct Extent {
  int width = 0;
  int height = 0;
  friend bool operator==(const Extent&, const Extent&) = default;
};

struct BoxPane {
  Extent size;
  bool scrollsAcross = false;
  bool scrollsDown = false;
  friend bool operator==(const BoxPane&, const BoxPane&) = default;
};

// The widest a box's text runs before it wraps: half the working area, and no more than 500
// pixels at 96 dpi.
int BoxWrapWidth(int workWidth, int dpi);

// The pane for a text of that size (wrapped as the face wraps it), given the room the working
// area leaves beside the box's frame, margins, icon and buttons, and the thickness of a scroll
// bar. The room is taken as at least three bars across and three lines down, so that even a tiny
// screen shows some text. A scrolling pane keeps room for its bars: one across below the text,
// one down beside it.
BoxPane FitTextPane(Extent text, Extent room, int bar, int line);

}  // namespace tavrin
