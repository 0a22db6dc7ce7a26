// Moving files to the real trash in a private HOME, and the real desktop services around it:
// message boxes, file attributes, the trash command's dialogs, the folder picker, Qt's own
// texts, and that none of them leaves anything behind in the home.
#include <dirent.h>
#include <gio/gio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>

#include "FileSearch.h"
#include "GuiTest.h"
#include "Main.h"
#include "QtDesktopServices.h"
#include "TempDir.h"
#include "TextCodec.h"
#include "Trash.h"

using tavrin::testing::Exists;
using tavrin::testing::ReadBytes;
using tavrin::testing::TempDir;
using tavrin::testing::WriteBytes;

namespace {

std::string Home() {
  return tavrin::testing::PrivateHome::Current().Home();
}

// Everything under a folder: each entry's path, and for a file its size and modification time.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    struct stat st {};
    ::lstat(entry.path().c_str(), &st);
    entries[entry.path().lexically_relative(folder).string()] =
        S_ISREG(st.st_mode)
            ? std::to_string(st.st_size) + " bytes, modified " + std::to_string(st.st_mtim.tv_sec) +
                  "." + std::to_string(st.st_mtim.tv_nsec)
            : "";
  }
  return entries;
}

// The home as main() found it, before the application started.
std::map<std::string, std::string>* gHomeAtStart = nullptr;

// What GLib itself says when it cannot trash path.
std::string GLibTrashError(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  std::string message = g_file_trash(file, nullptr, &error) ? "" : error->message;
  if (error != nullptr) g_error_free(error);
  g_object_unref(file);
  return message;
}

std::string TrashDir() {
  return tavrin::testing::PrivateHome::Current().TrashDir();
}

