// The file-search window: finding files by name in a real folder tree (never in the trash),
// stopping, and the drag data of its results.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "DroppedFiles.h"
#include "FileList.h"
#include "FileSearch.h"
#include "GuiTest.h"
#include "QtDesktopServices.h"
#include "TempDir.h"
#include "Trash.h"

using tavrin::TFFileSearch;
using tavrin::testing::TempDir;
using tavrin::testing::WriteBytes;

namespace {

QTreeWidget* FoundList(TFFileSearch& window) {
  return window.findChild<QTreeWidget*>(QStringLiteral("lvwFound"));
}

template <typename T>
T* Child(TFFileSearch& window, const char* name) {
  return window.findChild<T*>(QString::fromLatin1(name));
}

std::set<std::string> FoundPaths(TFFileSearch& window) {
  std::set<std::string> paths;
  QTreeWidget* list = FoundList(window);
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    paths.insert(TFFileSearch::PathOfItem(list->topLevelItem(i)));
  return paths;
}

// Runs one search to its end through the window's own button.
bool SearchToTheEnd(TFFileSearch& window) {
  QSignalSpy finished(&window, &TFFileSearch::searchFinished);
  QTest::mouseClick(Child<QPushButton>(window, "btnSearch"), Qt::LeftButton);
  if (finished.isEmpty()) finished.wait(60000);
  return finished.count() == 1;
}

}  // namespace

