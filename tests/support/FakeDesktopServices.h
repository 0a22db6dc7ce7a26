// A recording stand-in for the desktop: answers message boxes and folder pickers as a test says,
// and records every call in order.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "DesktopServices.h"

namespace tavrin::testing {

struct MessageBoxCall {
  QString text;
  QString caption;
  unsigned flags;
};

class FakeDesktopServices : public DesktopServices {
 public:
  std::deque<int> messageBoxAnswers;      // the next answers; IDOK / IDYES when empty
  std::deque<std::string> folderAnswers;  // the next chosen folders; "" (cancel) when empty
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::string> trashCalls;     // each pathList as passed
  std::vector<std::string> searchWindows;  // each folder opened
  int folderPickers = 0;
  // Runs inside each box, where the user would answer it: a test can take the focus away and
  // give it back as a real modal box does.
  std::function<void()> whileBoxShows;

  int MessageBox(QWidget*, const QString& text, const QString& caption, unsigned flags) override {
    messageBoxes.push_back({text, caption, flags});
    if (whileBoxShows) whileBoxShows();
    if (!messageBoxAnswers.empty()) {
      int answer = messageBoxAnswers.front();
      messageBoxAnswers.pop_front();
      return answer;
    }
    return (flags & mb::kButtonMask) == mb::kYesNo ? kIdYes : kIdOk;
  }

  std::uint32_t GetFileAttributes(const std::string& path) override {
    return real_ != nullptr ? real_->GetFileAttributes(path) : kInvalidFileAttributes;
  }

  void MoveToTrash(QWidget*, std::string_view pathList) override {
    trashCalls.emplace_back(pathList);
  }

  std::string BrowseForFolder(QWidget*, const QString&) override {
    ++folderPickers;
    if (folderAnswers.empty()) return {};
    std::string answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }

  void OpenSearchWindow(QWidget*, const std::string& folder) override {
    searchWindows.push_back(folder);
  }

  // File attributes come from the real file system when a real implementation is given.
  void UseRealFileSystem(DesktopServices* real) { real_ = real; }

 private:
  DesktopServices* real_ = nullptr;
};

}  // namespace tavrin::testing
