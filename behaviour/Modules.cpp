#include "Modules.h"

namespace tavrin {

void MoveFilesToRecycleBin(DesktopServices& services, WindowHandle owner,
                           std::string_view pathList) {
  std::string terminated(pathList);
  terminated.push_back('\0');
  services.MoveToTrash(owner, terminated);
}

std::string BrowseForFolder(DesktopServices& services, WindowHandle owner,
                            std::string_view prompt) {
  std::string folder = services.BrowseForFolder(owner, prompt);
  return folder.substr(0, folder.find('\0'));
}

}  // namespace tavrin