using tavrin::testing::TrashContents;
using tavrin::testing::TrashedFile;

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
  // Presses the dialog's button of that name; a dialog without one is turned down.
  static Answer Press(const char* button) {
    return [button](QWidget* w) {
      if (auto* found = w->findChild<QPushButton*>(QString::fromLatin1(button)))
        found->click();
      else if (auto* dialog = qobject_cast<QDialog*>(w))
        dialog->reject();
    };
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
  // Under the private TMPDIR, beside the private HOME: files then go to the home trash.
  std::unique_ptr<tavrin::testing::WorkFolder> dir_;
  std::string At(std::string_view name) const { return dir_->At(name); }
  std::string Put(std::string_view name, std::string_view content = "x") const {
    return dir_->Put(name, content);
  }

 private Q_SLOTS:
  void init() { dir_ = std::make_unique<tavrin::testing::WorkFolder>(); }
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

  // A reason is GLib's own, in the user's language where GLib has one (here Japanese, see
  // main()), with the file named as the window names it everywhere: on one line, no byte lost.
  void failureReasonsAreGLibsOwnWordsNamingTheFileAsShown() {
    const std::string plain = At("missing.html");
    const std::string odd = At("new\nline\xe9.html");

    const auto failures = tavrin::TrashFiles({plain, odd});

    QCOMPARE(failures.size(), std::size_t{2});
    QCOMPARE(failures[0].reason, GLibTrashError(plain));
    const QString reason = QString::fromStdString(failures[1].reason);
    QVERIFY2(reason.contains(tavrin::DecodeFileName(odd)), qPrintable(reason));
    QVERIFY2(!reason.contains(u'\n') && !reason.contains(QChar::ReplacementCharacter),
             qPrintable(reason));
    const QString report = tavrin::TrashFailureReport(failures);
    QVERIFY(report.contains(QString::fromStdString(failures[0].reason)));
  }

  void qtOwnTextsSpeakJapanese() {
    QVERIFY2(tavrin::LoadQtJapanese(*qApp), "qtbase_ja.qm (qt6-translations-l10n) is missing");
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Close);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    QCOMPARE(box.button(QDialogButtonBox::Close)->text(), QStringLiteral("閉じる"));
  }

  // Every folder shows, also one whose name is not text in any code set, and comes back exact.
  void folderPickerShowsEveryFolderAndGivesItsBytes_data() {
    QTest::addColumn<QByteArray>("pick");  // a folder of the home; empty: cancel
    QTest::newRow("cancelled") << QByteArray();
    QTest::newRow("plain") << QByteArray("plain");
    QTest::newRow("not UTF-8") << QByteArray("d\xe9");
    QTest::newRow("japanese") << QByteArray("日本");
    QTest::newRow("hidden") << QByteArray(".hidden");
    QTest::newRow("link to a folder") << QByteArray("link");
  }
  void folderPickerShowsEveryFolderAndGivesItsBytes() {
    QFETCH(QByteArray, pick);
    const std::vector<std::string> folders = {"plain", "d\xe9", "日本", ".hidden"};
    struct Cleanup {
      ~Cleanup() {
        for (const char* name : {"plain", "d\xe9", "日本", ".hidden", "link", "file.html"})
          std::filesystem::remove(Home() + "/" + name);
      }
    } cleanup;
    for (const std::string& name : folders) std::filesystem::create_directory(Home() + "/" + name);
    std::filesystem::create_directory_symlink(Home() + "/plain", Home() + "/link");
    WriteBytes(Home() + "/file.html", "not a folder");

    QString prompt;
    QStringList buttons;
    QStringList shown;
    ModalAnswerer answerer;
    answerer.Then([&](QWidget* w) {
      prompt = w->findChild<QLabel*>(QStringLiteral("lblPrompt"))->text();
      for (QPushButton* button : w->findChildren<QPushButton*>()) buttons << button->text();
      // The picker opens at the home folder.
      QTreeWidget* tree = w->findChild<QTreeWidget*>(QStringLiteral("tvwFolders"));
      QTreeWidgetItem* home = tree->currentItem();
      for (int i = 0; i < home->childCount(); ++i) shown << home->child(i)->text(0);
      const QString wanted = tavrin::DecodeFileName(pick.toStdString());
      for (int i = 0; i < home->childCount(); ++i) {
        if (!pick.isEmpty() && home->child(i)->text(0) == wanted)
          tree->setCurrentItem(home->child(i));
      }
      w->findChild<QPushButton*>(pick.isEmpty() ? "btnCancel" : "btnOk")->click();
    });

    const std::string chosen =
        services_.BrowseForFolder(nullptr, "検索するフォルダを指定してください。");

    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(QByteArray::fromStdString(chosen),
             pick.isEmpty() ? QByteArray() : QByteArray::fromStdString(Home()) + "/" + pick);
    QCOMPARE(prompt, QStringLiteral("検索するフォルダを指定してください。"));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"OK", "キャンセル"}));
    for (const char* name : {".hidden", "d\\xE9", "link", "plain", "日本"})
      QVERIFY2(shown.contains(QString::fromUtf8(name)), name);
    QVERIFY(!shown.contains(QStringLiteral("file.html")));
  }

  // The commands that open windows and boxes, and a run, leave nothing in the home: no settings,
  // no history, no cache. Only outputs are written (here beside the input, outside the home).
  void nothingButOutputsIsWritten() {
    const auto changesInTheHome = [] {
      std::map<std::string, std::string> now = Snapshot(Home());
      // The trash is what the trash tests wrote on purpose.
      std::erase_if(now, [](const auto& entry) {
        return entry.first == ".local" || entry.first == ".local/share" ||
               entry.first.starts_with(".local/share/Trash");
      });
      QStringList changed;
      for (const auto& [path, state] : now) {
        auto before = gHomeAtStart->find(path);
        if (before == gHomeAtStart->end() || before->second != state)
          changed << QString::fromStdString(path);
      }
      return changed;
    };
    const QString folder = QString::fromStdString(dir_->Path().string());
    QVERIFY(QDir::setCurrent(folder));
    WriteBytes(At("CEntity.txt"), "&amp;=&\r\n");
    WriteBytes(At("a.html"), "<p>a &amp; b</p>");
    {
      tavrin::TFMain w(services_);
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      ModalAnswerer answerer;
      answerer.Then(ModalAnswerer::Press("btnCancel"));
      w.tmiFileFindFile->trigger();
      QCOMPARE(changesInTheHome(), QStringList());
      answerer.Then(ModalAnswerer::Press("btnOk"));
      w.tmiFileFindFile->trigger();
      auto* search = w.findChild<tavrin::TFFileSearch*>();
      QVERIFY(search != nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(!search->IsSearching(), 60000);
      answerer.Then(ModalAnswerer::Press("btnCancel"));
      search->findChild<QPushButton*>(QStringLiteral("btnBrowse"))->click();
      search->close();
      answerer.Then([](QWidget* box) { static_cast<QDialog*>(box)->reject(); });
      w.tmiHelpVersion->trigger();
      answerer.Then(ModalAnswerer::Click(QMessageBox::Ok));
      w.tmiEditCEntity->trigger();
      w.AddResultList(At("a.html"));
      w.tmiFileRun->trigger();
      QCOMPARE(ReadBytes(At("a.html.txt")), std::string("a & b"));
      QCOMPARE(answerer.Pending(), std::size_t{0});
      QCOMPARE(answerer.unexpected, 0);
    }
    QDir::setCurrent(QDir::tempPath());
    QCOMPARE(changesInTheHome(), QStringList());
  }
};

int main(int argc, char** argv) {
  tavrin::testing::PrivateHome home;
  // GLib's messages in Japanese where it has them, whatever the machine's language.
  ::setenv("LANGUAGE", "ja", 1);
  std::map<std::string, std::string> homeAtStart = Snapshot(home.Home());
  gHomeAtStart = &homeAtStart;

  QApplication app(argc, argv);
  TestTrash test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_trash.moc"
