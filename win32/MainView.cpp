// What the behaviour asks of the main window: rows, selection, status, preview, pages, and the
// painting while a run goes on.
#include <string>
#include <vector>

#include "AboutBox.h"
#include "Accessible.h"
#include "Main.h"
#include "Pages.h"
#include "Win32DesktopServices.h"
#include "platform/windows/WideText.h"

namespace tavrin {

namespace {

// The control draws nothing until the end of a change to many of its rows, then all at once.
class WithoutRedraw {
 public:
  explicit WithoutRedraw(HWND control) : control_(control) {
    ::SendMessageW(control_, WM_SETREDRAW, FALSE, 0);
  }
  ~WithoutRedraw() {
    ::SendMessageW(control_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(control_, nullptr, TRUE);
  }
  WithoutRedraw(const WithoutRedraw&) = delete;
  WithoutRedraw& operator=(const WithoutRedraw&) = delete;

 private:
  HWND control_;
};

// The edit control breaks lines at CR LF only.
std::wstring WithCrLf(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') out.push_back(L'\r');
    out.push_back(c);
  }
  return out;
}

// Where the slice of a preview from `from` ends: cutting neither a CR LF pair nor a surrogate
// pair.
std::size_t PreviewSliceEnd(std::wstring_view text, std::size_t from) {
  if (text.size() - from <= TFMain::kPreviewSlice) return text.size();
  const std::size_t end = from + TFMain::kPreviewSlice;
  const wchar_t last = text[end - 1];
  return last == L'\r' || IS_HIGH_SURROGATE(last) ? end + 1 : end;
}

constexpr int kColumnPath = 1;
constexpr int kColumnTask = 2;

// The task text and image of a row.
void ShowRow(HWND list, int row, const std::string& taskText, int imageIndex) {
  const std::wstring task = WideForDisplay(taskText);
  LVITEMW item{};
  item.iItem = row;
  item.iSubItem = kColumnTask;
  item.pszText = const_cast<wchar_t*>(task.c_str());
  ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  LVITEMW image{};
  image.mask = LVIF_IMAGE;
  image.iItem = row;
  image.iImage = imageIndex;
  ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&image));
}

}  // namespace

