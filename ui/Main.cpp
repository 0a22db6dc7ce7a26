#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <utility>

#include "AboutBox.h"
#include "CoolBand.h"
#include "DroppedFiles.h"
#include "EndingSignals.h"
#include "ImageList.h"
#include "TextCodec.h"
#include "Texts.h"

namespace tavrin {

namespace {

constexpr int kColumnName = 0;
constexpr int kColumnPath = 1;
constexpr int kColumnTask = 2;
constexpr int kImageRole = Qt::UserRole + 1;
// The memo takes a long text in slices of about this many characters, the first at once and
// the rest from the event loop, so the window never stalls for long.
constexpr qsizetype kPreviewSlice = 256 * 1024;

// The named Japanese faces first, then their metric stand-ins that Debian ships.
QFont JapaneseFont(const QStringList& faces) {
  QFont font;
  font.setFamilies(faces + QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
  font.setPixelSize(12);
  return font;
}
QFont FormFont() {
  return JapaneseFont({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic")});
}
QFont UiFont() {
  return JapaneseFont({QStringLiteral("MS UI Gothic")});
}
QFont FixedFont() {
  return JapaneseFont(
      {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic")});
}

// The list and the memos show button-face colours, as the rest of the window's chrome does.
void UseButtonFaceColours(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  palette.setColor(QPalette::Text, palette.color(QPalette::ButtonText));
  widget->setPalette(palette);
}

bool IsInside(const QWidget* widget, const QWidget* container) {
  return widget != nullptr && (widget == container || container->isAncestorOf(widget));
}

// A caption as a screen reader reads it: "&&" is a plain "&", a lone "&" only marks the key.
QString WithoutAccelerator(const QString& caption) {
  QString text;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && ++i == caption.size()) break;
    text += caption[i];
  }
  return text;
}

// No control carries a hint text, so no tooltip is ever shown; without this, Qt would show a
// toolbar button's caption as its tooltip.
class NoToolTips : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

// The rows a selection covers, first to last. Asking row by row whether it is selected would
// search every range for each row.
std::vector<int> RowsOf(const QItemSelection& selection) {
  std::vector<int> rows;
  for (const QItemSelectionRange& range : selection) {
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

// The few task texts there are, each decoded once.
const QString& TaskText(const std::string& text) {
  static std::vector<std::pair<std::string, QString>> known;
  for (const auto& [utf8, shown] : known) {
    if (utf8 == text) return shown;
  }
  return known.emplace_back(text, FromUtf8(text)).second;
}

// A row of the list, which keeps its task text and image itself. A run changes them twice for
// every file: through QTreeWidgetItem's own setters, each change would look the row up (the
// first time, by a search of the whole list) and tell the view three times over.
class ListRow : public QTreeWidgetItem {
 public:
  void Show(const FileListItem& state) {
    task_ = TaskText(state.taskText);
    image_ = state.imageIndex;
  }
  QVariant data(int column, int role) const override {
    if (column == kColumnTask && (role == Qt::DisplayRole || role == Qt::EditRole)) return task_;
    if (column == kColumnName && role == Qt::DecorationRole) return TilMainIcon(image_);
    if (column == kColumnName && role == kImageRole) return image_;
    return QTreeWidgetItem::data(column, role);
  }

 private:
  QString task_;
  int image_ = kImageWaiting;
};

ListRow* RowItem(const QTreeWidget* list, int row) {
  return static_cast<ListRow*>(list->topLevelItem(row));
}

// Appends items at the end of the list. Qt finds an item's row, the first time the item changes
// after it joined a list, by a search from the list's end, and remembers it: for every row of a
// long list that is the square of its length, paid by the run's first change of each row. So the
// items go in pieces, and each is looked up while it is near the end (the lookup is the only
// thing isPersistentEditorOpen costs here).
void AppendItems(QTreeWidget* list, const QList<QTreeWidgetItem*>& items) {
  constexpr qsizetype kPiece = 256;
  for (qsizetype first = 0; first < items.size(); first += kPiece) {
    const QList<QTreeWidgetItem*> piece = items.mid(first, kPiece);
    list->addTopLevelItems(piece);
    for (QTreeWidgetItem* item : piece) static_cast<void>(list->isPersistentEditorOpen(item));
  }
}

// Where the next slice of a long preview ends: after a line break near the slice size.
qsizetype SliceEnd(const QString& text, qsizetype from) {
  if (text.size() - from <= kPreviewSlice) return text.size();
  const qsizetype newline = text.indexOf(QLatin1Char('\n'), from + kPreviewSlice);
  return newline < 0 ? text.size() : newline + 1;
}

}  // namespace

void SetUpApplication() {
  QApplication::setApplicationName(QString::fromUtf8(texts::kApplicationTitle));
  QApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
  QApplication::setWindowIcon(ProgramIcon());
}

TFMain::TFMain(DesktopServices& services, QWidget* parent, unsigned workers)
    : QMainWindow(parent), behaviour_(*this, services, workers) {
  setObjectName(QStringLiteral("FMain"));
  setWindowTitle(QString::fromUtf8(texts::kApplicationTitle));
  setFont(FormFont());
  BuildActions();
  BuildToolBars();
  BuildPages();
  BuildStatusBar();
  resize(632, 453);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  connect(qApp, &QApplication::focusChanged, this, &TFMain::OnFocusChanged);
  qApp->installEventFilter(new NoToolTips(this));
  previewFeeder_ = new QTimer(this);
  previewFeeder_->setInterval(0);
  connect(previewFeeder_, &QTimer::timeout, this, &TFMain::FeedPreview);
  // A run ended from outside must not leave its new files behind.
  EndOnSignalsWithoutLeftovers();
  Forward(&WindowBehaviour::FormCreate);
}

TFMain::~TFMain() {
  // The widgets go before QObject's own clean-up would cut this link; focus moves meanwhile.
  disconnect(qApp, nullptr, this, nullptr);
}

void TFMain::Forward(void (WindowBehaviour::*handler)()) {
  behaviour_.Handle([this, handler] { (behaviour_.*handler)(); });
}

QAction* TFMain::MakeAction(QMenu* menu, const char* name, const QString& caption, int image,
                            void (WindowBehaviour::*handler)()) {
  QAction* action = menu->addAction(TilMainIcon(image), caption);
  action->setObjectName(QString::fromLatin1(name));
  action->setProperty("imageIndex", image);
  action->setIconVisibleInMenu(true);
  connect(action, &QAction::triggered, this, [this, handler] { Forward(handler); });
  return action;
}

void TFMain::BuildActions() {
  tmmMain = new QMenuBar;
  tmmMain->setObjectName(QStringLiteral("tmmMain"));
  // Desktops with a global menu would otherwise take the menu out of the window.
  tmmMain->setNativeMenuBar(false);
  tmmMain->setFont(UiFont());
  tmmMain->setAccessibleName(QStringLiteral("メニュー"));

  auto addSeparator = [](QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
  };
  tmiFile = tmmMain->addMenu(QStringLiteral("ファイル(&F)"));
  tmiFile->setObjectName(QStringLiteral("tmiFile"));
  tmiFile->setAccessibleName(WithoutAccelerator(tmiFile->title()));
  tmiFileRun = MakeAction(tmiFile, "tmiFileRun", QStringLiteral("実行(&R)"), 4,
                          &WindowBehaviour::tmiFileRunClick);
  tmiFileFindFile =
      MakeAction(tmiFile, "tmiFileFindFile", QStringLiteral("ファイル検索ダイアログを表示する(&F)"),
                 11, &WindowBehaviour::tmiFileFindFileClick);
  addSeparator(tmiFile, "tmiFileHR01");
  tmiFileClose = MakeAction(tmiFile, "tmiFileClose", QStringLiteral("閉じる(&C)"), 5,
                            &WindowBehaviour::tmiFileCloseClick);

  tmiEdit = tmmMain->addMenu(QStringLiteral("編集(&E)"));
  tmiEdit->setObjectName(QStringLiteral("tmiEdit"));
  tmiEdit->setAccessibleName(WithoutAccelerator(tmiEdit->title()));
  tmiEditListClear =
      MakeAction(tmiEdit, "tmiEditListClear", QStringLiteral("選択した項目をクリア(&S)"), 6,
                 &WindowBehaviour::tmiEditListClearClick);
  tmiEditListAllClear =
      MakeAction(tmiEdit, "tmiEditListAllClear", QStringLiteral("リストを全てクリア(&C)"), 7,
                 &WindowBehaviour::tmiEditListAllClearClick);
  addSeparator(tmiEdit, "tmiEditHR01");
  tmiEditListIsRecycled =
      MakeAction(tmiEdit, "tmiEditListIsRecycled", QStringLiteral("リストファイルをごみ箱へ(&R)"),
                 9, &WindowBehaviour::tmiEditListIsRecycledClick);
  addSeparator(tmiEdit, "tmiEditHR02");
  tmiEditCEntity = MakeAction(tmiEdit, "tmiEditCEntity",
                              QStringLiteral("「CEntity.txt」の読み込みを確認する(&E)"), 10,
                              &WindowBehaviour::tmiEditCEntityClick);

  tmiHelp = tmmMain->addMenu(QStringLiteral("ヘルプ(&H)"));
  tmiHelp->setObjectName(QStringLiteral("tmiHelp"));
  tmiHelp->setAccessibleName(WithoutAccelerator(tmiHelp->title()));
  tmiHelpVersion = MakeAction(tmiHelp, "tmiHelpVersion", QStringLiteral("バージョン情報(&A)..."), 8,
                              &WindowBehaviour::tmiHelpVersionClick);

  // F10 opens the first menu from the keyboard, its first item selected, as a menu bar would.
  connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this, [this] {
    tmmMain->setActiveAction(tmiFile->menuAction());
    tmiFile->setActiveAction(tmiFile->actions().value(0));
  });
}

void TFMain::BuildToolBars() {
  // The two bands of the cool bar: the icon toolbar and the menu row, side by side and movable.
  ttbMain = new TCoolBand(QStringLiteral("ttbMain"), QStringLiteral("ツールバー"), this);
  ttbMain->setIconSize(QSize(16, 16));
  ttbMain->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ttbMain->setMinimumSize(162, 22);
  struct Slot {
    const char* name;
    QAction* action;  // null for a separator
  };
  const Slot slots[] = {
      {"ToolButton1", tmiFileRun},
      {"ToolButton9", tmiFileFindFile},
      {"ToolButton2", nullptr},
      {"ToolButton3", tmiEditListClear},
      {"ToolButton4", tmiEditListAllClear},
      {"ToolButton5", nullptr},
      {"ToolButton8", tmiEditListIsRecycled},
      {"ToolButton7", nullptr},
      {"ToolButton6", tmiFileClose},
  };
  for (const Slot& slot : slots) {
    QAction* action = slot.action ? slot.action : ttbMain->addSeparator();
    if (slot.action) ttbMain->addAction(action);
    if (QWidget* widget = ttbMain->widgetForAction(action)) {
      widget->setObjectName(QString::fromLatin1(slot.name));
      if (slot.action) {
        widget->setFixedSize(23, 22);  // a flat toolbar's button for 16 x 16 images
        // A button with only a picture reads as its menu item does: the caption without the
        // accelerator's marker, which Qt drops from menu items and reports as a key binding.
        widget->setAccessibleName(WithoutAccelerator(slot.action->text()));
      }
    }
  }
  addToolBar(Qt::TopToolBarArea, ttbMain);

  ttbMenu = new TCoolBand(QStringLiteral("ttbMenu"), QStringLiteral("メニュー バー"), this);
  ttbMenu->setMinimumSize(170, 20);
  ttbMenu->addWidget(tmmMain);
  addToolBar(Qt::TopToolBarArea, ttbMenu);
}

void TFMain::BuildPages() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  tblTopSpacer = new QWidget(central);
  tblTopSpacer->setObjectName(QStringLiteral("tblTopSpacer"));
  tblTopSpacer->setFixedHeight(5);
  layout->addWidget(tblTopSpacer);

  tpcMain = new QTabWidget(central);
  tpcMain->setObjectName(QStringLiteral("tpcMain"));
  tpcMain->setFont(UiFont());
  tpcMain->setDocumentMode(true);
  tpcMain->setIconSize(QSize(16, 16));
  // Tabs as flat buttons: no edge until pointed at, the page shown pressed in.
  tpcMain->tabBar()->setStyleSheet(QStringLiteral(
      "QTabBar::tab { background: transparent; border: 1px solid transparent;"
      " padding: 2px 6px; margin: 2px 2px 2px 0px; }"
      "QTabBar::tab:hover:!selected { border-color: palette(light) palette(dark) palette(dark)"
      " palette(light); }"
      "QTabBar::tab:selected { background: palette(midlight); border-color: palette(dark)"
      " palette(light) palette(light) palette(dark); }"));
  layout->addWidget(tpcMain, 1);

  ttsMain = new QWidget;
  ttsMain->setObjectName(QStringLiteral("ttsMain"));
  auto* mainLayout = new QVBoxLayout(ttsMain);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  lvwResult = new QTreeWidget(ttsMain);
  lvwResult->setObjectName(QStringLiteral("lvwResult"));
  lvwResult->setFont(FixedFont());
  // Named as its page: a screen reader reads each row's three cells under the headers.
  lvwResult->setAccessibleName(QStringLiteral("リスト"));
  lvwResult->setColumnCount(3);
  lvwResult->setHeaderLabels(
      {QStringLiteral("ファイル名"), QStringLiteral("パス"), QStringLiteral("タスク")});
  lvwResult->setRootIsDecorated(false);
  lvwResult->setUniformRowHeights(true);
  lvwResult->setItemsExpandable(false);
  lvwResult->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvwResult->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvwResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvwResult->setIconSize(QSize(16, 16));
  lvwResult->setFrameShape(QFrame::StyledPanel);
  lvwResult->header()->setSectionsClickable(false);
  lvwResult->header()->setSectionsMovable(false);
  lvwResult->header()->setStretchLastSection(false);
  lvwResult->header()->resizeSection(kColumnName, 120);
  lvwResult->header()->resizeSection(kColumnPath, 200);
  lvwResult->header()->resizeSection(kColumnTask, 80);
  UseButtonFaceColours(lvwResult);
  {
    // The selection shows only while the list has the focus.
    QPalette palette = lvwResult->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Base));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, palette.color(QPalette::Text));
    lvwResult->setPalette(palette);
  }
  lvwResult->installEventFilter(this);
  lvwResult->viewport()->installEventFilter(this);
  connect(lvwResult->header(), &QHeaderView::sectionResized, this, [this](int index, int, int) {
    if (index != kColumnPath) FitPathColumn();
  });
  mainLayout->addWidget(lvwResult);
  tpcMain->addTab(ttsMain, TilMainIcon(12), QStringLiteral("リスト"));

