#include "QtDesktopServices.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTranslator>
#include <algorithm>
#include <memory>

#include "BoxSize.h"
#include "FileSearch.h"
#include "FolderPicker.h"
#include "TextCodec.h"
#include "Trash.h"

namespace tavrin {

namespace {

QMessageBox::Icon IconFor(unsigned flags) {
  switch (flags & mb::kIconMask) {
    case mb::kIconError:
      return QMessageBox::Critical;
    case mb::kIconQuestion:
      return QMessageBox::Question;
    case mb::kIconWarning:
      return QMessageBox::Warning;
    case mb::kIconInformation:
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

QString ClippedBoxText(const QString& text) {
  constexpr qsizetype kLongest = QtDesktopServices::kLongestShownText;
  if (text.size() <= kLongest) return text;
  qsizetype cut = text.lastIndexOf(u'\n', kLongest);
  if (cut <= 0) cut = kLongest;  // one huge first line: cut inside it
  const QString shown = text.first(cut);
  const qsizetype omitted = text.count(u'\n') - shown.count(u'\n');
  return shown + QStringLiteral("\n…(以下 %1 行を省略)").arg(omitted);
}

// The text pane of a message box: as large as the text, up to what the screen leaves.
class TextPane : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  QSize sizeHint() const override { return size_; }
  QSize minimumSizeHint() const override { return size_; }
  // The box's layout learns of it even before the pane is first shown.
  void SetSize(QSize size) {
    size_ = size;
    updateGeometry();
    if (parentWidget() != nullptr && parentWidget()->layout() != nullptr) {
      parentWidget()->layout()->invalidate();
    }
  }

 private:
  QSize size_;
};

// A message box that never outgrows the screen: a text taller or wider than the screen leaves
// room for scrolls in its pane, so that the caption and the buttons stay in view. Qt's box sizes
// itself to its layout, so the box's own label moves into a pane whose size is set here.
class FittingMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

  // About what a title bar takes beside the caption: the icon and the window buttons.
  static constexpr int kTitleBarButtons = 160;

 protected:
  void showEvent(QShowEvent* event) override {
    PutTextInPane();
    FitPaneToScreen();
    QMessageBox::showEvent(event);
  }

  void changeEvent(QEvent* event) override {
    QMessageBox::changeEvent(event);
    // A new style lays the box out afresh, with the label back in its old place.
    if (event->type() == QEvent::StyleChange && isVisible()) {
      PutTextInPane();
      FitPaneToScreen();
    }
  }

 private:
  QLabel* Text() const { return findChild<QLabel*>(QStringLiteral("qt_msgbox_label")); }

  void PutTextInPane() {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    QLabel* label = Text();
    const int index = grid != nullptr && label != nullptr ? grid->indexOf(label) : -1;
    if (index < 0) return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    delete grid->takeAt(index);
    delete pane_;  // one that lost the label to a new layout
    pane_ = new TextPane(this);
    pane_->setFrameShape(QFrame::NoFrame);
    pane_->setWidgetResizable(true);
    pane_->setWidget(label);
    label->setAutoFillBackground(false);
    pane_->viewport()->setAutoFillBackground(false);
    grid->addWidget(pane_, row, column, rows, columns);
    // Made during the box's own showing, after its children were shown.
    pane_->show();
  }

  // The pane takes the text's size, its lines wrapped as Qt's box wraps them, and no more than
  // the screen's working area leaves beside the box's margins, icon, buttons and frame.
  void FitPaneToScreen() {
    QLabel* label = Text();
    if (pane_ == nullptr || label == nullptr) return;
    const QScreen* where = parentWidget() != nullptr ? parentWidget()->screen() : screen();
    if (where == nullptr) where = QGuiApplication::primaryScreen();
    if (where == nullptr) return;
    const QRect available = where->availableGeometry();

    pane_->SetSize(QSize(0, 0));
    layout()->activate();
    const QSize room = available.size() - layout()->totalMinimumSize() - Decoration();
    const int bar = pane_->verticalScrollBar()->sizeHint().width();
    const int line = fontMetrics().height();
    const QSize most = room.expandedTo(QSize(bar * 3, line * 3));

    label->setWordWrap(false);
    QSize text = label->sizeHint();
    // Qt measures in pixels at 96 dpi whatever the screen.
    const int wrapWidth = BoxWrapWidth(available.width(), 96);
    if (text.width() > wrapWidth) {
      // As Qt's box does: wrapped at that width, or at the longest word's where it is wider.
      label->setWordWrap(true);
      const int width =
          std::min(std::max(wrapWidth, label->minimumSizeHint().width()), most.width());
      text = QSize(width, label->heightForWidth(width));
    }
    // Where the text does not fit, its pane scrolls, with room for the scroll bars: across when
    // a word is wider than the screen, down when the lines are more than it holds.
    const int widest =
        label->wordWrap() ? std::max(text.width(), label->minimumSizeHint().width()) : text.width();
    const BoxPane fit =
        FitTextPane({widest, text.height()}, {most.width(), most.height()}, bar, line);
    QSize pane(fit.size.width, fit.size.height);
    // The scroll area wants a little more beside its bar down than the bar itself.
    if (fit.scrollsDown) {
      pane.setWidth(std::min(pane.width() + fontMetrics().averageCharWidth(), most.width()));
    }
    pane_->SetSize(pane);

    // Wide enough for the window system to show the whole caption beside its buttons.
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    layout()->activate();
    const int narrow = title.horizontalAdvance(windowTitle()) + kTitleBarButtons -
                       layout()->totalMinimumSize().width();
    if (narrow > 0) {
      pane.setWidth(std::min(pane.width() + narrow, most.width()));
      pane_->SetSize(pane);
    }
  }

  // The window frame around the box, as the frames of the windows already shown measure it,
  // and at least a title bar's height.
  QSize Decoration() const {
    QSize most(0, fontMetrics().height() * 3);
    for (const QWidget* window : QApplication::topLevelWidgets()) {
      if (window != this && window->isVisible()) {
        most = most.expandedTo(window->frameGeometry().size() - window->geometry().size());
      }
    }
    return most;
  }

  TextPane* pane_ = nullptr;
};

}  // namespace

namespace {

QWidget* Owner(WindowHandle handle) {
  return static_cast<QWidget*>(handle);
}

}  // namespace

int QtDesktopServices::MessageBox(WindowHandle owner, std::string_view text,
                                  std::string_view caption, unsigned flags) {
  return ShowBox(Owner(owner), FromUtf8(text), FromUtf8(caption), flags);
}

int QtDesktopServices::ShowBox(QWidget* owner, const QString& text, const QString& caption,
                               unsigned flags) {
  FittingMessageBox box(owner);
  box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  box.setWindowTitle(caption);
  // Shown as it is: a text that starts like a tag is no markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(ClippedBoxText(text));
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

void QtDesktopServices::MoveToTrash(WindowHandle handle, std::string_view pathList) {
  QWidget* owner = Owner(handle);
  const std::vector<std::string> paths = SplitNulList(pathList);
  if (paths.empty()) return;
  if (ShowBox(owner, ConfirmationText(paths), QStringLiteral("ファイルの削除"),
              mb::kYesNo | mb::kIconQuestion) != kIdYes)
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
    ShowBox(owner, FailureReport(failures, kMaxFailuresListed),
            QStringLiteral("ファイルの削除エラー"), mb::kOk | mb::kIconError);
  }
}

std::string QtDesktopServices::BrowseForFolder(WindowHandle owner, std::string_view prompt) {
  return TFFolderPicker::Choose(Owner(owner), FromUtf8(prompt), TFFolderPicker::HomeFolder());
}

void QtDesktopServices::OpenSearchWindow(WindowHandle owner, const std::string& folder) {
  // A separate window that lives on its own; parented so that it closes with the main window.
  auto* window = new TFFileSearch(Owner(owner));
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
