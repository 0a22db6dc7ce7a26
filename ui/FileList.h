// File names and paths of the file list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QMimeData;

namespace tavrin {

inline constexpr char kPathSeparator = '/';

// The last component of a path (a trailing separator ignored); the whole path when it has none.
std::string FileNameOfPath(std::string_view path);

// The local files a drop carries, in order, as exact bytes, each cut at its first NUL (which
// the system would take as the name's end). Non-local URLs are ignored.
std::vector<std::string> LocalPathsFromMimeData(const QMimeData& mime);

}  // namespace tavrin
