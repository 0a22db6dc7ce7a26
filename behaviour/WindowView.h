// What the window's behaviour asks of the face that draws it. Texts are UTF-8.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "DesktopServices.h"
#include "FileList.h"

namespace tavrin {

enum class Page { kList, kView };

class WindowView {
 public:
  virtual ~WindowView() = default;

  // The native handle that owns the window's boxes and shell dialogs.
  virtual WindowHandle Handle() = 0;

  // The list's rows, kept in step with the behaviour's. Rows come and go many at a time, each
  // batch in one step, so that a long list costs no more per row than a short one.
  virtual void RowsAppended(std::span<const FileListItem> rows) = 0;  // at the end, in order
  virtual void RowChanged(int row, const FileListItem& item) = 0;     // task text and image
  // rows: their places before the removal, first to last.
  virtual void RowsRemoved(const std::vector<int>& rows) = 0;
  virtual void RowsCleared() = 0;

  // The selection belongs to the list: the user changes it, and so does the batch run.
  virtual std::vector<int> SelectedRows() const = 0;  // first to last
  virtual void SetRowSelected(int row, bool selected) = 0;
  // Scrolls the list so that the row is wholly visible.
  virtual void ScrollToRow(int row) = 0;
  // Shows every change made so far at once, the list scrolled to row, while a command is still
  // running; input waits until the command ends.
  virtual void PaintNow(int row) = 0;

  virtual void SetStatusText(std::string_view text) = 0;
  // The preview page's two memos.
  virtual void SetPreview(std::string_view shownPath, std::string_view shownText) = 0;
  // Makes the page active with the keyboard focus on its first control that takes it.
  virtual void ShowPage(Page page) = 0;

  virtual void ShowAboutBox() = 0;
  virtual void CloseWindow() = 0;
};

}  // namespace tavrin