class TestFileSearch : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<tavrin::testing::WorkFolder> dir_;
  std::string At(std::string_view name) const { return dir_->At(name); }
  std::string Put(std::string_view name, std::string_view content = "abc") const {
    return dir_->Put(name, content);
  }
  // a.HTML, b.htm and c.txt at the top; d.html, f.css and deeper/e.Htm below.
  void MakeTree() {
    Put("a.HTML");
    Put("b.htm");
    Put("c.txt");
    Put("sub/d.html");
    Put("sub/f.css");
    Put("sub/deeper/e.Htm");
  }

 private Q_SLOTS:
  void init() { dir_ = std::make_unique<tavrin::testing::WorkFolder>(); }
  void cleanup() { dir_.reset(); }

  void matchesNamePattern_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    auto row = [](const char* name, const char* pattern, const char* text, bool matches) {
      QTest::newRow(name) << QString::fromUtf8(pattern) << QString::fromUtf8(text) << matches;
    };
    row("suffix, other case", "*.htm", "INDEX.HTM", true);
    row("longer suffix", "*.htm", "index.html", false);
    row("question mark is one character", "?.txt", "ab.txt", false);
    row("stars between", "a*b*c", "aXXbYYc", true);
    row("star and dot needs a dot", "*.*", "noext", false);
    row("Japanese", "テスト*", "テスト資料.html", true);
    row("full-width letters fold", "*.ＨＴＭＬ", "a.ｈｔｍｌ", true);
    row("brackets do not form a set", "[ab].txt", "a.txt", false);
    row("plain word is a part of the name", "dex", "Index.html", true);
  }
  void matchesNamePattern() {
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(tavrin::MatchesNamePattern(pattern, name), matches);
  }

  void splitNamePatterns_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("patterns");
    QTest::newRow("default") << QString::fromLatin1(TFFileSearch::kDefaultPatterns)
                             << QStringList{"*.htm", "*.html"};
    QTest::newRow("spaces and empties") << " *.txt ; ;*.css " << QStringList{"*.txt", "*.css"};
    QTest::newRow("nothing left") << " ; ;" << QStringList{"*"};
  }
  void splitNamePatterns() {
    QFETCH(QString, text);
    QFETCH(QStringList, patterns);
    QCOMPARE(tavrin::SplitNamePatterns(text), patterns);
  }

  void findsByPatternIgnoringCaseInSubfolders() {
    MakeTree();
    TFFileSearch window;
    window.show();
    window.SetFolder(dir_->Path().string());
    QCOMPARE(Child<QLineEdit>(window, "edtPattern")->text(), QStringLiteral("*.htm;*.html"));
    QVERIFY(Child<QCheckBox>(window, "chkSubfolders")->isChecked());

    QVERIFY(SearchToTheEnd(window));

    const std::set<std::string> expected = {At("a.HTML"), At("b.htm"), At("sub/d.html"),
                                            At("sub/deeper/e.Htm")};
    QCOMPARE(FoundPaths(window), expected);
    const QString status = Child<QLabel>(window, "lblStatus")->text();
    QVERIFY2(status.contains(u'4') && status.contains(QStringLiteral("終了")), qPrintable(status));
    QTreeWidgetItem* first =
        FoundList(window)->findItems(QStringLiteral("a.HTML"), Qt::MatchExactly).value(0);
    QVERIFY(first != nullptr);
    QCOMPARE(first->text(1), QString::fromStdString(dir_->Path().string()));
    QCOMPARE(first->text(2), QStringLiteral("3"));
  }

  void staysInTheFolderWhenSubfoldersAreOff() {
    MakeTree();
    TFFileSearch window;
    window.show();
    window.SetFolder(dir_->Path().string());
    QCheckBox* subfolders = Child<QCheckBox>(window, "chkSubfolders");
    // On the box itself: the widget is wider than its box and label.
    QTest::mouseClick(subfolders, Qt::LeftButton, {}, QPoint(6, subfolders->height() / 2));
    QVERIFY(!subfolders->isChecked());

    QVERIFY(SearchToTheEnd(window));

    QCOMPARE(FoundPaths(window), (std::set<std::string>{At("a.HTML"), At("b.htm")}));
  }

  void linkedFoldersDoNotMakeTheSearchLoop() {
    MakeTree();
    std::filesystem::create_directory_symlink(dir_->Path(), At("sub/back-to-top"));
    std::filesystem::create_symlink(At("a.HTML"), At("sub/link.html"));
    TFFileSearch window;
    window.SetFolder(dir_->Path().string());

    QVERIFY(SearchToTheEnd(window));

    QTreeWidget* list = FoundList(window);
    QCOMPARE(list->topLevelItemCount(), 5);  // each file once, plus the link to a file
    QVERIFY(FoundPaths(window).count(At("sub/link.html")) == 1);
  }

  void missingFolderEndsAtOnce() {
    TFFileSearch window;
    window.SetFolder(At("no such folder"));
    QSignalSpy finished(&window, &TFFileSearch::searchFinished);
    window.StartSearch();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window.IsSearching());
    QCOMPARE(window.FoundCount(), 0);
    QVERIFY(Child<QLabel>(window, "lblStatus")->text().contains(QStringLiteral("見つかりません")));
  }

  // The search runs in slices from the event loop, so it is still going after StartSearch
  // returns, and the stop button ends it for good.
  void stopEndsTheSearchAndSearchingAgainStartsAfresh() {
    const int fileCount = 30;
    for (int i = 0; i < fileCount; ++i) Put("f" + std::to_string(i) + "/x.html");
    TFFileSearch window;
    window.show();
    window.SetFolder(dir_->Path().string());
    window.SetMaxEntriesPerSlice(1);
    QSignalSpy finished(&window, &TFFileSearch::searchFinished);

    window.StartSearch();
    QVERIFY(window.IsSearching());
    QVERIFY(Child<QPushButton>(window, "btnStop")->isEnabled());
    QVERIFY(!Child<QPushButton>(window, "btnSearch")->isEnabled());
    while (window.FoundCount() == 0 && window.IsSearching()) QCoreApplication::processEvents();
    QVERIFY(window.IsSearching());

    QTest::mouseClick(Child<QPushButton>(window, "btnStop"), Qt::LeftButton);

    QVERIFY(!window.IsSearching());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    const int foundWhenStopped = window.FoundCount();
    QVERIFY(foundWhenStopped < fileCount);
    for (int i = 0; i < 100; ++i) QCoreApplication::processEvents();
    QCOMPARE(window.FoundCount(), foundWhenStopped);
    QCOMPARE(finished.count(), 1);
    QVERIFY(Child<QLabel>(window, "lblStatus")->text().contains(QStringLiteral("中止")));
    QVERIFY(Child<QPushButton>(window, "btnSearch")->isEnabled());

    window.SetMaxEntriesPerSlice(0);
    QVERIFY(SearchToTheEnd(window));
    QCOMPARE(window.FoundCount(), fileCount);
  }

  void dragCarriesTheSelectedFilesAsLocalFileUrls() {
    const std::string spaced = Put("a b.html");
    const std::string japanese = Put("日本.html");
    const std::string notUtf8 = Put("\xff\xfe.html");
    Put("not selected.html");
    TFFileSearch window;
    window.SetFolder(dir_->Path().string());
    QVERIFY(SearchToTheEnd(window));
    QTreeWidget* list = FoundList(window);
    QCOMPARE(list->topLevelItemCount(), 4);

    const std::set<std::string> wanted = {spaced, japanese, notUtf8};
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      item->setSelected(wanted.count(TFFileSearch::PathOfItem(item)) == 1);
    }
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    QCOMPARE(rows.size(), 3);
    QVERIFY(list->model()->mimeTypes().contains(QStringLiteral("text/uri-list")));
    QVERIFY(!(list->model()->supportedDragActions() & Qt::MoveAction));
    std::unique_ptr<QMimeData> mime(list->model()->mimeData(rows));
    QVERIFY(mime != nullptr);

    QStringList localFiles;
    for (const QUrl& url : mime->urls()) {
      QVERIFY(url.isLocalFile());
      localFiles << url.toLocalFile();
    }
    QVERIFY(localFiles.contains(QString::fromStdString(spaced)));
    QVERIFY(localFiles.contains(QString::fromStdString(japanese)));
    QCOMPARE(localFiles.size(), 3);

    // The raw list gives back every path byte for byte, the one that is not UTF-8 included.
    std::set<std::string> rawPaths;
    for (QByteArray line : mime->data(QStringLiteral("text/uri-list")).split('\n')) {
      line = line.trimmed();
      if (line.isEmpty()) continue;
      QVERIFY(line.startsWith("file:///"));
      rawPaths.insert(QByteArray::fromPercentEncoding(line.mid(7)).toStdString());
    }
    QCOMPARE(rawPaths, wanted);
  }

  // Files arrive in the order the list shows them, whatever order the rows were selected in.
  void dragCarriesTheFilesInTheOrderShown_data() {
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("sortedByName");  // descending, as after a click on the header
    QTest::newRow("five") << 5 << false;
    QTest::newRow("five, sorted") << 5 << true;
    QTest::newRow("20,000") << 20000 << false;
  }
  void dragCarriesTheFilesInTheOrderShown() {
    QFETCH(int, files);
    QFETCH(bool, sortedByName);
    for (int i = 0; i < files; ++i) Put("f" + std::to_string(i) + ".html");
    TFFileSearch window;
    window.SetFolder(dir_->Path().string());
    QVERIFY(SearchToTheEnd(window));
    QTreeWidget* list = FoundList(window);
    QCOMPARE(list->topLevelItemCount(), files);
    if (sortedByName) list->sortItems(0, Qt::DescendingOrder);

    // Two rows of every three, picked in a shuffled order.
    std::vector<int> rows;
    for (int row = 0; row < files; ++row)
      if (row % 3 != 1) rows.push_back(row);
    std::shuffle(rows.begin(), rows.end(), std::mt19937(7));
    QItemSelection selection;
    for (int row : rows)
      selection.select(list->model()->index(row, 0), list->model()->index(row, 3));
    list->selectionModel()->select(selection, QItemSelectionModel::Select);
    std::unique_ptr<QMimeData> mime(
        list->model()->mimeData(list->selectionModel()->selectedIndexes()));

    std::sort(rows.begin(), rows.end());
    std::vector<std::string> shown;
    for (int row : rows) shown.push_back(TFFileSearch::PathOfItem(list->topLevelItem(row)));
    QCOMPARE(tavrin::LocalPathsFromMimeData(*mime), shown);
  }

  // Searching the home does not find again what was thrown away; a folder merely named like a
  // volume's trash, away from the top of a volume, is searched like any other.
  void theTrashIsLeftOut() {
    const std::string home = std::getenv("HOME");
    const std::string trash = tavrin::HomeTrashFolder();
    QVERIFY(trash.starts_with(home + "/"));
    struct Cleanup {
      std::string home, trash;
      ~Cleanup() {
        std::filesystem::remove_all(trash);
        std::filesystem::remove(home + "/kept.html");
      }
    } cleanup{home, trash};
    std::filesystem::create_directories(trash + "/files");
    std::filesystem::create_directories(trash + "/info");
    WriteBytes(trash + "/files/thrown.html", "in the trash");
    WriteBytes(trash + "/info/thrown.html.trashinfo", "[Trash Info]\nPath=/thrown.html\n");
    WriteBytes(home + "/kept.html", "kept");
    const std::string namedLikeTrash = Put(".Trash-" + std::to_string(::getuid()) + "/x.html");

    TFFileSearch window;
    window.SetFolder(home);
    QVERIFY(SearchToTheEnd(window));
    QCOMPARE(FoundPaths(window), std::set<std::string>{home + "/kept.html"});

    window.SetFolder(dir_->Path().string());
    QVERIFY(SearchToTheEnd(window));
    QCOMPARE(FoundPaths(window), std::set<std::string>{namedLikeTrash});
  }

  void volumeTrashFolders_data() {
    QTest::addColumn<QString>("folder");  // "temp": a folder that is not the top of a volume
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isTrash");
    QTest::newRow("shared") << "/"
                            << ".Trash" << true;
    QTest::newRow("one user's") << "/"
                                << ".Trash-1000" << true;
    QTest::newRow("no user") << "/"
                             << ".Trash-" << false;
    QTest::newRow("not a user id") << "/"
                                   << ".Trash-10x" << false;
    QTest::newRow("other name") << "/"
                                << "Trash" << false;
    QTest::newRow("not at the top of a volume") << "temp"
                                                << ".Trash-1000" << false;
    QTest::newRow("shared, not at the top") << "temp"
                                            << ".Trash" << false;
  }
  void volumeTrashFolders() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, isTrash);
    const std::string in = folder == "temp" ? dir_->Path().string() : folder.toStdString();
    QCOMPARE(tavrin::IsVolumeTrashFolder(in, name.toStdString()), isTrash);
  }

  void openedByTheDesktopServicesOnItsOwn() {
    MakeTree();
    tavrin::QtDesktopServices services;
    QWidget owner;
    owner.show();

    services.OpenSearchWindow(&owner, dir_->Path().string());

    QPointer<TFFileSearch> window = owner.findChild<TFFileSearch*>(QStringLiteral("FFileSearch"));
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QVERIFY(window->isWindow());
    QCOMPARE(window->windowModality(), Qt::NonModal);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(Child<QLineEdit>(*window, "edtFolder")->text(),
             QString::fromStdString(dir_->Path().string()));
    QVERIFY(window->IsSearching());  // started by itself
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsSearching(), 60000);
    QCOMPARE(window->FoundCount(), 4);

    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
  }
};

TAVRIN_GUI_TEST_MAIN(TestFileSearch)
#include "test_filesearch.moc"
