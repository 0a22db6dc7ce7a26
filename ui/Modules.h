// The window's two wrappers around desktop operations: the trash and the folder picker.
#pragma once

#include <QString>
#include <string>
#include <string_view>

class QWidget;

namespace tavrin {

class DesktopServices;

// pathList holds each path followed by one NUL; one more NUL ends the list handed over.
// Nothing is read back: the desktop confirms, moves and reports on its own.
void MoveFilesToRecycleBin(DesktopServices& services, QWidget* owner, std::string_view pathList);

// The chosen folder, or "" when the user cancelled.
std::string BrowseForFolder(DesktopServices& services, QWidget* owner, const QString& prompt);

}  // namespace tavrin
