// Moving files to the real trash in a private HOME, and the real desktop services around it:
// message boxes, file attributes and the trash command's dialogs.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>

#include "QtDesktopServices.h"
#include "TempDir.h"
#include "Trash.h"

using tavrin::testing::ReadBytes;
using tavrin::testing::TempDir;
using tavrin::testing::WriteBytes;

namespace {

// Set up by main() before anything can ask GLib where the home and the trash are.
TempDir* gRoot = nullptr;

std::string TrashDir() {
  return *gRoot / "home/.local/share/Trash";
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

struct TrashedFile {
  std::string content;      // of the file kept in the trash
  QByteArray pathLine;      // the Path= value as written
  QByteArray deletionDate;  // the DeletionDate= value
};

// Everything in the trash, keyed by the original path its info file names.
std::map<std::string, TrashedFile> TrashContents() {
  std::map<std::string, TrashedFile> trashed;
  const std::string suffix = ".trashinfo";
  for (const std::string& infoName : ListDir(TrashDir() + "/info")) {
    if (!infoName.ends_with(suffix)) continue;
    const std::string fileName = infoName.substr(0, infoName.size() - suffix.size());
    TrashedFile file;
    file.content = ReadBytes(TrashDir() + "/files/" + fileName);
    const QByteArray info = QByteArray::fromStdString(ReadBytes(TrashDir() + "/info/" + infoName));
    for (const QByteArray& line : info.split('\n')) {
      if (line.startsWith("Path=")) file.pathLine = line.mid(5);
      if (line.startsWith("DeletionDate=")) file.deletionDate = line.mid(13);
    }
    trashed[QByteArray::fromPercentEncoding(file.pathLine).toStdString()] = file;
  }
  return trashed;
}

// Answers the modal windows that open while a call runs, in order, and records what they said.
class ModalAnswerer : public QObject {
 public:
  using Answer = std::function<void(QWidget*)>;
  struct Seen {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  };

  ModalAnswerer() {
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer_.start();
  }

  void Then(Answer answer) { answers_.push_back(std::move(answer)); }
  static Answer Click(QMessageBox::StandardButton button) {
    return [button](QWidget* w) { static_cast<QMessageBox*>(w)->button(button)->click(); };
  }
  static Answer Key(Qt::Key key) {
    return [key](QWidget* w) { QTest::keyClick(w, key); };
  }

  std::vector<Seen> seen;
  int unexpected = 0;
  bool sawProgress = false;
  std::size_t Pending() const { return answers_.size(); }

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QProgressDialog*>(w) != nullptr && w->isVisible()) sawProgress = true;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || qobject_cast<QProgressDialog*>(modal)) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      QMessageBox::StandardButton def =
          box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
      seen.push_back({box->text(), box->windowTitle(), box->icon(), box->standardButtons(), def});
    }
    if (answers_.empty()) {
      // Never hang on a window nobody expected.
      ++unexpected;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    answer(modal);
  }

  QTimer timer_;
  std::deque<Answer> answers_;
};

std::string ListOf(const std::vector<std::string>& paths) {
  std::string list;
  for (const std::string& path : paths) list += path + '\0';
  return list + '\0';
}

}  // namespace

class TestTrash : public QObject {
  Q_OBJECT

 private:
  tavrin::QtDesktopServices services_;
  // Under TMPDIR, which main() puts beside the private HOME: files then go to the home trash.
  std::unique_ptr<TempDir> dir_;
  std::string At(std::string_view name) const { return *dir_ / name; }
  std::string Put(std::string_view name, std::string_view content = "x") const {
    std::string path = At(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteBytes(path, content);
    return path;
  }

 private Q_SLOTS:
  void init() { dir_ = std::make_unique<TempDir>(); }
  void cleanup() { dir_.reset(); }

  void splitNulList_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QList<QByteArray>>("paths");
    using L = QList<QByteArray>;
    QTest::newRow("empty") << QByteArray() << L{};
    QTest::newRow("only the end") << QByteArray("\0", 1) << L{};
    QTest::newRow("one") << QByteArray("/a b\0\0", 6) << L{"/a b"};
    QTest::newRow("two") << QByteArray("/a\0/b\0\0", 7) << L{"/a", "/b"};
    QTest::newRow("without the final NUL") << QByteArray("/a\0/b\0", 6) << L{"/a", "/b"};
    QTest::newRow("stops at the double NUL") << QByteArray("/a\0\0/b\0\0", 8) << L{"/a"};
    QTest::newRow("not UTF-8") << QByteArray("/\x93\xfa\xff\0\0", 6) << L{"/\x93\xfa\xff"};
  }
  void splitNulList() {
    QFETCH(QByteArray, list);
    QFETCH(QList<QByteArray>, paths);
    std::vector<std::string> expected;
    for (const QByteArray& path : paths) expected.push_back(path.toStdString());
    QCOMPARE(tavrin::SplitNulList(std::string_view(list.constData(), list.size())), expected);
  }

