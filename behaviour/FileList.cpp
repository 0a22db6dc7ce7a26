#include "FileList.h"

#include "ShownText.h"
#include "Texts.h"

namespace tavrin {

std::string FileNameOfPath(std::string_view path) {
  if (!path.empty() && path.back() == kPathSeparator) path.remove_suffix(1);
  const std::size_t at = path.rfind(kPathSeparator);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

FileListItem::FileListItem(std::string fullPath)
    : path(std::move(fullPath)),
      shownName(ShownPath(FileNameOfPath(path))),
      shownPath(ShownPath(path)) {
  SetState(RowState::kWaiting);
}

void FileListItem::SetState(RowState state) {
  switch (state) {
    case RowState::kWaiting:
      taskText = texts::kTaskWaiting, imageIndex = kImageWaiting;
      break;
    case RowState::kConverting:
      taskText = texts::kTaskConverting, imageIndex = kImageConverting;
      break;
    case RowState::kConverted:
      taskText = texts::kTaskConverted, imageIndex = kImageConverted;
      break;
  }
}

}  // namespace tavrin