  ttsView = new QWidget;
  ttsView->setObjectName(QStringLiteral("ttsView"));
  auto* viewLayout = new QVBoxLayout(ttsView);
  viewLayout->setContentsMargins(0, 0, 0, 0);
  pnlView = new QFrame(ttsView);
  pnlView->setObjectName(QStringLiteral("pnlView"));
  pnlView->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* panelLayout = new QVBoxLayout(pnlView);
  panelLayout->setContentsMargins(1, 1, 1, 1);
  panelLayout->setSpacing(0);
  tmeViewPath = new QPlainTextEdit(pnlView);
  tmeViewPath->setObjectName(QStringLiteral("tmeViewPath"));
  tmeViewPath->setReadOnly(true);
  tmeViewPath->setAccessibleName(QStringLiteral("パス"));
  tmeViewPath->setFont(UiFont());
  tmeViewPath->setLineWrapMode(QPlainTextEdit::NoWrap);
  tmeViewPath->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tmeViewPath->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tmeViewPath->setFrameShape(QFrame::NoFrame);
  tmeViewPath->document()->setDocumentMargin(1);
  tmeViewPath->setFixedHeight(QFontMetrics(tmeViewPath->font()).height() + 4);
  // The path line never takes the focus: entering the page puts it in the text.
  tmeViewPath->setFocusPolicy(Qt::NoFocus);
  tmeView = new QPlainTextEdit(pnlView);
  tmeView->setObjectName(QStringLiteral("tmeView"));
  tmeView->setReadOnly(true);
  tmeView->setAccessibleName(QStringLiteral("ビュー"));
  tmeView->setFont(FixedFont());
  tmeView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  tmeView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  tmeView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  tmeView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  tmeView->setFrameShape(QFrame::NoFrame);
  tmeView->viewport()->installEventFilter(this);
  for (QPlainTextEdit* memo : {tmeViewPath, tmeView}) {
    UseButtonFaceColours(memo);
    memo->setUndoRedoEnabled(false);
  }
  panelLayout->addWidget(tmeViewPath);
  panelLayout->addWidget(tmeView, 1);
  viewLayout->addWidget(pnlView);
  tpcMain->addTab(ttsView, TilMainIcon(13), QStringLiteral("ビュー"));
  tpcMain->setCurrentWidget(ttsMain);

