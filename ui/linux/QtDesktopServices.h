// The desktop services on a Linux desktop, with Qt, POSIX and GIO standing in for the shell.
#pragma once

#include <QString>
#include <cstddef>
#include <vector>

#include "DesktopServices.h"
#include "Trash.h"

class QCoreApplication;
class QWidget;

namespace tavrin {

// The box text naming the files the trash did not take, each with the reason.
QString TrashFailureReport(const std::vector<TrashFailure>& failures);

// Qt's own texts (standard buttons, edit menus, dialogs) in Japanese, as the rest of the program,
// whatever the desktop's language; false when the translation is not installed.
bool LoadQtJapanese(QCoreApplication& app);

class QtDesktopServices : public DesktopServices {
 public:
  // Above this many files, moving to the trash shows a progress window.
  static constexpr std::size_t kTrashProgressThreshold = 20;
  // At most this many failures are named in the report; the rest are counted.
  static constexpr std::size_t kMaxFailuresListed = 30;
  // A box shows at most about this many characters of its text (whole lines where it can) and
  // says how many lines it left out: laying out megabytes of text would hold the window for
  // minutes.
  static constexpr qsizetype kLongestShownText = 64 * 1024;

  int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                 unsigned flags) override;
  std::uint32_t GetFileAttributes(const std::string& path) override;
  void MoveToTrash(WindowHandle owner, std::string_view pathList) override;
  std::string BrowseForFolder(WindowHandle owner, std::string_view prompt) override;
  void OpenSearchWindow(WindowHandle owner, const std::string& folder) override;

  // The box itself, for the desktop's own questions and reports too.
  int ShowBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags);
};

}  // namespace tavrin