void TFMain::RowsAppended(std::span<const FileListItem> rows) {
  // One repaint for the whole drop, and room for every row made once.
  const int first = ListView_GetItemCount(lvwResult);
  const WithoutRedraw quiet(lvwResult);
  ListView_SetItemCount(lvwResult, first + static_cast<int>(rows.size()));
  for (const FileListItem& row : rows) {
    const std::wstring name = WideForDisplay(row.shownName);
    const std::wstring path = WideForDisplay(row.shownPath);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(lvwResult);
    item.pszText = const_cast<wchar_t*>(name.c_str());
    const int index = static_cast<int>(
        ::SendMessageW(lvwResult, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    item.iItem = index;
    item.iSubItem = kColumnPath;
    item.pszText = const_cast<wchar_t*>(path.c_str());
    ::SendMessageW(lvwResult, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&item));
    ShowRow(lvwResult, index, row.taskText, row.imageIndex);
  }
}

void TFMain::RowChanged(int row, const FileListItem& state) {
  rowChanges_[row] = {state.taskText, state.imageIndex};
  PostRowChanges();
}

void TFMain::PostRowChanges() {
  if (changesPosted_) return;
  changesPosted_ = ::PostMessageW(hwnd_, kRowChangesMessage, 0, 0) != FALSE;
}

void TFMain::ApplyRowChanges() const {
  changesPosted_ = false;
  for (const auto& [row, shown] : rowChanges_) {
    ShowRow(lvwResult, row, shown.taskText, shown.imageIndex);
  }
  rowChanges_.clear();
  for (const auto& [row, selected] : selectionChanges_) {
    ListView_SetItemState(lvwResult, row, selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
  }
  selectionChanges_.clear();
}

void TFMain::RowsRemoved(const std::vector<int>& rows) {
  ApplyRowChanges();
  // Deleted from the last up, so that no row moves before its turn, with one repaint at the end.
  const WithoutRedraw quiet(lvwResult);
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) ListView_DeleteItem(lvwResult, *row);
}

void TFMain::RowsCleared() {
  rowChanges_.clear();
  selectionChanges_.clear();
  ListView_DeleteAllItems(lvwResult);
}

std::vector<int> TFMain::SelectedRows() const {
  ApplyRowChanges();
  std::vector<int> rows;
  for (int row = ListView_GetNextItem(lvwResult, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(lvwResult, row, LVNI_SELECTED)) {
    rows.push_back(row);
  }
  return rows;
}

void TFMain::SetRowSelected(int row, bool selected) {
  selectionChanges_[row] = selected;
  PostRowChanges();
}

void TFMain::ScrollToRow(int row) {
  ApplyRowChanges();
  ListView_EnsureVisible(lvwResult, row, FALSE);
}

void TFMain::PaintNow(int row) {
  // The run stays inside its command. The window paints and answers what the system sends or
  // posts (a drop, a close, which the behaviour holds until the run ends); mouse and keyboard
  // input stays in its queue until then, so no other command can start in the middle.
  ScrollToRow(row);
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0,
                        PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    ::DispatchMessageW(&message);
  }
}

void TFMain::SetStatusText(std::string_view text) {
  const std::wstring shown = WideForDisplay(text);
  ::SendMessageW(tsbMain, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
  AnnounceValueChange(tsbMain);
}

void TFMain::SetPreview(std::string_view shownPath, std::string_view shownText) {
  // Whatever is left of an earlier preview is dropped.
  previewText_ = WithCrLf(WideForDisplay(shownText));
  previewShown_ = PreviewSliceEnd(previewText_, 0);
  ::SetWindowTextW(tmeView, previewText_.substr(0, previewShown_).c_str());
  ::SetWindowTextW(tmeViewPath, WideForDisplay(shownPath).c_str());
  FeedPreviewLater();
}

void TFMain::FeedPreviewLater() {
  if (previewShown_ >= previewText_.size()) {
    previewText_ = {};
    previewShown_ = 0;
    return;
  }
  if (!previewPosted_) {
    previewPosted_ = ::PostMessageW(hwnd_, kPreviewSliceMessage, 0, 0) != FALSE;
  }
}

void TFMain::FeedPreview() {
  previewPosted_ = false;
  if (previewShown_ >= previewText_.size()) return;
  const std::size_t end = PreviewSliceEnd(previewText_, previewShown_);
  const std::wstring slice = previewText_.substr(previewShown_, end - previewShown_);
  // Appended at the end, with the user's selection and scroll position kept.
  DWORD selStart = 0, selEnd = 0;
  ::SendMessageW(tmeView, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
  const LRESULT top = ::SendMessageW(tmeView, EM_GETFIRSTVISIBLELINE, 0, 0);
  {
    const WithoutRedraw quiet(tmeView);
    const LPARAM length = ::GetWindowTextLengthW(tmeView);
    ::SendMessageW(tmeView, EM_SETSEL, static_cast<WPARAM>(length), length);
    ::SendMessageW(tmeView, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(slice.c_str()));
    ::SendMessageW(tmeView, EM_SETSEL, selStart, static_cast<LPARAM>(selEnd));
    const LRESULT now = ::SendMessageW(tmeView, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (now != top) ::SendMessageW(tmeView, EM_LINESCROLL, 0, top - now);
  }
  previewShown_ = end;
  FeedPreviewLater();
}

void TFMain::ShowPage(Page page) {
  const bool view = page == Page::kView;
  HWND first = view ? tmeView : lvwResult;
  TabCtrl_SetCurSel(tpcMain, view ? 1 : 0);
  ::ShowWindow(view ? ttsView : ttsMain, SW_SHOW);
  ::SetFocus(first);
  pages_->ShowCurrent();
  // Where the window is not active no focus moves; the focus is in the page all the same, so
  // its activation later is no move into it.
  lastFocus_ = first;
}

void TFMain::ShowAboutBox() {
  TFAboutBox::Execute(hwnd_, dpi_, whileAboutBoxShows);
}

void TFMain::CloseWindow() {
  ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

}  // namespace tavrin
