// Everything the window asks of the desktop: message boxes, file attributes, the trash,
// the folder picker and the search window. Tests replace it with a recording fake.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

class QWidget;

namespace tavrin {

// Message-box buttons, icons and answers keep the values the window's callers rely on.
namespace mb {
inline constexpr unsigned kOk = 0x0000;
inline constexpr unsigned kYesNo = 0x0004;
inline constexpr unsigned kIconError = 0x0010;
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

  // A modal box owned by owner (application-modal when owner is null); returns the button pressed.
  virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                         unsigned flags) = 0;

  // The directory bit (0x10) for anything that is not a regular file (or a link to one):
  // folders, FIFOs, sockets, devices. All ones when the path does not exist.
  virtual std::uint32_t GetFileAttributes(const std::string& path) = 0;

  // Sends the files to the user's trash. pathList holds each path followed by one NUL, and one
  // more NUL at the end. The desktop asks its own confirmation and reports its own failures;
  // nothing is returned.
  virtual void MoveToTrash(QWidget* owner, std::string_view pathList) = 0;

  // A modal folder picker limited to folders; the chosen path as bytes, or "" when cancelled.
  virtual std::string BrowseForFolder(QWidget* owner, const QString& prompt) = 0;

  // Opens the search window on folder; it runs on its own and nothing is read back.
  virtual void OpenSearchWindow(QWidget* owner, const std::string& folder) = 0;
};

}  // namespace tavrin
