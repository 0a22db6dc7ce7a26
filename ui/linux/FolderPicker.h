// The folder picker: a tree of the folders under the home folder and under the root, read as
// raw bytes so that every folder shows and is returned exactly, whatever bytes its name holds.
// It keeps nothing between uses: no history, no last folder, no settings.
#pragma once

#include <QDialog>
#include <string>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavrin {

class TFFolderPicker : public QDialog {
  Q_OBJECT

 public:
  TFFolderPicker(QWidget* owner, const QString& prompt);

  // Opens the tree down to folder, as far as it exists, and makes that the current folder.
  void Select(const std::string& folder);
  // The current folder's path; "" when there is none.
  std::string Folder() const;

  static std::string PathOfItem(const QTreeWidgetItem* item);
  // The user's home folder as bytes.
  static std::string HomeFolder();

  // Shows a picker modally, opened at start; the chosen folder, or "" when cancelled.
  static std::string Choose(QWidget* owner, const QString& prompt, const std::string& start);

 private:
  void LoadChildren(QTreeWidgetItem* item);

  QLabel* lblPrompt_ = nullptr;
  QTreeWidget* tvwFolders_ = nullptr;
  QPushButton* btnOk_ = nullptr;
};

}  // namespace tavrin
