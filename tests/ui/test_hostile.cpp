// Hostile inputs through the real window and through the headless harness: file names that are
// not text, inputs that change under the list, a disk that fills up, an output folder that
// turns read-only, and table files that are not tables. Nothing may be lost, nothing may hang.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "CodePage.h"
#include "DroppedFiles.h"
#include "FakeDesktop.h"
#include "FileIOTools.h"
#include "FileList.h"
#include "FileSearch.h"
#include "GuiTest.h"
#include "Main.h"
#include "QtDesktopServices.h"
#include "TempDir.h"
#include "Trash.h"

using namespace tavrin;
using tavrin::testing::ChildResult;
using tavrin::testing::Exists;
using tavrin::testing::FakeDesktop;
using tavrin::testing::ReadBytes;
using tavrin::testing::TempDir;
using tavrin::testing::WriteBytes;

namespace {

// A child run of this same program takes the window through one batch run (see main()).
constexpr const char* kChildFilesVariable = "TAVRIN_HOSTILE_RUN_FILES";

const QByteArray kTable = "&amp;=&\r\n&lt;=<\r\n&gt;=>\r\n";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the harness is built the same way, and maps too much
#else
constexpr bool kSanitized = false;
#endif

// The names in a folder, sorted: nothing but the outputs may have been added.
std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// Drops the paths as a file manager does: a raw text/uri-list, every byte percent-encoded.
void DropRaw(QWidget* window, const std::vector<std::string>& paths) {
  QByteArray list;
  for (const std::string& path : paths) list += testing::FileUri(path) + "\r\n";
  QMimeData mime;
  mime.setData(QStringLiteral("text/uri-list"), list);
  testing::SimulateDrop(window, &mime, {40, 120});
}

// Everything under a folder, sorted: each name with its bytes, its link's target or a slash.
QStringList Snapshot(const std::filesystem::path& folder) {
  QStringList entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const QString name = QString::fromStdString(entry.path().lexically_relative(folder).string());
    if (entry.is_symlink()) {
      entries << name + " -> " + QString::fromStdString(read_symlink(entry.path()).string());
    } else if (entry.is_directory()) {
      entries << name + "/";
    } else {
      entries << name + ": " + QString::fromUtf8(Bytes(ReadBytes(entry.path())));
    }
  }
  entries.sort();
  return entries;
}

// What the window shows after a run: each row's task text, image and selection, the status,
// and the boxes shown.
QStringList Shown(const TFMain& w, const FakeDesktop& fake) {
  QStringList shown;
  for (int row = 0; row < w.RowCount(); ++row) {
    shown << QStringLiteral("%1 %2%3")
                 .arg(w.RowTaskText(row))
                 .arg(w.RowImageIndex(row))
                 .arg(w.lvwResult->topLevelItem(row)->isSelected() ? " selected" : "");
  }
  shown << w.StatusText();
  for (const testing::MessageBoxCall& box : fake.messageBoxes) shown << testing::Q(box.text);
  return shown;
}

std::string SelfPath() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

// What a child run of the window reports: the task text of each row and every box shown.
struct WindowReport {
  ChildResult child;
  QStringList tasks;
  QStringList boxes;
};

WindowReport ParseReport(ChildResult child) {
  WindowReport report{std::move(child), {}, {}};
  for (const QString& line : QString::fromUtf8(Bytes(report.child.out)).split(u'\n')) {
    if (line.startsWith(QStringLiteral("task\t"))) report.tasks << line.mid(5);
    if (line.startsWith(QStringLiteral("box\t"))) report.boxes << line.mid(4);
  }
  return report;
}

// Lists the files in a fresh window of a child process set up as asked, runs, and reports.
// The child is this test program, or the copy of it named by program.
// started, when given, gets the child's id while it runs.
WindowReport RunWindowInChild(const std::vector<std::string>& files, const std::string& folder,
                              const testing::ChildSetup& setup, std::string program = {},
                              const std::function<void(pid_t)>& started = {}) {
  std::string list;
  for (const std::string& file : files) list += file + '\n';
  if (program.empty()) program = SelfPath();
  return ParseReport(testing::RunChild({program}, setup, folder,
                                       {std::string(kChildFilesVariable) + "=" + list}, started));
}

// The child's side: one window, the files dropped in order, one run, then the report.
int RunWindowAndReport(const char* fileList) {
  int argc = 1;
  char name[] = "test_hostile";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  FakeDesktop fake;
  TFMain window(fake);
  window.show();
  std::vector<std::string> files;
  for (const QByteArray& file : QByteArray(fileList).split('\n')) {
    if (!file.isEmpty()) files.push_back(file.toStdString());
  }
  DropRaw(&window, files);
  window.tmiFileRun->trigger();
  QByteArray report;
  for (int row = 0; row < window.RowCount(); ++row) {
    report += "task\t" + window.RowTaskText(row).toUtf8() + "\n";
  }
  for (const testing::MessageBoxCall& box : fake.messageBoxes) {
    report += "box\t" + QByteArray::fromStdString(box.text).replace('\n', "\\n") + "\n";
  }
  std::fwrite(report.constData(), 1, static_cast<std::size_t>(report.size()), stdout);
  return 0;
}

}  // namespace

class HostileTest : public QObject {
  Q_OBJECT

 private:
  QtDesktopServices real_;
  std::unique_ptr<FakeDesktop> fake_;
  std::unique_ptr<TFMain> window_;
  // Under TMPDIR, which main() puts beside the private HOME: trashed files go to its trash.
  std::unique_ptr<TempDir> work_;

  std::string At(std::string_view name) const { return *work_ / name; }

  TFMain& Open(std::optional<QByteArray> table = kTable) {
    if (table) WriteBytes(At("CEntity.txt"), table->toStdString());
    window_ = std::make_unique<TFMain>(*fake_);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qFatal("window not exposed");
    return *window_;
  }

