// The main window: the file list, the preview page and every command of the program.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QToolBar>
#include <deque>
#include <memory>
#include <string>

#include "CodePage.h"
#include "TavrinFunctions.h"
#include "VBLikeFunctions.h"

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

class DesktopServices;

// Task texts and images of a row of the file list.
inline constexpr int kImageWaiting = 0;
inline constexpr int kImageConverting = 1;
inline constexpr int kImageConverted = 3;

// A file at least this large takes longer to read and convert than a repaint of the window
// costs, so its row is always shown as being converted before the work starts.
inline constexpr long long kLongFileBytes = 1 << 20;

// Names the application for the desktop. It sets no display name: Qt would append one to the
// caption of every window but the main one.
void SetUpApplication();

// A band of the cool bar: a toolbar whose gripper the window watches for double clicks.
class TCoolBand : public QToolBar {
 public:
  using QToolBar::QToolBar;
  // Where the gripper is drawn, in the band's coordinates.
  QRect GripperRect() const;
};

class TFMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TFMain(DesktopServices& services, QWidget* parent = nullptr);
  ~TFMain() override;

  // Event handlers, each run through the one error wrapper by the widgets' wiring.
  void FormCreate();
  void DropFiles(const QMimeData& mime);
  void AddResultList(const std::string& path);
  void tmiFileRunClick();
  void tmiFileFindFileClick();
  void tmiFileCloseClick();
  void tmiEditListClearClick();
  void tmiEditListAllClearClick();
  void tmiEditListIsRecycledClick();
  void tmiEditCEntityClick();
  void tmiHelpVersionClick();
  void ttsViewEnter();
  void lvwResultDblClick();
  void tmeViewDblClick();

  // Widens band to all of its row that the other bands of the row leave at their minimum width.
  void MaximiseBand(TCoolBand* band);

  void CEntityLoad();
  std::string TavrinWithCEntity(std::string text);

  // What the tests and the status bar read.
  const ArrayOfArrayOfString& EntityTable() const { return CEntityTable; }
  QString StatusText() const;
  int RowCount() const;
  std::string RowPath(int row) const;
  QString RowTaskText(int row) const;
  int RowImageIndex(int row) const;
  bool IsBusy() const { return busy_; }
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
  // Runs a handler; an error ends it and is shown by the application's error box.
  template <typename Handler>
  void Guarded(Handler&& handler);

  void BuildActions();
  void BuildToolBars();
  void BuildPages();
  void BuildStatusBar();
  QAction* MakeAction(QMenu* menu, const char* name, const QString& caption, int image,
                      void (TFMain::*handler)());
  void SetStatusText(const QString& text);
  void SetRowState(QTreeWidgetItem* item, const QString& taskText, int image);
  void FitPathColumn();
  void RepaintNowAndThen(QTreeWidgetItem* current, const std::string& path);
  void OnFocusChanged(QWidget* old, QWidget* now);
  void ShowPreview(QString text);
  void FeedPreview();

  DesktopServices& services_;
  ArrayOfArrayOfString CEntityTable;
  // CEntityTable prepared for conversion, and the lead-byte set it was prepared with.
  std::unique_ptr<TableConverter> converter_;
  LeadByteSet converterLeadBytes_;
  bool busy_ = false;
  // Drops that arrived while a run held the window, handled in order once it ends.
  std::deque<std::unique_ptr<QMimeData>> dropsDuringRun_;
  int viewEnters_ = 0;
  // The control of this window that last had the focus, kept while the focus is elsewhere.
  QPointer<QWidget> lastFocus_;
  QElapsedTimer sinceRepaint_;
  QString previewText_;         // the whole text being shown
  qsizetype previewShown_ = 0;  // how much of it the memo has taken
  QTimer* previewFeeder_ = nullptr;

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

// The one main window of the program, set as soon as it starts being created.
extern TFMain* FMain;

}  // namespace tavrin