  // Files dropped anywhere over the window reach the window itself, so no child takes drops.
  for (QWidget* child :
       {static_cast<QWidget*>(lvwResult), lvwResult->viewport(), static_cast<QWidget*>(tmeViewPath),
        tmeViewPath->viewport(), static_cast<QWidget*>(tmeView), tmeView->viewport()}) {
    child->setAcceptDrops(false);
  }
  setAcceptDrops(true);
  setCentralWidget(central);
}

void TFMain::BuildStatusBar() {
  tsbMain = new QStatusBar(this);
  tsbMain->setObjectName(QStringLiteral("tsbMain"));
  tsbMain->setSizeGripEnabled(true);
  tsbMain->setFixedHeight(20);
  tsbMain->setAccessibleName(QStringLiteral("ステータス"));
  tsbMainText = new QLabel(tsbMain);
  tsbMainText->setObjectName(QStringLiteral("tsbMainText"));
  tsbMain->addWidget(tsbMainText, 1);
  setStatusBar(tsbMain);
}

QString TFMain::StatusText() const {
  return tsbMainText->text();
}

int TFMain::RowCount() const {
  return lvwResult->topLevelItemCount();
}

std::string TFMain::RowPath(int row) const {
  return behaviour_.Rows().at(static_cast<std::size_t>(row)).path;
}

QString TFMain::RowTaskText(int row) const {
  return lvwResult->topLevelItem(row)->text(kColumnTask);
}

int TFMain::RowImageIndex(int row) const {
  return lvwResult->topLevelItem(row)->data(kColumnName, kImageRole).toInt();
}

void TFMain::FitPathColumn() {
  QHeaderView* header = lvwResult->header();
  const int rest = lvwResult->viewport()->width() - header->sectionSize(kColumnName) -
                   header->sectionSize(kColumnTask);
  const QSignalBlocker block(header);
  header->resizeSection(kColumnPath, std::max(rest, 20));
}

void TFMain::DropFiles(const QMimeData& mime) {
  behaviour_.DropFiles(LocalPathsFromMimeData(mime));
}

// ---- what the behaviour shows ----

void TFMain::RowsAppended(std::span<const FileListItem> rows) {
  // The rows are made whole before they join the list, all in one insertion: the view lays
  // out once, however many files came.
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  for (const FileListItem& row : rows) {
    auto* item = new ListRow;
    item->setText(kColumnName, FromUtf8(row.shownName));
    item->setText(kColumnPath, FromUtf8(row.shownPath));
    item->Show(row);
    items.append(item);
  }
  AppendItems(lvwResult, items);
}

void TFMain::RowChanged(int row, const FileListItem& state) {
  RowItem(lvwResult, row)->Show(state);
  changedFirst_ = std::min(changedFirst_, row);
  changedLast_ = std::max(changedLast_, row);
  // Told to the view before it paints, or once the command is over, whichever comes first.
  if (!changesQueued_) {
    changesQueued_ = true;
    QMetaObject::invokeMethod(this, &TFMain::AnnounceRowChanges, Qt::QueuedConnection);
  }
}

void TFMain::AnnounceRowChanges() {
  changesQueued_ = false;
  const int last = std::min(changedLast_, RowCount() - 1);
  if (changedFirst_ <= last) {
    // One range for all the rows changed since the view was last told: it repaints what of it
    // shows, and a screen reader hears of it.
    QAbstractItemModel* model = lvwResult->model();
    Q_EMIT model->dataChanged(model->index(changedFirst_, 0),
                              model->index(last, model->columnCount() - 1));
  }
  changedFirst_ = std::numeric_limits<int>::max();
  changedLast_ = -1;
}

void TFMain::RowsRemoved(const std::vector<int>& rows) {
  AnnounceRowChanges();
  ApplySelectionChanges();
  // Each removal from a Qt list moves every row after it, the selection and the current row,
  // so rows removed one at a time cost the square of the list. All rows are taken out at once
  // and the kept ones put back: two steps, whatever the selection looks like.
  const int current = lvwResult->currentIndex().row();
  const int scrolled = lvwResult->verticalScrollBar()->value();
  lvwResult->setUpdatesEnabled(false);
  const QList<QTreeWidgetItem*> items = lvwResult->invisibleRootItem()->takeChildren();
  QList<QTreeWidgetItem*> kept;
  kept.reserve(items.size());
  qsizetype keptBeforeCurrent = 0;
  auto next = rows.begin();
  for (qsizetype row = 0; row < items.size(); ++row) {
    if (row == current) keptBeforeCurrent = kept.size();
    if (next != rows.end() && *next == row) {
      delete items[row];
      ++next;
    } else {
      kept.append(items[row]);
    }
  }
  AppendItems(lvwResult, kept);
  // Where Qt's own removal of one row after another would leave them: the current row stays, or
  // the last row kept before it becomes current (the first kept after it when none comes
  // before) and is scrolled into view; otherwise the list keeps its scroll position.
  if (current >= 0 && !kept.isEmpty()) {
    const bool currentRemoved = std::binary_search(rows.begin(), rows.end(), current);
    const qsizetype at =
        currentRemoved && keptBeforeCurrent > 0 ? keptBeforeCurrent - 1 : keptBeforeCurrent;
    QTreeWidgetItem* item = kept[std::min(at, kept.size() - 1)];
    lvwResult->doItemsLayout();
    if (currentRemoved) lvwResult->verticalScrollBar()->setValue(scrolled);
    lvwResult->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    if (!currentRemoved) lvwResult->verticalScrollBar()->setValue(scrolled);
  }
  lvwResult->setUpdatesEnabled(true);
}

void TFMain::RowsCleared() {
  AnnounceRowChanges();
  selectionChanges_.clear();
  lvwResult->clear();
}

std::vector<int> TFMain::SelectedRows() const {
  ApplySelectionChanges();
  return RowsOf(lvwResult->selectionModel()->selection());
}

void TFMain::SetRowSelected(int row, bool selected) {
  selectionChanges_[row] = selected;
}

void TFMain::ApplySelectionChanges() const {
  if (selectionChanges_.empty()) return;
  // Qt changes a selection range by range, and each change scans every range of it; with a
  // selection in thousands of pieces that is slow. The new selection is worked out here in one
  // pass and set whole: cleared, then selected, neither of which Qt compares with the other.
  QItemSelectionModel* selection = lvwResult->selectionModel();
  const std::vector<int> before = RowsOf(selection->selection());
  std::vector<int> after;
  after.reserve(before.size() + selectionChanges_.size());
  auto row = before.begin();
  for (const auto& [changed, selected] : selectionChanges_) {
    while (row != before.end() && *row < changed) after.push_back(*row++);
    if (row != before.end() && *row == changed) ++row;
    if (selected) after.push_back(changed);
  }
  after.insert(after.end(), row, before.end());
  selectionChanges_.clear();
  // Neighbouring rows make one range, as wide as the row: Qt widens ranges to whole rows
  // by merging each into all the others.
  QItemSelection ranges;
  const QAbstractItemModel* model = lvwResult->model();
  const int lastColumn = model->columnCount() - 1;
  for (std::size_t first = 0; first < after.size();) {
    std::size_t last = first;
    while (last + 1 < after.size() && after[last + 1] == after[last] + 1) ++last;
    ranges.append(
        QItemSelectionRange(model->index(after[first], 0), model->index(after[last], lastColumn)));
    first = last + 1;
  }
  selection->clearSelection();
  selection->select(ranges, QItemSelectionModel::Select);
}

void TFMain::ScrollToRow(int row) {
  ApplySelectionChanges();
  // By index: scrollToItem would look the row's item up in the whole list.
  lvwResult->scrollTo(lvwResult->model()->index(row, 0));
}

void TFMain::PaintNow(int row) {
  // The run stays inside its command; the window paints (and answers the desktop) meanwhile,
  // while input waits until the run is over.
  AnnounceRowChanges();
  ScrollToRow(row);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFMain::SetStatusText(std::string_view text) {
  const QString shown = FromUtf8(text);
  tsbMainText->setText(shown);
  Q_EMIT statusTextChanged(shown);
}

void TFMain::SetPreview(std::string_view shownPath, std::string_view shownText) {
  previewFeeder_->stop();
  previewText_ = FromUtf8(shownText);
  previewShown_ = SliceEnd(previewText_, 0);
  tmeView->setPlainText(previewText_.first(previewShown_));
  if (PreviewComplete()) {
    previewText_.clear();
    previewShown_ = 0;
  } else {
    previewFeeder_->start();
  }
  tmeViewPath->setPlainText(FromUtf8(shownPath));
}

void TFMain::FeedPreview() {
  const qsizetype end = SliceEnd(previewText_, previewShown_);
  QTextCursor cursor(tmeView->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(previewText_.sliced(previewShown_, end - previewShown_));
  previewShown_ = end;
  if (PreviewComplete()) {
    previewFeeder_->stop();
    previewText_.clear();
    previewShown_ = 0;
  }
}

void TFMain::ShowPage(Page page) {
  QWidget* first = page == Page::kView ? static_cast<QWidget*>(tmeView) : lvwResult;
  tpcMain->setCurrentWidget(page == Page::kView ? ttsView : ttsMain);
  first->setFocus(Qt::OtherFocusReason);
  // When the window is not active no focus change is announced; the focus is in the page all
  // the same, so its activation later is no move into it.
  lastFocus_ = first;
}

void TFMain::ShowAboutBox() {
  TFAboutBox::Execute(this);
}

void TFMain::CloseWindow() {
  close();
}

void TFMain::OnFocusChanged(QWidget*, QWidget* now) {
  // Only a move between this window's own controls counts. The focus leaving for a message box,
  // a menu or another program and coming back is no move, whatever Qt reports as its origin;
  // so is a visit to the menu row, which hands the focus back when it closes.
  if (now == nullptr || now->window() != this || IsInside(now, ttbMain) || IsInside(now, ttbMenu)) {
    return;
  }
  const bool entered = IsInside(now, ttsView) && !IsInside(lastFocus_, ttsView);
  lastFocus_ = now;
  if (entered) Forward(&WindowBehaviour::ttsViewEnter);
}

// ---- events ----

void TFMain::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFMain::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFMain::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  // The list is taken now: the drag's data goes with the event, and a drop that arrives while a
  // run paints is handled after the run.
  std::vector<std::string> paths = LocalPathsFromMimeData(*event->mimeData());
  behaviour_.Handle([this, paths = std::move(paths)] { behaviour_.DropFiles(paths); });
}

void TFMain::closeEvent(QCloseEvent* event) {
  // Closing in the middle of a run, or under its error box, closes after them: nothing is left
  // half written, and no box stays without its window.
  if (behaviour_.IsHoldingEvents()) {
    event->ignore();
    behaviour_.Handle([this] { close(); });
    return;
  }
  QMainWindow::closeEvent(event);
  // Closing the main window ends the program: the windows it opened (a search window) go with
  // it, or they would keep the program running with no main window.
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) child->close();
  }
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == lvwResult->viewport()) {
      Forward(&WindowBehaviour::lvwResultDblClick);
      return true;
    }
    if (watched == tmeView->viewport()) {
      Forward(&WindowBehaviour::tmeViewDblClick);
      return true;
    }
  }
  if (event->type() == QEvent::Resize && watched == lvwResult->viewport()) FitPathColumn();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace tavrin
