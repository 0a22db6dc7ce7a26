// A file-search window: finds files by name under a folder and lets them be dragged out, e.g.
// onto the main window's list. The desktop has no search window of its own to hand this to.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavrin {

// True when name matches pattern, ignoring case: '*' stands for any run of characters, '?' for
// one; a pattern without either matches names that contain it.
bool MatchesNamePattern(QStringView pattern, QStringView name);

// The patterns of a ';'-separated list, trimmed, empty ones dropped; "*" when none is left.
QStringList SplitNamePatterns(const QString& patterns);

// Drag data naming the files as local-file URLs. The text/uri-list is built from the raw bytes,
// so that names which are not valid UTF-8 survive the trip.
QMimeData* MimeDataForFiles(const std::vector<std::string>& paths);

class TFFileSearch : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kDefaultPatterns = "*.htm;*.html";

  explicit TFFileSearch(QWidget* parent = nullptr);
  ~TFFileSearch() override;

  void SetFolder(const std::string& folder);  // raw bytes
  std::string Folder() const;
  void SetPatterns(const QString& patterns);
  void SetIncludeSubfolders(bool include);

  // Starts afresh; the search goes on in short slices from the event loop.
  void StartSearch();
  void StopSearch();
  bool IsSearching() const { return state_ == State::kSearching; }
  int FoundCount() const;

  // Caps the folder entries read per slice (besides the time cap), so slices can be made tiny.
  void SetMaxEntriesPerSlice(int entries) { maxEntriesPerSlice_ = entries; }

  // The raw path of a result row.
  static std::string PathOfItem(const QTreeWidgetItem* item);
  // Drag data for the items, in the order the list shows them.
  QMimeData* MimeDataForItems(const QList<QTreeWidgetItem*>& items) const;

 Q_SIGNALS:
  void searchFinished(bool stopped);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class State { kIdle, kSearching, kDone, kStopped, kNoFolder };
  struct Walk;

  void BuildLayout();
  void BrowseFolder();
  void RunSlice();
  void Finish(State state);
  void ShowStatus();

  QLineEdit* edtFolder_ = nullptr;
  QPushButton* btnBrowse_ = nullptr;
  QLineEdit* edtPattern_ = nullptr;
  QCheckBox* chkSubfolders_ = nullptr;
  QPushButton* btnSearch_ = nullptr;
  QPushButton* btnStop_ = nullptr;
  QTreeWidget* lvwFound_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QTimer sliceTimer_;

  State state_ = State::kIdle;
  int maxEntriesPerSlice_ = 0;
  std::unique_ptr<Walk> walk_;
};

}  // namespace tavrin
