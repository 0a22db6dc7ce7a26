#include "Main.h"

#include <sys/stat.h>

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
#include <QStatusBar>
#include <QStyleOptionToolBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "AboutBox.h"
#include "DesktopServices.h"
#include "EntityTable.h"
#include "ErrorHandler.h"
#include "FileIOTools.h"
#include "FileList.h"
#include "ImageList.h"
#include "Modules.h"
#include "TavrinFunctions.h"
#include "TextCodec.h"

namespace tavrin {

TFMain* FMain = nullptr;

namespace {

constexpr int kColumnName = 0;
constexpr int kColumnPath = 1;
constexpr int kColumnTask = 2;
constexpr int kPathRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kRepaintIntervalMs = 30;
// A memo lays out a whole paragraph at once and takes seconds on one of megabytes, so longer
// lines are shown in pieces of about this size, broken after a space where there is one.
constexpr qsizetype kLongestShownLine = 8192;
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

// No control carries a hint text, so no tooltip is ever shown; without this, Qt would show a
// toolbar button's caption as its tooltip.
class NoToolTips : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

// Whether the file at path is large enough that its conversion is worth showing as it happens.
bool TakesLong(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_size >= kLongFileBytes;
}

// Moves band the way a drag on its gripper does: by dx pixels along its row, pushing or
// squeezing its neighbours down to their minimum widths, never past them.
void DragGripper(TCoolBand* band, int dx) {
  const QPoint from = band->GripperRect().center();
  const QPoint to = from + QPoint(dx, 0);
  const QPoint globalFrom = band->mapToGlobal(from);
  QMouseEvent press(QEvent::MouseButtonPress, from, globalFrom, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(band, &press);
  // A first step past the drag distance starts the move, the second one makes it.
  for (const QPoint& at :
       {from + QPoint(dx > 0 ? 1 : -1, 0) * (QApplication::startDragDistance() + 1), to}) {
    QMouseEvent move(QEvent::MouseMove, at, band->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(band, &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, to, band->mapToGlobal(to), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(band, &release);
}

// The preview shows the text as a memo would: up to its first NUL.
std::string_view UpToFirstNul(const std::string& text) {
  return std::string_view(text).substr(0, text.find('\0'));
}

// Appends one line, cut into pieces of at most kLongestShownLine characters, each ending after
// its last space where it has one, and never between the halves of a surrogate pair.
void AppendShownLine(QString& out, QStringView line) {
  while (line.size() > kLongestShownLine) {
    qsizetype cut = line.lastIndexOf(QLatin1Char(' '), kLongestShownLine - 1) + 1;
    if (cut <= 0) cut = kLongestShownLine;
    if (line[cut - 1].isHighSurrogate()) --cut;
    out.append(line.first(cut));
    out.append(QLatin1Char('\n'));
    line = line.sliced(cut);
  }
  out.append(line);
}

// CR LF, CR and LF each end a shown line; over-long lines are cut for display only.
QString ShownLines(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / kLongestShownLine + 16);
  const QChar* data = text.constData();
  const qsizetype size = text.size();
  qsizetype at = 0;
  while (at < size) {
    qsizetype end = at;
    while (end < size && data[end] != QLatin1Char('\r') && data[end] != QLatin1Char('\n')) ++end;
    AppendShownLine(out, QStringView(data + at, end - at));
    if (end == size) break;
    out.append(QLatin1Char('\n'));
    end += (data[end] == QLatin1Char('\r') && end + 1 < size && data[end + 1] == QLatin1Char('\n'))
               ? 2
               : 1;
    at = end;
  }
  return out;
}

// Where the next slice of a long preview ends: after a line break near the slice size.
qsizetype SliceEnd(const QString& text, qsizetype from) {
  if (text.size() - from <= kPreviewSlice) return text.size();
  const qsizetype newline = text.indexOf(QLatin1Char('\n'), from + kPreviewSlice);
  return newline < 0 ? text.size() : newline + 1;
}

}  // namespace

void SetUpApplication() {
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  QApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
  QApplication::setWindowIcon(ProgramIcon());
}

QRect TCoolBand::GripperRect() const {
  QStyleOptionToolBar option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_ToolBarHandle, &option, this);
}

TFMain::TFMain(DesktopServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services) {
  FMain = this;
  setObjectName(QStringLiteral("FMain"));
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
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
  Guarded([this] { FormCreate(); });
}

TFMain::~TFMain() {
  // The widgets go before QObject's own clean-up would cut this link; focus moves meanwhile.
  disconnect(qApp, nullptr, this, nullptr);
  if (FMain == this) FMain = nullptr;
}

template <typename Handler>
void TFMain::Guarded(Handler&& handler) {
  // A batch run holds the window: nothing else may start until it ends. Input waits in the
  // queue meanwhile (see RepaintNowAndThen); drops are kept by dropEvent.
  if (busy_) return;
  try {
    handler();
  } catch (const std::exception& error) {
    ShowError(services_, error);
  }
  // Drops that came during a run are handled once it is over, error box included, in order.
  while (!busy_ && !dropsDuringRun_.empty()) {
    const std::unique_ptr<QMimeData> mime = std::move(dropsDuringRun_.front());
    dropsDuringRun_.pop_front();
    try {
      DropFiles(*mime);
    } catch (const std::exception& error) {
      ShowError(services_, error);
    }
  }
}

QAction* TFMain::MakeAction(QMenu* menu, const char* name, const QString& caption, int image,
                            void (TFMain::*handler)()) {
  QAction* action = menu->addAction(TilMainIcon(image), caption);
  action->setObjectName(QString::fromLatin1(name));
  action->setProperty("imageIndex", image);
  action->setIconVisibleInMenu(true);
  connect(action, &QAction::triggered, this,
          [this, handler] { Guarded([&] { (this->*handler)(); }); });
  return action;
}

void TFMain::BuildActions() {
  tmmMain = new QMenuBar;
  tmmMain->setObjectName(QStringLiteral("tmmMain"));
  // Desktops with a global menu would otherwise take the menu out of the window.
  tmmMain->setNativeMenuBar(false);
  tmmMain->setFont(UiFont());

  auto addSeparator = [](QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
  };
  tmiFile = tmmMain->addMenu(QStringLiteral("ファイル(&F)"));
  tmiFile->setObjectName(QStringLiteral("tmiFile"));
  tmiFileRun =
      MakeAction(tmiFile, "tmiFileRun", QStringLiteral("実行(&R)"), 4, &TFMain::tmiFileRunClick);
  tmiFileFindFile =
      MakeAction(tmiFile, "tmiFileFindFile", QStringLiteral("ファイル検索ダイアログを表示する(&F)"),
                 11, &TFMain::tmiFileFindFileClick);
  addSeparator(tmiFile, "tmiFileHR01");
  tmiFileClose = MakeAction(tmiFile, "tmiFileClose", QStringLiteral("閉じる(&C)"), 5,
                            &TFMain::tmiFileCloseClick);

  tmiEdit = tmmMain->addMenu(QStringLiteral("編集(&E)"));
  tmiEdit->setObjectName(QStringLiteral("tmiEdit"));
  tmiEditListClear =
      MakeAction(tmiEdit, "tmiEditListClear", QStringLiteral("選択した項目をクリア(&S)"), 6,
                 &TFMain::tmiEditListClearClick);
  tmiEditListAllClear =
      MakeAction(tmiEdit, "tmiEditListAllClear", QStringLiteral("リストを全てクリア(&C)"), 7,
                 &TFMain::tmiEditListAllClearClick);
  addSeparator(tmiEdit, "tmiEditHR01");
  tmiEditListIsRecycled =
      MakeAction(tmiEdit, "tmiEditListIsRecycled", QStringLiteral("リストファイルをごみ箱へ(&R)"),
                 9, &TFMain::tmiEditListIsRecycledClick);
  addSeparator(tmiEdit, "tmiEditHR02");
  tmiEditCEntity = MakeAction(tmiEdit, "tmiEditCEntity",
                              QStringLiteral("「CEntity.txt」の読み込みを確認する(&E)"), 10,
                              &TFMain::tmiEditCEntityClick);

  tmiHelp = tmmMain->addMenu(QStringLiteral("ヘルプ(&H)"));
  tmiHelp->setObjectName(QStringLiteral("tmiHelp"));
  tmiHelpVersion = MakeAction(tmiHelp, "tmiHelpVersion", QStringLiteral("バージョン情報(&A)..."), 8,
                              &TFMain::tmiHelpVersionClick);
}

void TFMain::BuildToolBars() {
  // The two bands of the cool bar: the icon toolbar and the menu row, side by side and movable.
  ttbMain = new TCoolBand(QStringLiteral("ttbMain"), this);
  ttbMain->setObjectName(QStringLiteral("ttbMain"));
  ttbMain->setIconSize(QSize(16, 16));
  ttbMain->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ttbMain->setMinimumSize(162, 22);
  ttbMain->setStyleSheet(QStringLiteral("QToolBar::separator { width: 8px; }"));
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
    }
  }
  addToolBar(Qt::TopToolBarArea, ttbMain);

