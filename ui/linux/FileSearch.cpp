#include "FileSearch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QUrl>
#include <deque>
#include <set>
#include <utility>

#include "FolderPicker.h"
#include "TextCodec.h"
#include "Trash.h"

namespace tavrin {

namespace {

// Long enough to get work done, short enough that the window never feels busy.
constexpr qint64 kSliceMilliseconds = 8;
constexpr int kPathRole = Qt::UserRole;
enum Column { kName, kFolder, kSize, kDate };

bool MatchesWildcard(const std::u32string& pattern, const std::u32string& name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::u32string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

std::u32string Folded(QStringView text) {
  QList<uint> ucs4 = text.toString().toCaseFolded().toUcs4();
  return std::u32string(ucs4.begin(), ucs4.end());
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  return cwd ? JoinPath(cwd.get(), path) : path;
}

// The result list hands out its rows as files when they are dragged.
class FoundList : public QTreeWidget {
 public:
  explicit FoundList(TFFileSearch* owner) : QTreeWidget(owner), owner_(owner) {}

 protected:
  QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
  QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
    return owner_->MimeDataForItems(items);
  }
  // Never a move: a drop elsewhere must not take the rows (or the files) away.
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::LinkAction; }

 private:
  const TFFileSearch* owner_;
};

}  // namespace

bool MatchesNamePattern(QStringView pattern, QStringView name) {
  if (!pattern.contains(u'*') && !pattern.contains(u'?'))
    return name.contains(pattern, Qt::CaseInsensitive);
  return MatchesWildcard(Folded(pattern), Folded(name));
}

QStringList SplitNamePatterns(const QString& patterns) {
  QStringList result;
  for (const QString& part : patterns.split(u';')) {
    QString trimmed = part.trimmed();
    if (!trimmed.isEmpty()) result << trimmed;
  }
  if (result.isEmpty()) result << QStringLiteral("*");
  return result;
}

QMimeData* MimeDataForFiles(const std::vector<std::string>& paths) {
  QList<QUrl> urls;
  QByteArray uriList;
  for (const std::string& path : paths) {
    QByteArray bytes = QByteArray::fromStdString(path);
    urls << QUrl::fromLocalFile(QFile::decodeName(bytes));
    uriList += "file://" + bytes.toPercentEncoding("/") + "\r\n";
  }
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  // Replaces the list setUrls made, which would have lost bytes that are not UTF-8.
  mime->setData(QStringLiteral("text/uri-list"), uriList);
  return mime;
}

// A breadth-first walk over a folder tree with plain POSIX calls, so that names are raw bytes.
// Symbolic links to folders are not entered, and no folder is entered twice, so loops end. The
// desktop's trash folders are left out: what the user threw away is not found again.
struct TFFileSearch::Walk {
  struct Found {
    std::string folder;
    std::string name;
    long long size;
    long long mtime;
  };

  Walk(const std::string& root, bool recurse, QStringList patterns)
      : recurse_(recurse), patterns_(std::move(patterns)) {
    struct stat st {};
    if (::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      visited_.insert({st.st_dev, st.st_ino});
      pending_.push_back(root);
      rootIsFolder_ = true;
    }
    // Counted as entered already, so that it is never entered (unless it is the root itself).
    if (::stat(HomeTrashFolder().c_str(), &st) == 0) visited_.insert({st.st_dev, st.st_ino});
  }

  bool RootIsFolder() const { return rootIsFolder_; }

  // Reads entries until the clock passes the budget or maxEntries (when > 0) are read; false once
  // the whole tree has been read.
  bool Step(const QElapsedTimer& clock, int maxEntries, std::vector<Found>& found) {
    for (int entries = 0;; ++entries) {
      if (!dir_ && !OpenNextFolder()) return false;
      if ((maxEntries > 0 && entries >= maxEntries) || clock.elapsed() >= kSliceMilliseconds)
        return true;
      const dirent* entry = readdir(dir_.get());
      if (entry == nullptr) {
        dir_.reset();
        continue;
      }
      Consider(*entry, found);
    }
  }

