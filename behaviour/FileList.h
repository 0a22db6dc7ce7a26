// The rows of the file list: what each shows and which file it stands for.
#pragma once

#include <string>
#include <string_view>

namespace tavrin {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The last component of a path (a trailing separator ignored); the whole path when it has none.
std::string FileNameOfPath(std::string_view path);

// Task texts and images of a row.
enum class RowState { kWaiting, kConverting, kConverted };
inline constexpr int kImageWaiting = 0;
inline constexpr int kImageConverting = 1;
inline constexpr int kImageConverted = 3;

struct FileListItem {
  std::string path;       // exactly as dropped (up to its first NUL): what every command uses
  std::string shownName;  // the file name for display, UTF-8
  std::string shownPath;  // the path for display, UTF-8
  std::string taskText;   // UTF-8
  int imageIndex = kImageWaiting;

  explicit FileListItem(std::string path);
  void SetState(RowState state);
};

}  // namespace tavrin
