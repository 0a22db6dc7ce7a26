// The main window drawn with Qt Widgets: its controls, named as the rest of the program knows
// them. What the window does is the behaviour's; this face draws and forwards.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <limits>
#include <map>
#include <string>

#include "CoolBand.h"
#include "WindowBehaviour.h"
#include "WindowView.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QMimeData;
class QPlainTextEdit;
class QStatusBar;
class QTimer;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavrin {

// Names the application for the desktop. It sets no display name: Qt would append one to the
// caption of every window but the main one.
void SetUpApplication();

class TFMain : public QMainWindow, private WindowView {
  Q_OBJECT

 public:
  // workers: how many threads Run converts with; 0 for one per usable processor.
  explicit TFMain(DesktopServices& services, QWidget* parent = nullptr, unsigned workers = 0);
  ~TFMain() override;

  // The window's handlers by their names, for programs and tests that drive the window: these
  // call the behaviour directly, so an error reaches the caller. The widgets' own wiring goes
  // through the behaviour's one entry, which shows an error in one box and holds events back
  // while a run works.
  void FormCreate() { behaviour_.FormCreate(); }
  void DropFiles(const QMimeData& mime);
  void AddResultList(const std::string& path) { behaviour_.AddResultList(path); }
  void tmiFileRunClick() { behaviour_.tmiFileRunClick(); }
  void tmiFileFindFileClick() { behaviour_.tmiFileFindFileClick(); }
  void tmiFileCloseClick() { behaviour_.tmiFileCloseClick(); }
  void tmiEditListClearClick() { behaviour_.tmiEditListClearClick(); }
  void tmiEditListAllClearClick() { behaviour_.tmiEditListAllClearClick(); }
  void tmiEditListIsRecycledClick() { behaviour_.tmiEditListIsRecycledClick(); }
  void tmiEditCEntityClick() { behaviour_.tmiEditCEntityClick(); }
  void tmiHelpVersionClick() { behaviour_.tmiHelpVersionClick(); }
  void ttsViewEnter() { behaviour_.ttsViewEnter(); }
  void lvwResultDblClick() { behaviour_.lvwResultDblClick(); }
  void tmeViewDblClick() { behaviour_.tmeViewDblClick(); }

  void CEntityLoad() { behaviour_.CEntityLoad(); }
  std::string TavrinWithCEntity(std::string text) {
    return behaviour_.TavrinWithCEntity(std::move(text));
  }

  // What the tests read: the table in use, and what the controls show.
  const ArrayOfArrayOfString& EntityTable() const { return behaviour_.EntityTable(); }
  QString StatusText() const;
  int RowCount() const;
  std::string RowPath(int row) const;
  QString RowTaskText(int row) const;
  int RowImageIndex(int row) const;
  // False while a long preview is still being filled in behind the first screenful.
  bool PreviewComplete() const { return previewShown_ >= previewText_.size(); }

 Q_SIGNALS:
  void statusTextChanged(const QString& text);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The bands offer no menu to hide them with.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  // Hands an event to the behaviour.
  void Forward(void (WindowBehaviour::*handler)());

  void BuildActions();
  void BuildToolBars();
  void BuildPages();
  void BuildStatusBar();
  QAction* MakeAction(QMenu* menu, const char* name, const QString& caption, int image,
                      void (WindowBehaviour::*handler)());
  void FitPathColumn();
  void OnFocusChanged(QWidget* old, QWidget* now);
  void FeedPreview();

  // What the behaviour asks of the face.
  WindowHandle Handle() override { return static_cast<QWidget*>(this); }
  void RowsAppended(std::span<const FileListItem> rows) override;
  void RowChanged(int row, const FileListItem& item) override;
  void RowsRemoved(const std::vector<int>& rows) override;
  void RowsCleared() override;
  std::vector<int> SelectedRows() const override;
  void SetRowSelected(int row, bool selected) override;
  void ScrollToRow(int row) override;
  void PaintNow(int row) override;
  void SetStatusText(std::string_view text) override;
  void SetPreview(std::string_view shownPath, std::string_view shownText) override;
  void ShowPage(Page page) override;
  void ShowAboutBox() override;
  void CloseWindow() override;

  WindowBehaviour behaviour_;
  // The control of this window that last had the focus, kept while the focus is elsewhere.
  QPointer<QWidget> lastFocus_;
  QString previewText_;         // the whole text being shown
  qsizetype previewShown_ = 0;  // how much of it the memo has taken
  QTimer* previewFeeder_ = nullptr;
  // Rows selected (true) or deselected since the list last showed its selection. A change
  // costs Qt work for every piece of the selection, and a run makes two for each file: they
  // wait here until the list is painted or looked at, and then go in as one new selection.
  mutable std::map<int, bool> selectionChanges_;
  void ApplySelectionChanges() const;
  // Rows whose task text and image changed since the view was last told, first to last.
  int changedFirst_ = std::numeric_limits<int>::max();
  int changedLast_ = -1;
  bool changesQueued_ = false;
  void AnnounceRowChanges();

 public:
  // The window's controls, named as the rest of the program knows them.
  TCoolBand* ttbMain = nullptr;
  TCoolBand* ttbMenu = nullptr;
  QMenuBar* tmmMain = nullptr;
  QMenu* tmiFile = nullptr;
  QMenu* tmiEdit = nullptr;
  QMenu* tmiHelp = nullptr;
  QAction* tmiFileRun = nullptr;
  QAction* tmiFileFindFile = nullptr;
  QAction* tmiFileClose = nullptr;
  QAction* tmiEditListClear = nullptr;
  QAction* tmiEditListAllClear = nullptr;
  QAction* tmiEditListIsRecycled = nullptr;
  QAction* tmiEditCEntity = nullptr;
  QAction* tmiHelpVersion = nullptr;
  QWidget* tblTopSpacer = nullptr;
  QTabWidget* tpcMain = nullptr;
  QWidget* ttsMain = nullptr;
  QWidget* ttsView = nullptr;
  QTreeWidget* lvwResult = nullptr;
  QFrame* pnlView = nullptr;
  QPlainTextEdit* tmeViewPath = nullptr;
  QPlainTextEdit* tmeView = nullptr;
  QStatusBar* tsbMain = nullptr;
  QLabel* tsbMainText = nullptr;
};

}  // namespace tavrin
