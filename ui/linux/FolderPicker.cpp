#include "FolderPicker.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "TextCodec.h"

namespace tavrin {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

// The names of an absolute path, with ".", ".." and repeated separators resolved by their
// spelling; a relative path is taken from the current folder.
std::vector<std::string> NamesOfPath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute.front() != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    absolute = JoinPath(cwd ? cwd.get() : "/", path);
  }
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < absolute.size()) {
    std::size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    const std::string name = absolute.substr(at, end - at);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    at = end + 1;
  }
  return names;
}

std::string PathOfNames(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) path += '/' + name;
  return path.empty() ? "/" : path;
}

QTreeWidgetItem* NewFolderItem(const std::string& path, const QString& text) {
  auto* item = new QTreeWidgetItem({text});
  item->setData(0, kPathRole, QByteArray::fromStdString(path));
  // Whether it holds folders is known once it is opened.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

struct Subfolder {
  QString text;
  std::string path;
};

// The folders directly inside folder (links to folders too), in the order they are shown. Names
// are taken as the bytes the system gives, so none is left out for not being text.
std::vector<Subfolder> Subfolders(const std::string& folder) {
  std::vector<Subfolder> found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = JoinPath(folder, name);
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (isFolder) found.push_back({DecodeFileName(name), std::move(path)});
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), [](const Subfolder& a, const Subfolder& b) {
    const int byText = a.text.compare(b.text, Qt::CaseInsensitive);
    return byText != 0 ? byText < 0 : a.path < b.path;
  });
  return found;
}

}  // namespace

TFFolderPicker::TFFolderPicker(QWidget* owner, const QString& prompt) : QDialog(owner) {
  setObjectName(QStringLiteral("FFolderPicker"));
  setWindowTitle(QStringLiteral("フォルダの参照"));

  lblPrompt_ = new QLabel(prompt, this);
  lblPrompt_->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt_->setWordWrap(true);

  tvwFolders_ = new QTreeWidget(this);
  tvwFolders_->setObjectName(QStringLiteral("tvwFolders"));
  // The tree has no label of its own: the prompt above it says what to choose.
  tvwFolders_->setAccessibleName(prompt);
  tvwFolders_->setColumnCount(1);
  tvwFolders_->setHeaderHidden(true);
  // Unseen, but read out: without a label of its own the column reads as its number.
  tvwFolders_->setHeaderLabels({QStringLiteral("フォルダ")});
  tvwFolders_->setUniformRowHeights(true);
  tvwFolders_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Long names scroll sideways rather than being cut short.
  tvwFolders_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tvwFolders_->header()->setStretchLastSection(false);

  auto* buttons = new QDialogButtonBox(this);
  btnOk_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  btnOk_->setObjectName(QStringLiteral("btnOk"));
  btnOk_->setDefault(true);
  btnOk_->setEnabled(false);
  QPushButton* cancel =
      buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("btnCancel"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblPrompt_);
  layout->addWidget(tvwFolders_, 1);
  layout->addWidget(buttons);
  resize(360, 420);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tvwFolders_, &QTreeWidget::itemExpanded, this, &TFFolderPicker::LoadChildren);
  connect(tvwFolders_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { btnOk_->setEnabled(current != nullptr); });

  // The home folder first, then the whole tree from the root.
  const std::string home = PathOfNames(NamesOfPath(HomeFolder()));
  struct stat st {};
  if (home != "/" && ::stat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    tvwFolders_->addTopLevelItem(NewFolderItem(home, DecodeFileName(home)));
  tvwFolders_->addTopLevelItem(NewFolderItem("/", QStringLiteral("/")));
}

void TFFolderPicker::LoadChildren(QTreeWidgetItem* item) {
  if (item->data(0, kLoadedRole).toBool()) return;
  item->setData(0, kLoadedRole, true);
  QList<QTreeWidgetItem*> children;
  for (const Subfolder& folder : Subfolders(PathOfItem(item)))
    children << NewFolderItem(folder.path, folder.text);
  item->addChildren(children);
  if (children.isEmpty())
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TFFolderPicker::Select(const std::string& folder) {
  const std::vector<std::string> names = NamesOfPath(folder);
  QTreeWidgetItem* item = nullptr;
  std::size_t first = 0;
  // Under the home folder the tree opens from the home folder's own entry.
  const std::vector<std::string> home = NamesOfPath(HomeFolder());
  QTreeWidgetItem* homeItem =
      tvwFolders_->topLevelItemCount() > 1 ? tvwFolders_->topLevelItem(0) : nullptr;
  if (homeItem != nullptr && names.size() >= home.size() &&
      std::equal(home.begin(), home.end(), names.begin())) {
    item = homeItem;
    first = home.size();
  } else {
    item = tvwFolders_->topLevelItem(tvwFolders_->topLevelItemCount() - 1);
  }
  for (std::size_t i = first; i < names.size(); ++i) {
    LoadChildren(item);
    const std::string wanted = JoinPath(PathOfItem(item), names[i]);
    QTreeWidgetItem* next = nullptr;
    for (int k = 0; k < item->childCount() && next == nullptr; ++k) {
      if (PathOfItem(item->child(k)) == wanted) next = item->child(k);
    }
    if (next == nullptr) break;
    item->setExpanded(true);
    item = next;
  }
  // Opened, so that its folders are there to pick.
  item->setExpanded(true);
  tvwFolders_->setCurrentItem(item);
  tvwFolders_->scrollToItem(item);
}

std::string TFFolderPicker::Folder() const {
  const QTreeWidgetItem* current = tvwFolders_->currentItem();
  return current != nullptr ? PathOfItem(current) : std::string();
}

std::string TFFolderPicker::PathOfItem(const QTreeWidgetItem* item) {
  return item->data(0, kPathRole).toByteArray().toStdString();
}

std::string TFFolderPicker::HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
    return user->pw_dir;
  return "/";
}

std::string TFFolderPicker::Choose(QWidget* owner, const QString& prompt,
                                   const std::string& start) {
  TFFolderPicker picker(owner, prompt);
  picker.Select(start);
  if (picker.exec() != QDialog::Accepted) return {};
  return picker.Folder();
}

}  // namespace tavrin
