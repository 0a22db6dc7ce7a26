// The desktop on Windows: user32's boxes, kernel32's attributes and shell32's Recycle Bin, folder
// picker and search window. Texts and paths cross as UTF-8 and reach the system as UTF-16.
#pragma once

#include <string>

#include "DesktopServices.h"
#include "WinApi.h"

namespace tavrin {

class Win32DesktopServices : public DesktopServices {
 public:
  // A box shows at most this many UTF-16 units of its text; more would not fit any screen, and
  // the box would grow past it.
  static constexpr std::size_t kMaxBoxText = 65535;

  int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                 unsigned flags) override;
  std::uint32_t GetFileAttributes(const std::string& path) override;
  void MoveToTrash(WindowHandle owner, std::string_view pathList) override;
  std::string BrowseForFolder(WindowHandle owner, std::string_view prompt) override;
  void OpenSearchWindow(WindowHandle owner, const std::string& folder) override;
};

// UTF-8 for display as UTF-16; bytes that do not decode show as U+FFFD.
std::wstring WideForDisplay(std::string_view utf8);

// The text a box shows: cut after kMaxBoxText units, never inside a surrogate pair.
std::wstring BoxText(std::string_view utf8);

}  // namespace tavrin