  // Also covers a fresh HOME: the trash folder and its parents do not exist yet.
  void awkwardNamesLandInTheTrashRestorably() {
    const std::vector<std::string> names = {"with space.html", "100%.html", "%41.html",
                                            "日本語.html", "\x93\xfa\x96\x7b.html"};
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(Put(name, "content of " + name));

    QVERIFY(tavrin::TrashFiles(paths).empty());

    const auto trashed = TrashContents();
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string& path = paths[i];
      QVERIFY2(!Exists(path), path.c_str());
      QVERIFY2(trashed.count(path) == 1, path.c_str());
      const TrashedFile& file = trashed.at(path);
      QCOMPARE(file.content, "content of " + names[i]);
      QCOMPARE(file.pathLine, QByteArray::fromStdString(path).toPercentEncoding("/"));
      QVERIFY2(QDateTime::fromString(QString::fromLatin1(file.deletionDate), Qt::ISODate).isValid(),
               file.deletionDate.constData());
    }
  }

  void failuresAreReportedAndTheOthersStillGo() {
    const std::string first = Put("first.html", "1");
    const std::string missing = At("missing.html");
    const std::string inMissingFolder = At("no such folder/x.html");
    const std::string last = Put("last.html", "2");

    const auto failures = tavrin::TrashFiles({first, missing, inMissingFolder, last});

    QCOMPARE(failures.size(), std::size_t{2});
    QCOMPARE(failures[0].path, missing);
    QCOMPARE(failures[1].path, inMissingFolder);
    QVERIFY(!failures[0].reason.empty() && !failures[1].reason.empty());
    const auto trashed = TrashContents();
    QVERIFY(trashed.count(first) == 1 && trashed.count(last) == 1);
  }

  void samePathTwiceIsTrashedOnceWithoutFailure() {
    const std::string path = Put("twice.html", "x");
    QVERIFY(tavrin::TrashFiles({path, path}).empty());
    QVERIFY(!Exists(path));
  }

  void emptyPathIsRefusedNotResolvedToTheCurrentFolder() {
    const std::string kept = Put("cwd/kept.html", "x");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(At("cwd"));
    const auto failures = tavrin::TrashFiles({""});
    std::filesystem::current_path(previous);
    QCOMPARE(failures.size(), std::size_t{1});
    QVERIFY(Exists(kept));
  }

  void progressSeesEachFileAndCanStop() {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) paths.push_back(Put("p" + std::to_string(i), "x"));

    std::vector<std::pair<std::size_t, std::size_t>> calls;
    const auto failures = tavrin::TrashFiles(paths, [&](std::size_t done, std::size_t total) {
      calls.emplace_back(done, total);
      return done < 2;
    });

    QVERIFY(failures.empty());
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {{0, 5}, {1, 5}, {2, 5}};
    QCOMPARE(calls, expected);
    QVERIFY(!Exists(paths[0]) && !Exists(paths[1]));
    QVERIFY(Exists(paths[2]) && Exists(paths[3]) && Exists(paths[4]));
  }

  // When the trash cannot be made, the file stays: nothing is ever deleted outright.
  void unusableTrashLeavesTheFileInPlace() {
    const std::string path = Put("stays.html", "still here");
    const std::string aside = TrashDir() + ".aside";
    const bool hadTrash = Exists(TrashDir());
    if (hadTrash) std::filesystem::rename(TrashDir(), aside);
    std::filesystem::create_directories(std::filesystem::path(TrashDir()).parent_path());
    WriteBytes(TrashDir(), "a file where the trash folder should be");

    const auto failures = tavrin::TrashFiles({path});

    std::filesystem::remove(TrashDir());
    if (hadTrash) std::filesystem::rename(aside, TrashDir());
    QCOMPARE(failures.size(), std::size_t{1});
    QCOMPARE(ReadBytes(path), std::string("still here"));
  }

  // The desktop services around the trash, and the others they offer.

  void fileAttributes() {
    const std::string file = Put("file.html");
    const std::string folder = At("folder");
    std::filesystem::create_directory(folder);
    const std::string fifo = At("fifo");
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string linkToFile = At("link-to-file");
    const std::string linkToFolder = At("link-to-folder");
    const std::string dangling = At("dangling");
    std::filesystem::create_symlink(file, linkToFile);
    std::filesystem::create_directory_symlink(folder, linkToFolder);
    std::filesystem::create_symlink(At("nowhere"), dangling);

    QCOMPARE(services_.GetFileAttributes(file), tavrin::kFileAttributeNormal);
    QCOMPARE(services_.GetFileAttributes(linkToFile), tavrin::kFileAttributeNormal);
    QVERIFY(services_.GetFileAttributes(folder) & tavrin::kFileAttributeDirectory);
    QVERIFY(services_.GetFileAttributes(linkToFolder) & tavrin::kFileAttributeDirectory);
    QVERIFY(services_.GetFileAttributes(fifo) & tavrin::kFileAttributeDirectory);
    QVERIFY(services_.GetFileAttributes("/dev/null") & tavrin::kFileAttributeDirectory);
    QCOMPARE(services_.GetFileAttributes(At("missing")), tavrin::kInvalidFileAttributes);
    QCOMPARE(services_.GetFileAttributes(At("missing/x")), tavrin::kInvalidFileAttributes);
    QCOMPARE(services_.GetFileAttributes(dangling), tavrin::kInvalidFileAttributes);
    QCOMPARE(services_.GetFileAttributes(""), tavrin::kInvalidFileAttributes);
  }

  void yesNoBox() {
    ModalAnswerer answerer;
    answerer.Then(ModalAnswerer::Click(QMessageBox::Yes));
    answerer.Then(ModalAnswerer::Click(QMessageBox::No));
    answerer.Then(ModalAnswerer::Key(Qt::Key_Escape));
    const unsigned flags = tavrin::mb::kYesNo;
    QCOMPARE(services_.MessageBox(nullptr, "削除しますか?", "クッション", flags), tavrin::kIdYes);
    QCOMPARE(services_.MessageBox(nullptr, "削除しますか?", "クッション", flags), tavrin::kIdNo);
    QCOMPARE(services_.MessageBox(nullptr, "削除しますか?", "クッション", flags), tavrin::kIdNo);

    QCOMPARE(answerer.seen.size(), std::size_t{3});
    const ModalAnswerer::Seen& box = answerer.seen[0];
    QCOMPARE(box.text, QStringLiteral("削除しますか?"));
    QCOMPARE(box.caption, QStringLiteral("クッション"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
    QCOMPARE(answerer.unexpected, 0);
  }

  void declinedTrashMovesNothing() {
    const std::string a = Put("a.html");
    const std::string b = Put("b.html");
    ModalAnswerer answerer;
    answerer.Then(ModalAnswerer::Click(QMessageBox::No));

    services_.MoveToTrash(nullptr, ListOf({a, b}));

    QVERIFY(Exists(a) && Exists(b));
    QCOMPARE(answerer.seen.size(), std::size_t{1});
    QVERIFY2(answerer.seen[0].text.contains(u'2'), qPrintable(answerer.seen[0].text));
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(answerer.unexpected, 0);
  }

  void confirmedTrashMovesAndReportsFailuresInOneBox() {
    const std::string a = Put("a.html");
    const std::string b = Put("b.html");
    const std::string missing = At("missing.html");
    const std::string notUtf8 = At("\x93\xfa.html");  // missing too, with a name to show
    ModalAnswerer answerer;
    answerer.Then(ModalAnswerer::Click(QMessageBox::Yes));
    answerer.Then(ModalAnswerer::Click(QMessageBox::Ok));

    services_.MoveToTrash(nullptr, ListOf({a, missing, b, notUtf8}));

    QVERIFY(!Exists(a) && !Exists(b));
    QCOMPARE(answerer.Pending(), std::size_t{0});
    QCOMPARE(answerer.seen.size(), std::size_t{2});
    const ModalAnswerer::Seen& report = answerer.seen[1];
    QCOMPARE(report.icon, QMessageBox::Critical);
    QVERIFY2(report.text.contains(QString::fromStdString(missing)), qPrintable(report.text));
    QVERIFY2(report.text.contains(QStringLiteral("\\x93\\xFA.html")), qPrintable(report.text));
    QVERIFY(!report.text.contains(QStringLiteral("a.html")));
    QCOMPARE(answerer.unexpected, 0);
  }

  void manyFilesShowProgressAndAllGo() {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i <= tavrin::QtDesktopServices::kTrashProgressThreshold + 4; ++i)
      paths.push_back(Put("many/" + std::to_string(i) + ".html"));
    QWidget owner;
    owner.show();
    ModalAnswerer answerer;
    answerer.Then(ModalAnswerer::Click(QMessageBox::Yes));

    services_.MoveToTrash(&owner, ListOf(paths));

    for (const std::string& path : paths) QVERIFY2(!Exists(path), path.c_str());
    QVERIFY(answerer.sawProgress);
    QCOMPARE(answerer.seen.size(), std::size_t{1});
    QCOMPARE(answerer.unexpected, 0);
  }
};

int main(int argc, char** argv) {
  // GLib reads HOME and XDG_DATA_HOME once, at first use: they must point here before anything
  // starts. ~/.local/share is deliberately left missing.
  TempDir root;
  gRoot = &root;
  std::filesystem::create_directories(root / "home");
  ::setenv("HOME", (root / "home").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
  // Test files are made on the same disk as HOME, as a user's files usually are.
  std::filesystem::create_directories(root / "tmp");
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);

  QApplication app(argc, argv);
  TestTrash test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_trash.moc"