  // Makes a0.html, a1.html... with the given contents and lists them.
  std::vector<std::string> List(TFMain& w, const std::vector<std::string>& contents) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < contents.size(); ++i) {
      paths.push_back(At("a" + std::to_string(i) + ".html"));
      WriteBytes(paths.back(), contents[i]);
    }
    DropRaw(&w, paths);
    return paths;
  }

  QStringList BoxTexts() const {
    QStringList texts;
    for (const testing::MessageBoxCall& box : fake_->messageBoxes) texts << testing::Q(box.text);
    return texts;
  }

  static QString Opened(const std::string& path) {
    return QStringLiteral("ファイル %1 は開けません.").arg(QString::fromStdString(path));
  }

  // The harness on the given files, with the window's table, in the work folder.
  ChildResult Convert(const std::vector<std::string>& files, const testing::ChildSetup& setup = {},
                      const std::string& tool = testing::ConvertToolPath()) {
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), files.begin(), files.end());
    return testing::RunChild(argv, setup, work_->Path().string());
  }

  // The preview through the window's own path: a click and a double click on the row.
  static void DoubleClickRow(TFMain& w, int row) {
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QPoint at = w.lvwResult->visualItemRect(w.lvwResult->topLevelItem(row)).center();
    QTest::mouseClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
  }

 private Q_SLOTS:
  void initTestCase() {
    // Every case runs the command-line converter beside the window: without it they cannot.
    QVERIFY2(!testing::ConvertToolPath().empty(), "tavrin-convert not found: set TAVRIN_CONVERT");
  }
  void init() {
    work_ = std::make_unique<TempDir>();
    QVERIFY(QDir::setCurrent(QString::fromStdString(work_->Path().string())));
    fake_ = std::make_unique<FakeDesktop>();
  }
  void cleanup() {
    window_.reset();
    QDir::setCurrent(QDir::tempPath());
    work_.reset();
  }

  // ---- file names that are not plain text ----

  void awkwardNamesAreListedShownConvertedAndTrashedRestorably_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("previewed");  // where it is not the content read as UTF-8
    QTest::newRow("space") << QByteArray("with space.html") << QStringLiteral("with space.html")
                           << QString();
    QTest::newRow("percent") << QByteArray("100%.html") << QStringLiteral("100%.html") << QString();
    QTest::newRow("percent escape")
        << QByteArray("%41%2F%zz.html") << QStringLiteral("%41%2F%zz.html") << QString();
    // Control characters show as their pictures: a name never hides a byte or takes two lines.
    QTest::newRow("newline") << QByteArray("new\nline.html") << QStringLiteral("new\u240Aline.html")
                             << QString();
    QTest::newRow("carriage return")
        << QByteArray("cr\r.html") << QStringLiteral("cr\u240D.html") << QString();
    QTest::newRow("tab and escape")
        << QByteArray("tab\t\x1b.html") << QStringLiteral("tab\u2409\u241B.html") << QString();
    QTest::newRow("hash and query")
        << QByteArray("#a?b=c.html") << QStringLiteral("#a?b=c.html") << QString();
    QTest::newRow("backslash") << QByteArray("a\\b.html") << QStringLiteral("a\\b.html")
                               << QString();
    QTest::newRow("japanese") << QByteArray("日本語 ページ.html")
                              << QStringLiteral("日本語 ページ.html") << QString();
    // Shift-JIS 日本 under a UTF-8 locale: each byte of the name that does not decode shows as
    // \xNN, while the text, valid only as Shift-JIS, reads as that.
    QTest::newRow("shift-jis") << QByteArray("\x93\xfa\x96\x7b.html")
                               << QStringLiteral("\\x93\\xFA\\x96{.html")
                               << QStringLiteral("日本.html");
    QTest::newRow("lone high bytes") << QByteArray("\xff\xfe x\xc3.html")
                                     << QStringLiteral("\\xFF\\xFE x\\xC3.html") << QString();
    QTest::newRow("backslash that reads as an escape")
        << QByteArray("\\xFF.html") << QStringLiteral("\\x5CxFF.html") << QString();
  }
  void awkwardNamesAreListedShownConvertedAndTrashedRestorably() {
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(QString, previewed);
    TFMain& w = Open();
    const std::string path = At(name.toStdString());
    const std::string content = "<p>" + name.toStdString() + " &amp;</p>";
    WriteStringToFile(path, content);  // through the core: the name need not be UTF-8

    DropRaw(&w, {path});
    QCOMPARE(w.RowCount(), 1);
    QCOMPARE(w.RowPath(0), path);
    QCOMPARE(w.lvwResult->topLevelItem(0)->text(0), shown);
    QVERIFY(w.lvwResult->topLevelItem(0)->text(1).endsWith(QLatin1Char('/') + shown));

    DoubleClickRow(w, 0);
    if (previewed.isNull()) previewed = QString::fromUtf8(name).replace('\r', '\n');
    QCOMPARE(w.tmeView->toPlainText(), previewed + " &");
    const QString shownPath = QString::fromStdString(work_->Path().string()) + '/' + shown;
    QCOMPARE(w.tmeViewPath->toPlainText(), shownPath);
    QCOMPARE(w.lvwResult->topLevelItem(0)->text(1), shownPath);

    // The search window shows it the same way.
    TFFileSearch search;
    search.SetFolder(work_->Path().string());
    search.StartSearch();
    QTRY_VERIFY_WITH_TIMEOUT(!search.IsSearching(), 60000);
    const QList<QTreeWidgetItem*> found =
        search.findChild<QTreeWidget*>(QStringLiteral("lvwFound"))
            ->findItems(shown, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QCOMPARE(TFFileSearch::PathOfItem(found[0]), path);

    // An error names the file as the list shows it, and so does the trash's report.
    w.tmeViewDblClick();
    std::filesystem::rename(path, At("aside"));
    DoubleClickRow(w, 0);
    QCOMPARE(BoxTexts(), QStringList{QStringLiteral("ファイル %1 は開けません.").arg(shownPath)});
    const QString report = TrashFailureReport(TrashFiles({path}));
    QVERIFY2(report.contains('\n' + shownPath + '\n'), qPrintable(report));
    fake_->messageBoxes.clear();
    std::filesystem::rename(At("aside"), path);

    w.tmiFileRun->trigger();
    QCOMPARE(BoxTexts(), QStringList());
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    const std::string expected = name.toStdString() + " &";
    QCOMPARE(ReadBytes(path + ".txt"), expected);
    QCOMPARE(ReadBytes(path), content);

    // The harness names its output the same way.
    std::filesystem::remove(path + ".txt");
    const ChildResult run = Convert({path});
    QCOMPARE(run.status, 0);
    QCOMPARE(ReadBytes(path + ".txt"), expected);

    // To the trash: the list hands over the exact bytes; the trash keeps them restorable.
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(w.RowCount(), 0);
    QCOMPARE(fake_->trashCalls.size(), std::size_t{1});
    QCOMPARE(fake_->trashCalls[0], path + '\0' + '\0');
    QVERIFY(TrashFiles(SplitNulList(fake_->trashCalls[0])).empty());
    QVERIFY(!Exists(path));
    QVERIFY(Exists(path + ".txt"));
    const auto trashed = testing::TrashContents();
    QVERIFY2(trashed.count(path) == 1, "the info file names the original path byte for byte");
    QCOMPARE(trashed.at(path).content, content);
    const std::string inTrash =
        testing::PrivateHome::Current().TrashDir() + "/files/" + trashed.at(path).name;
    // Restoring is moving it back to the path the info file names.
    std::filesystem::rename(inTrash, path);
    QCOMPARE(ReadBytes(path), content);
  }

  // ---- inputs and outputs that change after the files were listed ----

  void inputsThatChangeUnderTheListStopTheRunWithoutHanging_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");
    const QString cannotOpen = QStringLiteral("ファイル %1 は開けません.");
    const QString cannotCreate = QStringLiteral("ファイル %1.txt を作成できません.");
    QTest::newRow("input vanished") << "vanished" << cannotOpen;
    QTest::newRow("input now a FIFO") << "fifo" << cannotOpen;
    QTest::newRow("input now a folder") << "folder" << cannotOpen;
    QTest::newRow("input now a dangling link") << "dangling" << cannotOpen;
    QTest::newRow("input now a link to a FIFO") << "link to fifo" << cannotOpen;
    QTest::newRow("input now a device") << "device" << cannotOpen;
    QTest::newRow("output a FIFO") << "output fifo" << cannotCreate;
    QTest::newRow("output a folder") << "output folder" << cannotCreate;
    QTest::newRow("output a device") << "output device" << cannotCreate;
    QTest::newRow("output a link to its input") << "output link to input" << cannotCreate;
    QTest::newRow("output read-only") << "output read-only" << cannotCreate;
  }
  void inputsThatChangeUnderTheListStopTheRunWithoutHanging() {
    QFETCH(QString, change);
    QFETCH(QString, message);
    TFMain& w = Open();
    const std::vector<std::string> paths = List(w, {"<b>zero</b>", "<b>one</b>", "<b>two</b>"});
    QCOMPARE(w.RowCount(), 3);
    const std::string& victim = paths[1];
    const std::string fifo = At("fifo");
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    if (!change.startsWith("output")) std::filesystem::remove(victim);
    if (change == "fifo") QCOMPARE(::mkfifo(victim.c_str(), 0600), 0);
    if (change == "folder") std::filesystem::create_directory(victim);
    if (change == "dangling") std::filesystem::create_symlink(At("nowhere"), victim);
    if (change == "link to fifo") std::filesystem::create_symlink(fifo, victim);
    if (change == "device") std::filesystem::create_symlink("/dev/zero", victim);
    if (change == "output fifo") QCOMPARE(::mkfifo((victim + ".txt").c_str(), 0600), 0);
    if (change == "output folder") std::filesystem::create_directory(victim + ".txt");
    if (change == "output device") std::filesystem::create_symlink("/dev/null", victim + ".txt");
    if (change == "output link to input") std::filesystem::create_symlink(victim, victim + ".txt");
    if (change == "output read-only") {
      WriteBytes(victim + ".txt", "older");  // root ignores the missing write bits
      QCOMPARE(::chmod((victim + ".txt").c_str(), 0444), 0);
    }

    // The preview refuses the same way and keeps what it showed.
    w.tmeView->setPlainText(QStringLiteral("earlier"));
    DoubleClickRow(w, 1);
    if (message.contains(QStringLiteral("開けません"))) {
      QCOMPARE(BoxTexts(), QStringList{message.arg(QString::fromStdString(victim))});
      QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("earlier"));
      fake_->messageBoxes.clear();
    }
    w.lvwResult->clearSelection();

    w.tmiFileRun->trigger();
    QCOMPARE(BoxTexts(), QStringList{message.arg(QString::fromStdString(victim))});
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(w.RowTaskText(1), QStringLiteral("開始"));
    QCOMPARE(w.RowTaskText(2), QStringLiteral("未処理"));
    QCOMPARE(ReadBytes(paths[0] + ".txt"), std::string("zero"));
    QVERIFY(!Exists(paths[2] + ".txt"));
    QCOMPARE(w.StatusText(), QStringLiteral("実行終了"));
    if (change.startsWith("output")) QCOMPARE(ReadBytes(victim), std::string("<b>one</b>"));
    if (change == "output read-only") QCOMPARE(ReadBytes(victim + ".txt"), std::string("older"));

    std::filesystem::remove(paths[0] + ".txt");
    const ChildResult run = Convert(paths);
    QCOMPARE(run.status, 1);
    QString said = QString::fromUtf8(Bytes(run.err));
    QVERIFY2(said.contains(message.arg(QString::fromStdString(victim)).chopped(1)),
             qPrintable(said));
    QCOMPARE(ReadBytes(paths[0] + ".txt"), std::string("zero"));
    QVERIFY(!Exists(paths[2] + ".txt"));
    if (change.startsWith("output")) QCOMPARE(ReadBytes(victim), std::string("<b>one</b>"));
    if (change == "output read-only") QCOMPARE(ReadBytes(victim + ".txt"), std::string("older"));
  }

  // A drop can carry a name with an encoded NUL: the row is the file before the NUL, and its
  // output is that file's name plus ".txt", never the file itself.
  void aDroppedNameWithAnEncodedNulIsListedUpToTheNul() {
    TFMain& w = Open();
    const std::string page = At("page.html");
    WriteBytes(page, "<p>page</p>");
    DropRaw(&w, {page + '\0' + ".evil"});
    QCOMPARE(w.RowCount(), 1);
    QCOMPARE(w.RowPath(0), page);
    w.tmiFileRun->trigger();
    QCOMPARE(BoxTexts(), QStringList());
    QCOMPARE(ReadBytes(page), std::string("<p>page</p>"));
    QCOMPARE(ReadBytes(page + ".txt"), std::string("page"));
  }

  // A name the file system just allows has no room for ".txt".
  void aNameWithNoRoomForItsOutputStopsTheRunWithTheCreateError() {
    TFMain& w = Open();
    const std::string longest = At(std::string(251, 'n') + ".htm");  // 255 bytes
    WriteBytes(longest, "<b>x</b>");
    List(w, {"<b>zero</b>"});
    DropRaw(&w, {longest});
    QCOMPARE(w.RowCount(), 2);
    w.tmiFileRun->trigger();
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(w.RowTaskText(1), QStringLiteral("開始"));
    const QString createError =
        QStringLiteral("ファイル %1.txt を作成できません").arg(QString::fromStdString(longest));
    QCOMPARE(BoxTexts(), QStringList{createError + "."});

    const ChildResult run = Convert({longest});
    QCOMPARE(run.status, 1);
    QVERIFY2(QString::fromUtf8(Bytes(run.err)).contains(createError), run.err.c_str());
  }

  // ---- a run on several workers ----

  // Whatever goes wrong at whichever row of a list, the run on 2 or 8 workers leaves the files,
  // the rows, the selection, the status and the box exactly as one worker does: rows before the
  // failure converted, the failing row started and selected, nothing written for it or after it.
  // Rows that read or write each other's files read what one worker would have written.
  void aRunOnManyWorkersEndsAsOnOneWhereverTheListGoesWrong_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind :
         {"missing input", "folder as input", "folder as output", "output a link elsewhere",
          "reads an earlier output", "listed twice", "writes a later input"}) {
      QTest::newRow(kind) << kind;
    }
  }
  void aRunOnManyWorkersEndsAsOnOneWhereverTheListGoesWrong() {
    QFETCH(QString, kind);
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    std::vector<std::unique_ptr<TFMain>> windows;
    for (const unsigned workers : {1u, 2u, 8u}) {
      windows.push_back(std::make_unique<TFMain>(*fake_, nullptr, workers));
      windows.back()->show();
    }
    // Every window runs its list in the same folder, made afresh, so that names match.
    const std::filesystem::path folder = work_->Path() / "case";
    const bool fails =
        !kind.startsWith("reads") && !kind.startsWith("listed") && !kind.startsWith("writes");
    // Files that wait for each other only on short lists, where every pair of rows comes up.
    for (int count = 1; count <= (fails ? 20 : 8); ++count) {
      for (int at = 0; at < count; ++at) {
        // Every row of the short lists; the ends and the middle of the longer ones.
        if (count > 8 && at > 1 && at != count / 2 && at < count - 2) continue;
        QStringList oneWorker;
        for (std::size_t window = 0; window < windows.size(); ++window) {
          TFMain& w = *windows[window];
          std::filesystem::remove_all(folder);
          std::filesystem::create_directories(folder / "elsewhere");
          WriteBytes(folder / "elsewhere/kept", "elsewhere");
          std::vector<std::string> rows;
          for (int i = 0; i < count; ++i) {
            rows.push_back(folder / ("a" + std::to_string(i) + ".html"));
            WriteBytes(rows.back(), "<b>" + std::to_string(i) + "</b>&amp;");
            WriteBytes(rows.back() + ".txt", "older " + std::to_string(i));
          }
          const auto atRow = static_cast<std::size_t>(at);
          const std::string faulty = rows[atRow];
          if (kind == "reads an earlier output" && at > 0) rows[atRow] = rows[0] + ".txt";
          if (kind == "listed twice" && at > 0) rows[atRow] = rows[0];
          if (kind == "writes a later input" && at + 1 < count) rows.back() = faulty + ".txt";
          DropRaw(&w, rows);
          QCOMPARE(w.RowCount(), count);
          if (kind == "missing input") std::filesystem::remove(faulty);
          if (kind == "folder as input") {
            std::filesystem::remove(faulty);
            std::filesystem::create_directory(faulty);
          }
          if (kind == "folder as output" || kind.startsWith("output")) {
            std::filesystem::remove(faulty + ".txt");
          }
          if (kind == "folder as output") std::filesystem::create_directory(faulty + ".txt");
          if (kind == "output a link elsewhere") {
            std::filesystem::create_symlink(folder / "elsewhere/kept", faulty + ".txt");
          }
          for (int row = 1; row < count; row += 3)
            w.lvwResult->topLevelItem(row)->setSelected(true);
          fake_->messageBoxes.clear();

          w.tmiFileRun->trigger();
          const QStringList shown = Shown(w, *fake_);
          const QStringList outcome = Snapshot(folder) + shown;
          w.tmiEditListAllClear->trigger();
          const QString where = QStringLiteral("%1 rows, row %2, %3 workers:\n%4\n")
                                    .arg(count)
                                    .arg(at)
                                    .arg(window == 0   ? 1
                                         : window == 1 ? 2
                                                       : 8)
                                    .arg(outcome.join('\n'));
          if (window == 0) {
            oneWorker = outcome;
            // One worker as one thread goes through the list.
            for (int row = 0; row < count; ++row) {
              const QString task = !fails || row < at ? "完了 3"
                                   : row == at        ? "開始 1 selected"
                                   : row % 3 == 1     ? "未処理 0 selected"
                                                      : "未処理 0";
              QVERIFY2(shown[row] == task, qPrintable(where));
            }
            QVERIFY2(fake_->messageBoxes.size() == (fails ? 1u : 0u), qPrintable(where));
            if (kind == "reads an earlier output" && at > 0) {
              QVERIFY2(outcome.contains("a0.html.txt.txt: 0&"), qPrintable(where));
            }
            if (kind == "writes a later input" && at + 1 < count) {
              QVERIFY2(outcome.contains(QStringLiteral("a%1.html.txt.txt: %1&").arg(at)),
                       qPrintable(where));
            }
          } else if (outcome != oneWorker) {
            QFAIL(qPrintable(where + "--- one worker:\n" + oneWorker.join('\n')));
          }
        }
      }
    }
  }

  // Inputs truncated, grown, replaced by a link or deleted and outputs made folders while a run
  // on 8 workers goes: the run stops at most once, where one worker would have; each output is
  // its older self or the whole conversion of what its input held at one moment, and no new
  // file is left behind.
  void filesChangingDuringARunLoseNothing() {
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    TFMain w(*fake_, nullptr, 8);
    w.show();
    const unsigned seed = std::random_device()();
    std::atomic<bool> running{false};
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& text) {
      if (text == QStringLiteral("実行開始")) running = true;
    });
    constexpr std::size_t kFiles = 300;
    for (unsigned round = 0; round < 4; ++round) {
      const std::string folder = At("round" + std::to_string(round));
      std::filesystem::create_directory(folder);
      const std::string linked = folder + "/linked";
      WriteBytes(linked, "<b>linked</b>");
      std::vector<std::string> paths;
      std::vector<std::vector<std::string>> held(kFiles);  // what each input held, in turn
      for (std::size_t i = 0; i < kFiles; ++i) {
        paths.push_back(folder + "/a" + std::to_string(i) + ".html");
        std::string text;
        while (text.size() < 64 * 1024) text += "<p>" + std::to_string(i) + " &amp; x</p>\r\n";
        WriteBytes(paths.back(), text);
        held[i].push_back(text);
        if (i % 2 == 0) WriteBytes(paths.back() + ".txt", "older");
      }
      DropRaw(&w, paths);
      fake_->messageBoxes.clear();
      running = false;
      std::atomic<bool> over{false};
      std::vector<bool> outputFolder(kFiles), regular(kFiles, true);
      std::thread changer([&] {
        std::mt19937 random(seed + round);
        while (!running) std::this_thread::yield();
        for (int change = 0; change < 100000 && !over; ++change) {
          const std::size_t i = random() % kFiles;
          const std::string& path = paths[i];
          const unsigned what = random() % 400;
          if (what == 0) {
            std::filesystem::remove(path);
            regular[i] = false;
          } else if (what == 1 && i % 2 == 1) {
            outputFolder[i] = outputFolder[i] || ::mkdir((path + ".txt").c_str(), 0755) == 0;
          } else if (what < 20) {
            std::filesystem::remove(path);
            std::filesystem::create_symlink(linked, path);
            held[i].push_back("<b>linked</b>");
            regular[i] = false;
          } else if (regular[i] && what < 200) {
            const std::string now = held[i].back().substr(0, held[i].back().size() / 2);
            if (::truncate(path.c_str(), static_cast<off_t>(now.size())) != 0) continue;
            held[i].push_back(now);
          } else if (regular[i]) {
            const std::string more = "<i>" + std::to_string(change) + "</i>";
            std::ofstream(path, std::ios::app) << more;
            held[i].push_back(held[i].back() + more);
          }
          std::this_thread::yield();
        }
      });
      w.tmiFileRun->trigger();
      over = true;
      changer.join();

      const QString seedText = QStringLiteral("seed %1 round %2").arg(seed).arg(round);
      QCOMPARE(w.StatusText(), QStringLiteral("実行終了"));
      std::optional<std::size_t> stopped;
      for (std::size_t i = 0; i < kFiles; ++i) {
        const QString task = w.RowTaskText(static_cast<int>(i));
        const std::string output = paths[i] + ".txt";
        const QString where = seedText + QStringLiteral(", row %1: %2").arg(i).arg(task);
        if (task == QStringLiteral("完了")) {
          QVERIFY2(!stopped, qPrintable(where));
          bool whole = false;
          for (const std::string& text : held[i]) {
            whole = whole || ReadBytes(output) == w.TavrinWithCEntity(text);
          }
          QVERIFY2(whole && !std::filesystem::is_symlink(output), qPrintable(where));
          continue;
        }
        QVERIFY2(task == QString::fromUtf8(stopped ? "未処理" : "開始"), qPrintable(where));
        if (!stopped) stopped = i;
        if (outputFolder[i]) {
          QVERIFY2(std::filesystem::is_directory(output), qPrintable(where));
        } else {
          QVERIFY2(
              ReadBytes(output) == (i % 2 == 0 ? "older" : "") && (i % 2 == 0 || !Exists(output)),
              qPrintable(where));
        }
      }
      QVERIFY2(fake_->messageBoxes.size() == (stopped ? 1u : 0u), qPrintable(seedText));
      for (const std::string& name : FilesIn(folder)) {
        QVERIFY2(name == "linked" || (name.starts_with('a') &&
                                      (name.ends_with(".html") || name.ends_with(".html.txt"))),
                 qPrintable(seedText + " left " + QString::fromStdString(name)));
      }
      w.tmiEditListAllClear->trigger();
    }
  }

  // A file changed after the run converted it ahead but before its row's turn (written over,
  // replaced, deleted, a folder put in its place) is taken as it is at its turn, as one worker
  // would have read it then.
  void aFileChangedAfterItWasConvertedAheadIsTakenAsItIsAtItsTurn_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("task");
    QTest::newRow("written over") << "written over"
                                  << "完了";
    QTest::newRow("replaced") << "replaced"
                              << "完了";
    QTest::newRow("deleted") << "deleted"
                             << "開始";
    QTest::newRow("a folder in its place") << "folder"
                                           << "開始";
  }
  void aFileChangedAfterItWasConvertedAheadIsTakenAsItIsAtItsTurn() {
    QFETCH(QString, change);
    QFETCH(QString, task);
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    TFMain w(*fake_, nullptr, 2);
    w.show();
    // The first file is long, so it waits until its row is shown; meanwhile the other worker
    // converts the second and keeps it open until its turn.
    const std::string first = At("a0.html");
    const std::string second = At("a1.html");
    WriteBytes(first, std::string(WindowBehaviour::kLongFileBytes, 'x'));
    WriteBytes(second, "<b>before</b>");
    DropRaw(&w, {first, second});
    auto convertedAhead = [&] {
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        if (std::filesystem::read_symlink(entry.path(), error) == second) return true;
      }
      return false;
    };
    QTimer changer;
    changer.setInterval(0);
    changer.setSingleShot(true);
    connect(&changer, &QTimer::timeout, this, [&] {
      while (!convertedAhead()) std::this_thread::yield();
      if (change == "written over") WriteBytes(second, "<b>after</b>");
      if (change == "replaced") {
        WriteBytes(second + ".new", "<b>after</b>");
        std::filesystem::rename(second + ".new", second);
      }
      if (change != "written over" && change != "replaced") std::filesystem::remove(second);
      if (change == "folder") std::filesystem::create_directory(second);
    });
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& status) {
      if (status == QStringLiteral("実行開始")) changer.start();
    });
    w.tmiFileRun->trigger();
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(w.RowTaskText(1), task);
    if (task == QStringLiteral("完了")) {
      QCOMPARE(ReadBytes(second + ".txt"), std::string("after"));
      QVERIFY(fake_->messageBoxes.empty());
    } else {
      QVERIFY(!Exists(second + ".txt"));
      QCOMPARE(BoxTexts(), QStringList{Opened(second)});
    }
  }

  // A close by the menu, by the window or by the window manager, at the start of a long run of
  // big files on 8 workers or half way through it: the window closes once the run is over, every
  // output complete and nothing else left.
  void aCloseDuringALongParallelRunClosesAfterIt_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("after");  // outputs written before the close
    QTest::newRow("menu at the start") << "menu" << 0;
    QTest::newRow("window half way") << "window" << 4;
    QTest::newRow("window manager at the start") << "window manager" << 0;
    QTest::newRow("window manager half way") << "window manager" << 4;
  }
  void aCloseDuringALongParallelRunClosesAfterIt() {
    QFETCH(QString, how);
    QFETCH(int, after);
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    TFMain w(*fake_, nullptr, 8);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::string text;
    while (text.size() < WindowBehaviour::kLongFileBytes) text += "<p>x</p>";
    const std::string converted(text.size() / 8, 'x');
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
      paths.push_back(At("a" + std::to_string(i) + ".html"));
      WriteBytes(paths.back(), text);
      WriteBytes(paths.back() + ".txt", "older");
    }
    DropRaw(&w, paths);
    QTimer closer;
    closer.setInterval(0);
    connect(&closer, &QTimer::timeout, this, [&] {
      if (after > 0 && std::filesystem::file_size(paths[after - 1] + ".txt") != converted.size()) {
        return;
      }
      closer.stop();
      if (how == "menu") w.tmiFileClose->trigger();
      if (how == "window") w.close();
      if (how == "window manager") {
        QCloseEvent close;
        QCoreApplication::sendEvent(w.windowHandle(), &close);
      }
    });
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& status) {
      if (status == QStringLiteral("実行開始")) closer.start();
    });
    w.tmiFileRun->trigger();
    QVERIFY(!w.isVisible());
    QVERIFY(!closer.isActive());
    std::vector<std::string> names = {"CEntity.txt"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
      QCOMPARE(w.RowTaskText(static_cast<int>(i)), QStringLiteral("完了"));
      QVERIFY(ReadBytes(paths[i] + ".txt") == converted);
      names.push_back("a" + std::to_string(i) + ".html");
      names.push_back("a" + std::to_string(i) + ".html.txt");
    }
    std::sort(names.begin(), names.end());
    QCOMPARE(FilesIn(work_->Path()), names);
  }

  // A signal that ends the program in the middle of a run ends it as the signal does, every
  // output older or complete and no new file left under a name of its own, also where the file
  // system has no unnamed files.
  void anEndingSignalDuringARunLeavesNoNewFile_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("unnamedFiles");
    QTest::newRow("SIGTERM") << SIGTERM << true;
    QTest::newRow("SIGTERM without unnamed files") << SIGTERM << false;
    QTest::newRow("SIGINT without unnamed files") << SIGINT << false;
    QTest::newRow("SIGHUP without unnamed files") << SIGHUP << false;
  }
  void anEndingSignalDuringARunLeavesNoNewFile() {
    QFETCH(int, signal);
    QFETCH(bool, unnamedFiles);
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    std::string text;
    while (text.size() < (1u << 20)) text += "<p>x</p>";
    const std::string converted(text.size() / 8, 'x');
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
      paths.push_back(At("a" + std::to_string(i) + ".html"));
      WriteBytes(paths.back(), text);
      WriteBytes(paths.back() + ".txt", "older");
    }
    const testing::ChildSetup withoutUnnamedFiles = testing::WithoutUnnamedFiles();
    const testing::ChildSetup setup = [&] {
      for (const int ending : {SIGHUP, SIGINT, SIGTERM}) ::signal(ending, SIG_DFL);
      return unnamedFiles || withoutUnnamedFiles();
    };
    std::atomic<bool> ended{false};
    std::thread sender;
    const auto started = [&](pid_t pid) {
      sender = std::thread([&, pid] {
        const std::string written = paths[10] + ".txt";
        while (!ended && ReadBytes(written).size() != converted.size()) std::this_thread::yield();
        ::kill(pid, signal);
      });
    };
    const WindowReport window = RunWindowInChild(paths, work_->Path(), setup, SelfPath(), started);
    ended = true;
    sender.join();
    // On a busy machine the run may have ended before the signal came.
    QVERIFY2(window.child.status == 128 + signal || window.child.status == 0,
             window.child.err.c_str());
    std::vector<std::string> names = {"CEntity.txt"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string output = ReadBytes(paths[i] + ".txt");
      QVERIFY2(output == "older" || output == converted, paths[i].c_str());
      names.push_back("a" + std::to_string(i) + ".html");
      names.push_back("a" + std::to_string(i) + ".html.txt");
    }
    std::sort(names.begin(), names.end());
    std::string strangers;
    for (const std::string& name : FilesIn(work_->Path())) {
      if (!std::binary_search(names.begin(), names.end(), name)) strangers += name + " ";
    }
    QVERIFY2(strangers.empty(), strangers.c_str());
  }

  // ---- a disk that fills up, a folder that turns read-only ----

  void aFullDiskStopsTheRunAndKeepsTheOlderOutput() {
    const std::string small = At("a0-small.html");
    const std::string big = At("a1-big.html");
    const std::string after = At("a2-after.html");
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    WriteBytes(small, "<p>small &amp; fine</p>");
    std::string bigText;
    while (bigText.size() < (1u << 20)) bigText += "<p>line &amp; more</p>\r\n";
    WriteBytes(big, bigText);
    WriteBytes(after, "<p>after</p>");
    WriteBytes(big + ".txt", "older output");
    const auto limit = testing::FileSizeLimit(64 * 1024);
    const QString writeError =
        QStringLiteral("ファイル %1.txt に書き込めません").arg(QString::fromStdString(big));
    const std::vector<std::string> files = {"CEntity.txt", "a0-small.html",   "a0-small.html.txt",
                                            "a1-big.html", "a1-big.html.txt", "a2-after.html"};

    const WindowReport window = RunWindowInChild({small, big, after}, work_->Path(), limit);
    QVERIFY2(window.child.status == 0, window.child.err.c_str());
    QCOMPARE(window.tasks, (QStringList{"完了", "開始", "未処理"}));
    QCOMPARE(window.boxes, QStringList{writeError + "."});
    QCOMPARE(ReadBytes(small + ".txt"), std::string("small & fine"));
    QCOMPARE(ReadBytes(big + ".txt"), std::string("older output"));
    QCOMPARE(FilesIn(work_->Path()), files);

    std::filesystem::remove(small + ".txt");
    const ChildResult run = Convert({small, big, after}, limit);
    QCOMPARE(run.status, 1);
    QVERIFY2(QString::fromUtf8(Bytes(run.err)).contains(writeError), run.err.c_str());
    QCOMPARE(ReadBytes(small + ".txt"), std::string("small & fine"));
    QCOMPARE(ReadBytes(big + ".txt"), std::string("older output"));
    QCOMPARE(FilesIn(work_->Path()), files);
  }

  // An output is replaced by a new file beside it, which a read-only folder cannot take: the run
  // stops at the folder's first output, even one that exists and may be written, and that one
  // keeps its older contents.
  void anOutputFolderTurnedReadOnlyStopsTheRunAtItsFirstOutput() {
    const std::optional<passwd> user = testing::UnprivilegedUser();
    if (!user) QSKIP("needs root and a user 'nobody' to drop to: root ignores permission bits");
    // The unprivileged child must reach the folders: open the private ones on the way.
    for (std::filesystem::path at = work_->Path();
         at != testing::PrivateHome::Current().Root().parent_path(); at = at.parent_path()) {
      ::chmod(at.c_str(), 0755);
    }
    const std::string writable = At("writable");
    const std::string locked = At("locked");
    for (const std::string& folder : {writable, locked}) {
      std::filesystem::create_directory(folder);
      QCOMPARE(::chown(folder.c_str(), user->pw_uid, user->pw_gid), 0);
    }
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    const std::string first = writable + "/a0.html";
    const std::string rewritten = locked + "/a1.html";  // its output exists and stays writable
    const std::string blocked = locked + "/a2.html";
    const std::string last = writable + "/a3.html";
    for (const std::string& file : {first, rewritten, blocked, last}) WriteBytes(file, "<b>x</b>");
    WriteBytes(rewritten + ".txt", "old");
    QCOMPARE(::chown((rewritten + ".txt").c_str(), user->pw_uid, user->pw_gid), 0);
    // The files are listed; then their folder turns read-only before the run reaches them.
    QCOMPARE(::chmod(locked.c_str(), 0555), 0);
    const QString createError =
        QStringLiteral("ファイル %1.txt を作成できません").arg(QString::fromStdString(rewritten));

    // The programs run from a copy the user can reach, wherever the checkout lies.
    const std::filesystem::path bin = At("bin");
    std::filesystem::create_directory(bin);
    const WindowReport window =
        RunWindowInChild({first, rewritten, blocked, last}, work_->Path(), testing::AsUser(*user),
                         testing::ReachableCopy(SelfPath(), bin));
    QVERIFY2(window.child.status == 0, window.child.err.c_str());
    QCOMPARE(window.tasks, (QStringList{"完了", "開始", "未処理", "未処理"}));
    QCOMPARE(window.boxes, QStringList{createError + "."});
    QCOMPARE(ReadBytes(rewritten + ".txt"), std::string("old"));
    QVERIFY(!Exists(blocked + ".txt"));
    QVERIFY(!Exists(last + ".txt"));

    WriteBytes(first + ".txt", "old");
    const ChildResult run = Convert({first, rewritten, blocked, last}, testing::AsUser(*user),
                                    testing::ReachableCopy(testing::ConvertToolPath(), bin));
    QCOMPARE(run.status, 1);
    QVERIFY2(QString::fromUtf8(Bytes(run.err)).contains(createError), run.err.c_str());
    QCOMPARE(ReadBytes(first + ".txt"), std::string("x"));
    QCOMPARE(ReadBytes(rewritten + ".txt"), std::string("old"));
    QVERIFY(!Exists(blocked + ".txt"));
    QVERIFY(!Exists(last + ".txt"));
    ::chmod(locked.c_str(), 0755);
  }

  // ---- a file larger than the memory there is ----

  void aFileLargerThanMemoryConvertsInChunks() {
    if (kSanitized) QSKIP("AddressSanitizer maps more than any address-space limit allows");
    const std::string small = At("a0-small.html");
    const std::string huge = At("a1-huge.html");
    const std::string after = At("a2-after.html");
    WriteBytes(At("CEntity.txt"), kTable.toStdString());
    WriteBytes(small, "<p>small</p>");
    WriteBytes(after, "<p>after</p>");
    // Sparse: no disk is used, yet reading it whole would need 1 GB. A tag left open at its
    // zeros keeps the output small.
    WriteBytes(huge, "<p>head</p><");
    std::filesystem::resize_file(huge, 1ull << 30);
    const auto limit = testing::AddressSpaceLimit(768ull << 20);

    const WindowReport window = RunWindowInChild({small, huge, after}, work_->Path(), limit);
    QVERIFY2(window.child.status == 0, window.child.err.c_str());
    QCOMPARE(window.tasks, (QStringList{"完了", "完了", "完了"}));
    QCOMPARE(window.boxes, QStringList{});
    QCOMPARE(ReadBytes(huge + ".txt"), std::string("head"));
    QCOMPARE(ReadBytes(after + ".txt"), std::string("after"));
    std::filesystem::remove(huge + ".txt");

    const ChildResult run = Convert({small, huge, after}, limit);
    QVERIFY2(run.status == 0, run.err.c_str());
    QCOMPARE(ReadBytes(huge + ".txt"), std::string("head"));
  }

  void aConversionThatOutgrowsMemoryIsReportedNotACrash() {
    if (kSanitized) QSKIP("AddressSanitizer maps more than any address-space limit allows");
    const std::string small = At("a0-small.html");
    const std::string growing = At("a1-growing.html");
    // Every "&amp;" becomes a kilobyte: 16 MB of them would make over 3 GB.
    WriteBytes(At("CEntity.txt"), "&amp;=" + std::string(1000, 'x') + "\r\n");
    WriteBytes(small, "<p>small</p>");
    std::string text;
    while (text.size() < (16u << 20)) text += "&amp;";
    WriteBytes(growing, text);
    const auto limit = testing::AddressSpaceLimit(768ull << 20);

    const WindowReport window = RunWindowInChild({small, growing}, work_->Path(), limit);
    QVERIFY2(window.child.status == 0, window.child.err.c_str());
    QCOMPARE(window.tasks, (QStringList{"完了", "開始"}));
    QCOMPARE(window.boxes, QStringList{QStringLiteral("メモリが不足しています.")});
    QVERIFY(!Exists(growing + ".txt"));

    const ChildResult run = Convert({small, growing}, limit);
    QCOMPARE(run.status, 1);
    QVERIFY2(QString::fromUtf8(Bytes(run.err)).contains(QStringLiteral("メモリが不足しています")),
             run.err.c_str());
    QVERIFY(!Exists(growing + ".txt"));
  }

  // ---- table files that are not tables ----

  void hostileTablesLoadOrFailOnceAndTheRunStillWorks_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    const QByteArray page = "<p>&amp;lt;b&amp;gt; &e7xx</p>";
    const QByteArray tagsOnly = "&amp;lt;b&amp;gt; &e7xx";
    QTest::newRow("folder") << "folder" << false << page << tagsOnly;
    QTest::newRow("FIFO") << "fifo" << false << page << tagsOnly;
    QTest::newRow("dangling link") << "dangling" << false << page << tagsOnly;
    QTest::newRow("link to a device") << "device" << false << page << tagsOnly;
    QTest::newRow("empty") << "empty" << true << page << tagsOnly;
    QTest::newRow("NUL bytes only") << "nul" << true << page << tagsOnly;
    QTest::newRow("UTF-16") << "utf-16" << true << page << tagsOnly;
    QTest::newRow("50 MB of rows")
        << "huge" << true << page << QByteArray("&amp;lt;b&amp;gt; SEVEN");
    QTest::newRow("50 MB line") << "one line" << true << page << tagsOnly;
  }
  void hostileTablesLoadOrFailOnceAndTheRunStillWorks() {
    QFETCH(QString, kind);
    QFETCH(bool, loads);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    const std::string table = At("CEntity.txt");
    if (kind == "folder") std::filesystem::create_directory(table);
    if (kind == "fifo") QCOMPARE(::mkfifo(table.c_str(), 0600), 0);
    if (kind == "dangling") std::filesystem::create_symlink(At("nowhere"), table);
    if (kind == "device") std::filesystem::create_symlink("/dev/zero", table);
    if (kind == "empty") WriteBytes(table, "");
    if (kind == "nul") WriteBytes(table, std::string(1 << 20, '\0'));
    if (kind == "utf-16") {
      const QString text = QStringLiteral("&amp;=&\r\n&lt;=<\r\n");
      WriteBytes(table, "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.utf16()),
                                                 static_cast<std::size_t>(text.size()) * 2));
    }
    if (kind == "huge" || kind == "one line") {
      // Tens of thousands of long rows, one of which matches the page; or one 50 MB line.
      std::string rows;
      const std::string filler(1000, 'x');
      for (int i = 0; rows.size() < 50u << 20; ++i) {
        rows += kind == "huge" ? "&e" + std::to_string(i) + filler + "=row" + std::to_string(i)
                               : filler;
        if (kind == "huge") rows += "\r\n";
      }
      rows += "&e7xx=SEVEN\r\n";
      WriteBytes(table, rows);
    }

    TFMain& w = Open(std::nullopt);
    QCOMPARE(BoxTexts(), loads ? QStringList() : QStringList{Opened("CEntity.txt")});
    QCOMPARE(w.EntityTable().empty(), !loads);

    const std::vector<std::string> paths = List(w, {input.toStdString()});
    w.tmiFileRun->trigger();
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(Bytes(ReadBytes(paths[0] + ".txt")), output);

    std::filesystem::remove(paths[0] + ".txt");
    // A big table must not cost many times its size: the harness gets far less memory than
    // a search structure per table byte would need.
    const ChildResult run =
        Convert(paths, kSanitized ? testing::ChildSetup() : testing::AddressSpaceLimit(1ull << 30));
    // Like the window, the harness says once that CEntity.txt cannot be read and removes tags.
    QVERIFY2(run.status == 0, run.err.c_str());
    QCOMPARE(Bytes(ReadBytes(paths[0] + ".txt")), output);
    QCOMPARE(QString::fromUtf8(Bytes(run.err)).count(Opened("CEntity.txt").chopped(1)),
             loads ? 0 : 1);
    // A table named on the command line must be read.
    if (!loads) {
      std::filesystem::remove(paths[0] + ".txt");
      const ChildResult named = Convert({"--table", table, paths[0]});
      QCOMPARE(named.status, 1);
      QVERIFY2(QString::fromUtf8(Bytes(named.err)).contains(Opened(table).chopped(1)),
               named.err.c_str());
      QVERIFY(!Exists(paths[0] + ".txt"));
    }
  }

  // The table check on a 50 MB table, with the real message box: it shows the table's
  // beginning and says how much is left out, instead of laying out megabytes of text.
  void theTableCheckOfAHugeTableShowsItsBeginning() {
    std::string rows;
    for (int i = 0; rows.size() < 50u << 20; ++i) {
      rows +=
          "&e" + std::to_string(i) + std::string(1000, 'x') + "=row" + std::to_string(i) + "\r\n";
    }
    WriteBytes(At("CEntity.txt"), rows);
    QStringList seen;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&seen] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        seen << box->text();
        box->accept();
      }
    });
    closer.start(0);
    TFMain w(real_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(seen.isEmpty());  // the table loaded

    w.tmiEditCEntity->trigger();
    QCOMPARE(seen.size(), 1);
    const QString& text = seen[0];
    QVERIFY2(text.size() <= QtDesktopServices::kLongestShownText + 100,
             qPrintable(text.right(200)));
    QVERIFY(
        text.startsWith(QStringLiteral("&e0") + QString(1000, u'x') + QStringLiteral(" row0\n")));
    const qsizetype lines = text.count(u'\n');
    QVERIFY2(
        text.endsWith(QStringLiteral("(以下 %1 行を省略)").arg(w.EntityTable().size() - lines)),
        qPrintable(text.right(200)));
  }
};

int main(int argc, char** argv) {
  if (const char* files = std::getenv(kChildFilesVariable)) return RunWindowAndReport(files);
  testing::PrivateHome home;
  QApplication app(argc, argv);
  InitCodePageFromLocale();
  HostileTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_hostile.moc"
