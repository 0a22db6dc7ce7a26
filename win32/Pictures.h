// The window's pictures, decoded from the same XPM sources as the Linux face's.
#pragma once

#include "WinApi.h"

namespace tavrin {

inline constexpr int kTilMainCount = 14;

// The 14 pictures of tilMain as a masked 32-bit image list of 16 x 16 images, or of size x size
// (the pictures enlarged pixel by pixel) for a DPI above 96.
HIMAGELIST CreateTilMain(int size = 16);
// The program icon at 16 or 32 pixels.
HICON CreateProgramIcon(int size);
// How a top-down 32-bit bitmap of width x height pixels is laid out, for DIB calls.
BITMAPINFO TopDownBitmapInfo(int width, int height);

}  // namespace tavrin
