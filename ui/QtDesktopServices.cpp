#include "QtDesktopServices.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTranslator>
#include <memory>

#include "FileSearch.h"
#include "FolderPicker.h"
#include "TextCodec.h"
#include "Trash.h"

namespace tavrin {

namespace {

// Icon values beyond the error icon, so that every icon a caller may pass shows sensibly.
constexpr unsigned kIconQuestion = 0x0020;
constexpr unsigned kIconWarning = 0x0030;
constexpr unsigned kIconInformation = 0x0040;

QMessageBox::Icon IconFor(unsigned flags) {
  switch (flags & mb::kIconMask) {
    case mb::kIconError:
      return QMessageBox::Critical;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconWarning:
      return QMessageBox::Warning;
    case kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QString ConfirmationText(const std::vector<std::string>& paths) {
  if (paths.size() == 1)
    return QStringLiteral("このファイルをごみ箱へ移動しますか?\n\n%1")
        .arg(DecodeFileName(paths.front()));
  return QStringLiteral("%1 個のファイルをごみ箱へ移動しますか?").arg(paths.size());
}

QString FailureReport(const std::vector<TrashFailure>& failures, std::size_t maxListed) {
  QString text =
      QStringLiteral("次の %1 個のファイルをごみ箱へ移動できませんでした。\n").arg(failures.size());
  for (std::size_t i = 0; i < failures.size() && i < maxListed; ++i) {
    text += QStringLiteral("\n%1\n    %2")
                .arg(DecodeFileName(failures[i].path), QString::fromStdString(failures[i].reason));
  }
  if (failures.size() > maxListed)
    text += QStringLiteral("\n\nほか %1 個").arg(failures.size() - maxListed);
  return text;
}

QString ShownText(const QString& text) {
  constexpr qsizetype kLongest = QtDesktopServices::kLongestShownText;
  if (text.size() <= kLongest) return text;
  qsizetype cut = text.lastIndexOf(u'\n', kLongest);
  if (cut <= 0) cut = kLongest;  // one huge first line: cut inside it
  const QString shown = text.first(cut);
  const qsizetype omitted = text.count(u'\n') - shown.count(u'\n');
  return shown + QStringLiteral("\n…(以下 %1 行を省略)").arg(omitted);
}

}  // namespace

int QtDesktopServices::MessageBox(QWidget* owner, const QString& text, const QString& caption,
                                  unsigned flags) {
  QMessageBox box(owner);
  box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  box.setWindowTitle(caption);
  box.setText(ShownText(text));
  box.setIcon(IconFor(flags));
  // The button texts are set here so that they read in Japanese without a Qt translation.
  if ((flags & mb::kButtonMask) == mb::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  box.exec();
  if ((flags & mb::kButtonMask) != mb::kYesNo) return kIdOk;
  // Escape and the close button count as No.
  return box.clickedButton() == box.button(QMessageBox::Yes) ? kIdYes : kIdNo;
}

std::uint32_t QtDesktopServices::GetFileAttributes(const std::string& path) {
  struct stat st {};
  // A NUL would end the name early, and the attributes would be another file's.
  if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) {
    return kInvalidFileAttributes;
  }
  return S_ISREG(st.st_mode) ? kFileAttributeNormal : kFileAttributeDirectory;
}

void QtDesktopServices::MoveToTrash(QWidget* owner, std::string_view pathList) {
  const std::vector<std::string> paths = SplitNulList(pathList);
  if (paths.empty()) return;
  if (MessageBox(owner, ConfirmationText(paths), QStringLiteral("ファイルの削除"),
                 mb::kYesNo | kIconQuestion) != kIdYes)
    return;

  std::unique_ptr<QProgressDialog> progressWindow;
  TrashProgress progress;
  if (paths.size() > kTrashProgressThreshold) {
    progressWindow = std::make_unique<QProgressDialog>(QStringLiteral("ごみ箱へ移動しています..."),
                                                       QStringLiteral("キャンセル"), 0,
                                                       static_cast<int>(paths.size()), owner);
    progressWindow->setWindowTitle(QStringLiteral("ファイルの削除"));
    progressWindow->setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    progressWindow->setMinimumDuration(0);
    progressWindow->setAutoClose(false);
    progressWindow->setAutoReset(false);
    QProgressDialog* window = progressWindow.get();
    progress = [window](std::size_t done, std::size_t) {
      // A modal progress window handles pending events in setValue, so the windows keep painting.
      window->setValue(static_cast<int>(done));
      return !window->wasCanceled();
    };
  }
  const std::vector<TrashFailure> failures = TrashFiles(paths, progress);
  progressWindow.reset();

  if (!failures.empty()) {
    MessageBox(owner, FailureReport(failures, kMaxFailuresListed),
               QStringLiteral("ファイルの削除エラー"), mb::kOk | mb::kIconError);
  }
}

std::string QtDesktopServices::BrowseForFolder(QWidget* owner, const QString& prompt) {
  return TFFolderPicker::Choose(owner, prompt, TFFolderPicker::HomeFolder());
}

void QtDesktopServices::OpenSearchWindow(QWidget* owner, const std::string& folder) {
  // A separate window that lives on its own; parented so that it closes with the main window.
  auto* window = new TFFileSearch(owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->SetFolder(folder);
  window->show();
  window->raise();
  window->activateWindow();
  window->StartSearch();
}

QString TrashFailureReport(const std::vector<TrashFailure>& failures) {
  return FailureReport(failures, QtDesktopServices::kMaxFailuresListed);
}

bool LoadQtJapanese(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace tavrin