 private:
  struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
  };

  bool OpenNextFolder() {
    while (!pending_.empty()) {
      folder_ = std::move(pending_.front());
      pending_.pop_front();
      // Folders that cannot be read are passed over, as a search would.
      dir_.reset(opendir(folder_.c_str()));
      if (dir_) return true;
    }
    return false;
  }

  // A name matches as it is shown.
  bool Matches(std::string_view name) const {
    const QString text = DecodeFileName(name);
    for (const QString& pattern : patterns_)
      if (MatchesNamePattern(pattern, text)) return true;
    return false;
  }

  void Consider(const dirent& entry, std::vector<Found>& found) {
    std::string_view name = entry.d_name;
    if (name == "." || name == "..") return;
    // Most entries are files that do not match; they need no stat.
    const bool mayBeFolder = entry.d_type == DT_DIR || entry.d_type == DT_UNKNOWN;
    if (!(recurse_ && mayBeFolder) && !Matches(name)) return;

    std::string path = JoinPath(folder_, name);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      if (recurse_ && !IsVolumeTrashFolder(folder_, name) &&
          visited_.insert({st.st_dev, st.st_ino}).second)
        pending_.push_back(std::move(path));
      return;
    }
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) return;
    if (!S_ISREG(st.st_mode) || (mayBeFolder && !Matches(name))) return;
    found.push_back({folder_, std::string(name), static_cast<long long>(st.st_size),
                     static_cast<long long>(st.st_mtime)});
  }

  bool recurse_;
  QStringList patterns_;
  bool rootIsFolder_ = false;
  std::deque<std::string> pending_;
  std::unique_ptr<DIR, DirCloser> dir_;
  std::string folder_;
  std::set<std::pair<dev_t, ino_t>> visited_;
};

namespace {

// A plain widget reads as a pane; this one is a window of its own, and says so.
QAccessibleInterface* AccessibleSearchWindow(const QString&, QObject* object) {
  auto* window = qobject_cast<TFFileSearch*>(object);
  return window ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

}  // namespace

TFFileSearch::TFFileSearch(QWidget* parent) : QWidget(parent, Qt::Window) {
  static const bool described = (QAccessible::installFactory(AccessibleSearchWindow), true);
  Q_UNUSED(described);
  setObjectName(QStringLiteral("FFileSearch"));
  setWindowTitle(QStringLiteral("ファイル検索"));
  BuildLayout();
  sliceTimer_.setInterval(0);
  connect(&sliceTimer_, &QTimer::timeout, this, &TFFileSearch::RunSlice);
  ShowStatus();
}

TFFileSearch::~TFFileSearch() = default;

void TFFileSearch::BuildLayout() {
  edtFolder_ = new QLineEdit(this);
  edtFolder_->setObjectName(QStringLiteral("edtFolder"));
  btnBrowse_ = new QPushButton(QStringLiteral("参照(&B)..."), this);
  btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));
  edtPattern_ = new QLineEdit(QString::fromLatin1(kDefaultPatterns), this);
  edtPattern_->setObjectName(QStringLiteral("edtPattern"));
  chkSubfolders_ = new QCheckBox(QStringLiteral("サブフォルダも検索する(&S)"), this);
  chkSubfolders_->setObjectName(QStringLiteral("chkSubfolders"));
  chkSubfolders_->setChecked(true);
  btnSearch_ = new QPushButton(QStringLiteral("検索(&F)"), this);
  btnSearch_->setObjectName(QStringLiteral("btnSearch"));
  btnStop_ = new QPushButton(QStringLiteral("中止(&T)"), this);
  btnStop_->setObjectName(QStringLiteral("btnStop"));

  lvwFound_ = new FoundList(this);
  lvwFound_->setObjectName(QStringLiteral("lvwFound"));
  lvwFound_->setAccessibleName(QStringLiteral("見つかったファイル"));
  lvwFound_->setColumnCount(4);
  lvwFound_->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("フォルダ"),
                              QStringLiteral("サイズ"), QStringLiteral("更新日時")});
  lvwFound_->setRootIsDecorated(false);
  lvwFound_->setUniformRowHeights(true);
  lvwFound_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvwFound_->setDragEnabled(true);
  lvwFound_->setDragDropMode(QAbstractItemView::DragOnly);
  lvwFound_->setDefaultDropAction(Qt::CopyAction);
  lvwFound_->header()->resizeSection(kName, 200);
  lvwFound_->header()->resizeSection(kFolder, 260);

  lblStatus_ = new QLabel(this);
  lblStatus_->setObjectName(QStringLiteral("lblStatus"));

  auto* folderLabel = new QLabel(QStringLiteral("検索するフォルダ(&L):"), this);
  folderLabel->setBuddy(edtFolder_);
  auto* patternLabel = new QLabel(QStringLiteral("ファイル名(&N):"), this);
  patternLabel->setBuddy(edtPattern_);
  auto* grid = new QGridLayout;
  grid->addWidget(folderLabel, 0, 0);
  grid->addWidget(edtFolder_, 0, 1);
  grid->addWidget(btnBrowse_, 0, 2);
  grid->addWidget(patternLabel, 1, 0);
  grid->addWidget(edtPattern_, 1, 1);
  grid->addWidget(chkSubfolders_, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnSearch_);
  buttons->addWidget(btnStop_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->addWidget(lvwFound_, 1);
  layout->addWidget(lblStatus_);
  resize(720, 460);

  connect(btnBrowse_, &QPushButton::clicked, this, &TFFileSearch::BrowseFolder);
  connect(btnSearch_, &QPushButton::clicked, this, &TFFileSearch::StartSearch);
  connect(btnStop_, &QPushButton::clicked, this, &TFFileSearch::StopSearch);
  connect(edtFolder_, &QLineEdit::returnPressed, this, &TFFileSearch::StartSearch);
  connect(edtPattern_, &QLineEdit::returnPressed, this, &TFFileSearch::StartSearch);
}

