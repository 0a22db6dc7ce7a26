// A recording stand-in for the desktop and for the face that draws the window: answers message
// boxes and folder pickers as a test says, keeps the rows and selection a list would, and
// records every call in order.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "DesktopServices.h"
#include "TempDir.h"
#include "WindowView.h"

namespace tavrin::testing {

struct MessageBoxCall {
  std::string text;
  std::string caption;
  unsigned flags;
};

class FakeDesktop : public DesktopServices {
 public:
  std::deque<int> messageBoxAnswers;      // the next answers; IDOK / IDYES when empty
  std::deque<std::string> folderAnswers;  // the next chosen folders; "" (cancel) when empty
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::string> trashCalls;     // each pathList as passed
  std::vector<std::string> searchWindows;  // each folder opened
  int folderPickers = 0;
  // File attributes: the real file system's unless a test answers for it.
  std::function<std::uint32_t(const std::string&)> attributes;
  // Runs inside each box, where the user would answer it: a test can take the focus away and
  // give it back as a real modal box does.
  std::function<void()> whileBoxShows;

  int MessageBox(WindowHandle, std::string_view text, std::string_view caption,
                 unsigned flags) override {
    messageBoxes.push_back({std::string(text), std::string(caption), flags});
    if (whileBoxShows) whileBoxShows();
    if (!messageBoxAnswers.empty()) {
      const int answer = messageBoxAnswers.front();
      messageBoxAnswers.pop_front();
      return answer;
    }
    return (flags & mb::kButtonMask) == mb::kYesNo ? kIdYes : kIdOk;
  }

  std::uint32_t GetFileAttributes(const std::string& path) override {
    if (attributes) return attributes(path);
    std::error_code error;
    const auto status = std::filesystem::status(NativePath(path), error);
    if (error || !std::filesystem::exists(status)) return kInvalidFileAttributes;
    return std::filesystem::is_regular_file(status) ? kFileAttributeNormal
                                                    : kFileAttributeDirectory;
  }

  void MoveToTrash(WindowHandle, std::string_view pathList) override {
    trashCalls.emplace_back(pathList);
  }

  std::string BrowseForFolder(WindowHandle, std::string_view) override {
    ++folderPickers;
    if (folderAnswers.empty()) return {};
    std::string answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }

  void OpenSearchWindow(WindowHandle, const std::string& folder) override {
    searchWindows.push_back(folder);
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const MessageBoxCall& call : messageBoxes) texts.push_back(call.text);
    return texts;
  }
};

// What a list and two memos would show, and every paint and page change.
class FakeView : public WindowView {
 public:
  struct Row {
    std::string name, path, task;
    int image;
  };
  std::vector<Row> rows;
  std::set<int> selected;
  std::vector<std::string> statuses;
  std::string previewPath = "(untouched)", previewText = "(untouched)";
  std::vector<Page> pages;
  std::vector<std::vector<std::string>> paints;  // the task texts shown at each paint
  // Every change the list and the status bar are told of, in order ("select 2", "2 完了").
  std::vector<std::string> calls;
  int aboutBoxes = 0, closes = 0;
  // How many times the face was told of new rows and of removed rows, however many each time:
  // a long list is only as fast as these stay few.
  int appends = 0, removals = 0;
  // Runs at each paint, as events that arrive while the window paints would.
  std::function<void()> duringPaint;
  // Runs when the focus moves into a page, as the face's focus tracking would.
  std::function<void(Page)> focusEntered;

  WindowHandle Handle() override { return this; }
  void RowsAppended(std::span<const FileListItem> items) override {
    ++appends;
    for (const FileListItem& item : items) {
      rows.push_back({item.shownName, item.shownPath, item.taskText, item.imageIndex});
    }
  }
  void RowChanged(int row, const FileListItem& item) override {
    calls.push_back(std::to_string(row) + " " + item.taskText);
    rows.at(static_cast<std::size_t>(row)).task = item.taskText;
    rows.at(static_cast<std::size_t>(row)).image = item.imageIndex;
  }
  void RowsRemoved(const std::vector<int>& removed) override {
    ++removals;
    for (auto row = removed.rbegin(); row != removed.rend(); ++row) {
      rows.erase(rows.begin() + *row);
      std::set<int> moved;
      for (int s : selected) {
        if (s != *row) moved.insert(s > *row ? s - 1 : s);
      }
      selected = moved;
    }
  }
  void RowsCleared() override {
    rows.clear();
    selected.clear();
  }
  std::vector<int> SelectedRows() const override { return {selected.begin(), selected.end()}; }
  void SetRowSelected(int row, bool on) override {
    calls.push_back((on ? "select " : "deselect ") + std::to_string(row));
    if (on) {
      selected.insert(row);
    } else {
      selected.erase(row);
    }
  }
  void ScrollToRow(int row) override { calls.push_back("scroll " + std::to_string(row)); }
  void PaintNow(int) override {
    paints.push_back(Tasks());
    if (duringPaint) duringPaint();
  }
  void SetStatusText(std::string_view text) override {
    statuses.emplace_back(text);
    calls.emplace_back(text);
  }
  void SetPreview(std::string_view path, std::string_view text) override {
    previewPath = path;
    previewText = text;
  }
  void ShowPage(Page page) override {
    pages.push_back(page);
    if (focusEntered) focusEntered(page);
  }
  void ShowAboutBox() override { ++aboutBoxes; }
  void CloseWindow() override { ++closes; }

  std::vector<std::string> Tasks() const {
    std::vector<std::string> tasks;
    for (const Row& row : rows) tasks.push_back(row.task);
    return tasks;
  }
};

}  // namespace tavrin::testing
