// The window's two wrappers around desktop operations: the trash and the folder picker.
#pragma once

#include <string>
#include <string_view>

#include "DesktopServices.h"

namespace tavrin {

// pathList holds each path followed by one NUL; one more NUL ends the list handed over.
// Nothing is read back: the desktop confirms, moves and reports on its own.
void MoveFilesToRecycleBin(DesktopServices& services, WindowHandle owner,
                           std::string_view pathList);

// The chosen folder up to its first NUL, or "" when the user cancelled.
std::string BrowseForFolder(DesktopServices& services, WindowHandle owner, std::string_view prompt);

}  // namespace tavrin