void TFFileSearch::SetFolder(const std::string& folder) {
  edtFolder_->setText(DecodeFileName(folder));
}

// The field shows the folder as every path is shown, and what it shows reads back to the bytes,
// also after the user edits it.
std::string TFFileSearch::Folder() const {
  return EncodeFileName(edtFolder_->text());
}

void TFFileSearch::SetPatterns(const QString& patterns) {
  edtPattern_->setText(patterns);
}

void TFFileSearch::SetIncludeSubfolders(bool include) {
  chkSubfolders_->setChecked(include);
}

void TFFileSearch::BrowseFolder() {
  const std::string chosen = TFFolderPicker::Choose(
      this, QStringLiteral("検索するフォルダを指定してください。"), Folder());
  if (!chosen.empty()) SetFolder(chosen);
}

void TFFileSearch::StartSearch() {
  sliceTimer_.stop();
  lvwFound_->clear();
  walk_ = std::make_unique<Walk>(AbsolutePath(Folder()), chkSubfolders_->isChecked(),
                                 SplitNamePatterns(edtPattern_->text()));
  if (!walk_->RootIsFolder()) {
    Finish(State::kNoFolder);
    return;
  }
  state_ = State::kSearching;
  ShowStatus();
  sliceTimer_.start();
}

void TFFileSearch::StopSearch() {
  if (IsSearching()) Finish(State::kStopped);
}

int TFFileSearch::FoundCount() const {
  return lvwFound_->topLevelItemCount();
}

void TFFileSearch::RunSlice() {
  QElapsedTimer clock;
  clock.start();
  std::vector<Walk::Found> found;
  const bool more = walk_->Step(clock, maxEntriesPerSlice_, found);

  QList<QTreeWidgetItem*> items;
  const QLocale locale(QLocale::Japanese);
  for (const Walk::Found& file : found) {
    auto* item = new QTreeWidgetItem;
    item->setText(kName, DecodeFileName(file.name));
    item->setText(kFolder, DecodeFileName(file.folder));
    item->setText(kSize, locale.toString(file.size));
    item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(
        kDate,
        QDateTime::fromSecsSinceEpoch(file.mtime).toString(QStringLiteral("yyyy/MM/dd HH:mm")));
    item->setData(kName, kPathRole, QByteArray::fromStdString(JoinPath(file.folder, file.name)));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled);
    items << item;
  }
  lvwFound_->addTopLevelItems(items);

  if (more)
    ShowStatus();
  else
    Finish(State::kDone);
}

void TFFileSearch::Finish(State state) {
  sliceTimer_.stop();
  walk_.reset();
  state_ = state;
  ShowStatus();
  Q_EMIT searchFinished(state == State::kStopped);
}

void TFFileSearch::ShowStatus() {
  btnSearch_->setEnabled(!IsSearching());
  btnStop_->setEnabled(IsSearching());
  const int count = FoundCount();
  switch (state_) {
    case State::kIdle:
      lblStatus_->clear();
      break;
    case State::kSearching:
      lblStatus_->setText(QStringLiteral("検索中... %1 個のファイルが見つかりました").arg(count));
      break;
    case State::kDone:
      lblStatus_->setText(QStringLiteral("検索終了: %1 個のファイルが見つかりました").arg(count));
      break;
    case State::kStopped:
      lblStatus_->setText(
          QStringLiteral("中止しました: %1 個のファイルが見つかりました").arg(count));
      break;
    case State::kNoFolder:
      lblStatus_->setText(
          QStringLiteral("フォルダ %1 が見つかりません").arg(DecodeFileName(Folder())));
      break;
  }
}

std::string TFFileSearch::PathOfItem(const QTreeWidgetItem* item) {
  return item->data(kName, kPathRole).toByteArray().toStdString();
}

QMimeData* TFFileSearch::MimeDataForItems(const QList<QTreeWidgetItem*>& items) const {
  // The items come in no useful order (the view hands them over sorted by address): the files
  // go in the order the list shows them, as the list is sorted at the time.
  const QSet<const QTreeWidgetItem*> wanted(items.cbegin(), items.cend());
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(wanted.size()));
  for (int row = 0; row < lvwFound_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = lvwFound_->topLevelItem(row);
    if (wanted.contains(item)) paths.push_back(PathOfItem(item));
  }
  return MimeDataForFiles(paths);
}

void TFFileSearch::closeEvent(QCloseEvent* event) {
  StopSearch();
  QWidget::closeEvent(event);
}

}  // namespace tavrin
