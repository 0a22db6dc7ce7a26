// The files a drop onto the window carries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QMimeData;

namespace tavrin {

// The local files a drop carries, in order, as exact bytes, each cut at its first NUL (which
// the system would take as the name's end). Non-local URLs are ignored.
std::vector<std::string> LocalPathsFromMimeData(const QMimeData& mime);

}  // namespace tavrin