  ttbMenu = new TCoolBand(QStringLiteral("ttbMenu"), this);
  ttbMenu->setObjectName(QStringLiteral("ttbMenu"));
  ttbMenu->setMinimumSize(170, 20);
  ttbMenu->addWidget(tmmMain);
  addToolBar(Qt::TopToolBarArea, ttbMenu);

  // The bands stay in the cool bar: moved and sized there with their grippers, never hidden,
  // floated or docked at another edge.
  for (TCoolBand* band : {ttbMain, ttbMenu}) {
    band->setAllowedAreas(Qt::TopToolBarArea);
    band->setFloatable(false);
    band->setMovable(true);
    band->toggleViewAction()->setEnabled(false);
    band->installEventFilter(this);
  }
}

void TFMain::MaximiseBand(TCoolBand* band) {
  // The bands of band's row, left to right.
  QList<TCoolBand*> row;
  for (TCoolBand* other : {ttbMain, ttbMenu}) {
    if (other->isVisible() && toolBarArea(other) == Qt::TopToolBarArea && other->y() == band->y()) {
      row.append(other);
    }
  }
  std::sort(row.begin(), row.end(),
            [](const TCoolBand* a, const TCoolBand* b) { return a->x() < b->x(); });
  const qsizetype at = row.indexOf(band);
  if (at < 0) return;
  // Every band after it goes as far right as it can, the last first; then the band itself goes
  // as far left as it can. Each move is clamped at the other bands' minimum widths.
  const int far = 2 * width() + 1;
  for (qsizetype i = row.size() - 1; i > at; --i) DragGripper(row[i], far);
  if (at > 0) DragGripper(row[at], -far);
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
  layout->addWidget(tpcMain, 1);

  ttsMain = new QWidget;
  ttsMain->setObjectName(QStringLiteral("ttsMain"));
  auto* mainLayout = new QVBoxLayout(ttsMain);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  lvwResult = new QTreeWidget(ttsMain);
  lvwResult->setObjectName(QStringLiteral("lvwResult"));
  lvwResult->setFont(FixedFont());
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
  tsbMainText = new QLabel(tsbMain);
  tsbMainText->setObjectName(QStringLiteral("tsbMainText"));
  tsbMain->addWidget(tsbMainText, 1);
  setStatusBar(tsbMain);
}

void TFMain::SetStatusText(const QString& text) {
  tsbMainText->setText(text);
  Q_EMIT statusTextChanged(text);
}

QString TFMain::StatusText() const {
  return tsbMainText->text();
}

int TFMain::RowCount() const {
  return lvwResult->topLevelItemCount();
}

std::string TFMain::RowPath(int row) const {
  return lvwResult->topLevelItem(row)->data(kColumnPath, kPathRole).toByteArray().toStdString();
}

QString TFMain::RowTaskText(int row) const {
  return lvwResult->topLevelItem(row)->text(kColumnTask);
}

int TFMain::RowImageIndex(int row) const {
  return lvwResult->topLevelItem(row)->data(kColumnName, kImageRole).toInt();
}

void TFMain::SetRowState(QTreeWidgetItem* item, const QString& taskText, int image) {
  item->setText(kColumnTask, taskText);
  item->setIcon(kColumnName, TilMainIcon(image));
  item->setData(kColumnName, kImageRole, image);
}

void TFMain::FitPathColumn() {
  QHeaderView* header = lvwResult->header();
  const int rest = lvwResult->viewport()->width() - header->sectionSize(kColumnName) -
                   header->sectionSize(kColumnTask);
  const QSignalBlocker block(header);
  header->resizeSection(kColumnPath, std::max(rest, 20));
}

// ---- creation ----

void TFMain::FormCreate() {
  // Drops are accepted from here on (see BuildPages); then the table is loaded.
  CEntityLoad();
}

void TFMain::CEntityLoad() {
  CEntityTable = LoadEntityTable(kEntityTableFileName);
  converter_.reset();
}

std::string TFMain::TavrinWithCEntity(std::string text) {
  // Preparing the table's search costs more than converting a small page, so it is done once
  // per table (and again should the code page change).
  if (!converter_ || !(converterLeadBytes_ == CurrentLeadByteSet())) {
    converterLeadBytes_ = CurrentLeadByteSet();
    converter_ = std::make_unique<TableConverter>(CEntityTable, converterLeadBytes_);
  }
  return converter_->Convert(std::move(text));
}

// ---- file list ----

void TFMain::DropFiles(const QMimeData& mime) {
  for (const std::string& path : LocalPathsFromMimeData(mime)) AddResultList(path);
}

void TFMain::AddResultList(const std::string& path) {
  if (services_.GetFileAttributes(path) & kFileAttributeDirectory) return;
  auto* item = new QTreeWidgetItem;
  item->setText(kColumnName, DecodeFileName(FileNameOfPath(path)));
  item->setText(kColumnPath, DecodeFileName(path));
  item->setData(kColumnPath, kPathRole,
                QByteArray(path.data(), static_cast<qsizetype>(path.size())));
  SetRowState(item, QStringLiteral("未処理"), kImageWaiting);
  lvwResult->addTopLevelItem(item);
}

void TFMain::tmiEditListClearClick() {
  for (int row = lvwResult->topLevelItemCount() - 1; row >= 0; --row) {
    if (lvwResult->topLevelItem(row)->isSelected()) delete lvwResult->takeTopLevelItem(row);
  }
}

void TFMain::tmiEditListAllClearClick() {
  lvwResult->clear();
}

void TFMain::tmiFileCloseClick() {
  close();
}

// ---- batch run ----

void TFMain::RepaintNowAndThen(QTreeWidgetItem* current, const std::string& path) {
  // The run stays inside this one command, but the window keeps painting (and answering the
  // desktop) every few tens of milliseconds; input waits until the run is over. The list is
  // scrolled to the current row only when it is painted: scrolling for every row of a long
  // batch would cost more than the conversion of a small file, and nobody could see it. A row
  // whose file takes long is painted whatever the time, or it would look untouched throughout.
  if (sinceRepaint_.isValid() && sinceRepaint_.elapsed() < kRepaintIntervalMs && !TakesLong(path)) {
    return;
  }
  sinceRepaint_.start();
  lvwResult->scrollToItem(current);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFMain::tmiFileRunClick() {
  busy_ = true;
  SetStatusText(QStringLiteral("実行開始"));
  sinceRepaint_.invalidate();
  struct Finish {
    TFMain* window;
    QTreeWidgetItem* current = nullptr;
    ~Finish() {
      if (current != nullptr) window->lvwResult->scrollToItem(current);
      window->busy_ = false;
      window->SetStatusText(QStringLiteral("実行終了"));
    }
  } finish{this};

  const int count = lvwResult->topLevelItemCount();
  for (int row = 0; row < count; ++row) {
    QTreeWidgetItem* item = lvwResult->topLevelItem(row);
    if (item == nullptr) break;
    finish.current = item;
    item->setSelected(true);
    SetRowState(item, QStringLiteral("開始"), kImageConverting);
    const std::string path = item->data(kColumnPath, kPathRole).toByteArray().toStdString();
    RepaintNowAndThen(item, path);
    ConvertFileBeside(path,
                      [this](std::string text) { return TavrinWithCEntity(std::move(text)); });
    SetRowState(item, QStringLiteral("完了"), kImageConverted);
    item->setSelected(false);
  }
}

// ---- preview ----

void TFMain::ttsViewEnter() {
  ++viewEnters_;
  const QList<QTreeWidgetItem*> selected = lvwResult->selectedItems();
  QTreeWidgetItem* first = nullptr;
  for (QTreeWidgetItem* item : selected) {
    if (first == nullptr ||
        lvwResult->indexOfTopLevelItem(item) < lvwResult->indexOfTopLevelItem(first)) {
      first = item;
    }
  }
  if (first == nullptr) {
    ShowPreview(QString());
    tmeViewPath->clear();
    return;
  }
  const QByteArray path = first->data(kColumnPath, kPathRole).toByteArray();
  const std::string output = TavrinWithCEntity(ReadFileToString(path.toStdString()));
  ShowPreview(DecodeBytes(UpToFirstNul(output)));
  tmeViewPath->setPlainText(DecodeFileName(std::string_view(path.constData(), path.size())));
}

void TFMain::ShowPreview(QString text) {
  previewFeeder_->stop();
  previewText_ = ShownLines(text);
  previewShown_ = SliceEnd(previewText_, 0);
  tmeView->setPlainText(previewText_.first(previewShown_));
  if (PreviewComplete()) {
    previewText_.clear();
    previewShown_ = 0;
  } else {
    previewFeeder_->start();
  }
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

void TFMain::lvwResultDblClick() {
  const int before = viewEnters_;
  tpcMain->setCurrentWidget(ttsView);
  tmeView->setFocus(Qt::OtherFocusReason);
  // When the window is not active no focus change is announced; the focus is in the page all
  // the same, so the preview is rebuilt now and not again when the window is activated.
  if (viewEnters_ == before) {
    lastFocus_ = tmeView;
    ttsViewEnter();
  }
}

void TFMain::tmeViewDblClick() {
  tpcMain->setCurrentWidget(ttsMain);
  lvwResult->setFocus(Qt::OtherFocusReason);
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
  if (entered) Guarded([this] { ttsViewEnter(); });
}

// ---- desktop commands ----

void TFMain::tmiEditListIsRecycledClick() {
  if (services_.MessageBox(this, QStringLiteral("ファイル群を削除しますか?"),
                           QStringLiteral("クッション"), mb::kYesNo) == kIdNo) {
    return;
  }
  SetStatusText(QStringLiteral("削除開始"));
  struct Finish {
    TFMain* window;
    ~Finish() { window->SetStatusText(QStringLiteral("削除終了")); }
  } finish{this};
  std::string list;
  for (int row = 0; row < lvwResult->topLevelItemCount(); ++row) {
    const std::string path = RowPath(row);
    list.append(path, 0, path.find('\0'));
    list.push_back('\0');
  }
  if (!list.empty()) {
    MoveFilesToRecycleBin(services_, this, list);
    lvwResult->clear();
  }
}

void TFMain::tmiFileFindFileClick() {
  const std::string folder =
      BrowseForFolder(services_, this, QStringLiteral("検索するフォルダを指定してください。"));
  if (!folder.empty()) services_.OpenSearchWindow(this, folder);
}

void TFMain::tmiEditCEntityClick() {
  CEntityLoad();
  QString text = DecodeBytes(Join(JoinEach(CEntityTable, ' '), '\r'));
  // Each CR (and each CR LF a field stands for) shows as one line break.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  services_.MessageBox(this, text, QStringLiteral("CEntity"), mb::kOk);
}

void TFMain::tmiHelpVersionClick() {
  TFAboutBox::Execute(this);
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
  const QMimeData* mime = event->mimeData();
  if (busy_) {
    // A drop is no user input that the run holds back: it arrives while the run paints. Its
    // list is kept (the drag's own data goes with the event) and handled after the run.
    auto kept = std::make_unique<QMimeData>();
    const QString uriList = QStringLiteral("text/uri-list");
    kept->setData(uriList, mime->data(uriList));
    dropsDuringRun_.push_back(std::move(kept));
    return;
  }
  Guarded([&] { DropFiles(*mime); });
}

void TFMain::closeEvent(QCloseEvent* event) {
  // Closing in the middle of a run waits for the run: nothing is left half written.
  if (busy_) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick && (watched == ttbMain || watched == ttbMenu)) {
    auto* band = static_cast<TCoolBand*>(watched);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        band->GripperRect().contains(mouse->position().toPoint())) {
      MaximiseBand(band);
      return true;
    }
  }
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == lvwResult->viewport()) {
      Guarded([this] { lvwResultDblClick(); });
      return true;
    }
    if (watched == tmeView->viewport()) {
      Guarded([this] { tmeViewDblClick(); });
      return true;
    }
  }
  if (event->type() == QEvent::Resize && watched == lvwResult->viewport()) FitPathColumn();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace tavrin
