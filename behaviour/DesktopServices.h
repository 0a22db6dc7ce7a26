// Everything the window asks of the desktop: message boxes, file attributes, the trash, the
// folder picker and the search window. Each face has its own; tests use a recording fake.
// Texts are UTF-8; paths are the exact bytes the file system uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

// The main window's native handle, passed as owner of boxes and shell dialogs; null for a box
// owned by no window.
using WindowHandle = void*;

// Message-box buttons, icons and answers keep the values the window's callers rely on.
namespace mb {
inline constexpr unsigned kOk = 0x0000;
inline constexpr unsigned kYesNo = 0x0004;
inline constexpr unsigned kIconError = 0x0010;
inline constexpr unsigned kIconQuestion = 0x0020;
inline constexpr unsigned kIconWarning = 0x0030;
inline constexpr unsigned kIconInformation = 0x0040;
inline constexpr unsigned kButtonMask = 0x000F;
inline constexpr unsigned kIconMask = 0x00F0;
}  // namespace mb
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // A modal box owned by owner (modal for the whole application when owner is null); returns
  // the button pressed.
  virtual int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                         unsigned flags) = 0;

  // The directory bit (0x10) for anything that is not a regular file (or a link to one):
  // folders, FIFOs, sockets, devices. All ones when the path does not exist.
  virtual std::uint32_t GetFileAttributes(const std::string& path) = 0;

  // Sends the files to the user's trash. pathList holds each path followed by one NUL, and one
  // more NUL at the end. The desktop asks its own confirmation and reports its own failures;
  // nothing is returned.
  virtual void MoveToTrash(WindowHandle owner, std::string_view pathList) = 0;

  // A modal folder picker limited to folders; the chosen path, or "" when cancelled.
  virtual std::string BrowseForFolder(WindowHandle owner, std::string_view prompt) = 0;

  // Opens the search window on folder; it runs on its own and nothing is read back.
  virtual void OpenSearchWindow(WindowHandle owner, const std::string& folder) = 0;
};

}  // namespace tavrin
