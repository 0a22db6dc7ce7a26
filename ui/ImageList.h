// The pictures of the image list tilMain (toolbar, menus, tabs and list rows) and the
// program icon, read from the compiled-in resources.
#pragma once

#include <QIcon>

namespace tavrin {

// Registers the compiled-in pictures (icons and the About picture) with Qt's resource
// system. The functions below and the About box call it; safe to call again.
void RegisterPictureResources();

// Number of pictures in tilMain; valid indexes are 0 .. TilMainCount() - 1.
int TilMainCount();

// Picture `index` of tilMain (16 x 16); a null icon for an index out of range.
QIcon TilMainIcon(int index);

// The program icon, with its 16 x 16 and 32 x 32 pictures.
QIcon ProgramIcon();

}  // namespace tavrin
