// Shared pieces of the window tests: a private HOME, a working folder, and drops that arrive
// the way the desktop delivers them.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "TempDir.h"

namespace tavrin::testing {

// The behaviour's UTF-8 texts, for comparing with what Qt shows.
inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Sends enter, move and drop to the window's native window at pos (in widget coordinates);
// returns whether the drop was accepted.
inline bool SimulateDrop(QWidget* window, QMimeData* mime, QPoint pos, bool withEnter = true) {
  QWindow* handle = window->windowHandle();
  const QPointF at = QPointF(pos);
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  if (withEnter) {
    QDragEnterEvent enter(at.toPoint(), actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &enter);
    QDragMoveEvent move(at.toPoint(), actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
  }
  QDropEvent drop(at, actions, mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &drop);
  return drop.isAccepted();
}

inline bool DropLocalFiles(QWidget* window, const QStringList& paths, QPoint pos = {40, 120}) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime.setUrls(urls);
  return SimulateDrop(window, &mime, pos);
}

// Raw bytes of a path as a file URI, percent-encoded, as file managers send them.
inline QByteArray FileUri(const std::string& path) {
  return "file://" +
         QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding("/");
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  file.write(bytes);
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll();
}

// Every window test runs with its home in a temporary folder, set before the application (and
// GLib, which reads HOME and XDG_DATA_HOME once) starts, so nothing touches the user's files.
// Test files go under TMPDIR beside it, on the same disk, as a user's files usually are: files
// sent to the trash then land in this home's trash.
class PrivateHome {
 public:
  PrivateHome() {
    current_ = this;
    for (const char* folder : {"home/.config", "home/.cache", "tmp"}) {
      std::filesystem::create_directories(root_ / folder);
    }
    std::filesystem::create_directories(root_ / "runtime");
    std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
    ::setenv("HOME", Home().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Home() + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Home() + "/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (Home() + "/.cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
  }
  ~PrivateHome() { current_ = nullptr; }
  PrivateHome(const PrivateHome&) = delete;
  PrivateHome& operator=(const PrivateHome&) = delete;

  static PrivateHome& Current() { return *current_; }
  const std::filesystem::path& Root() const { return root_.Path(); }
  std::string Home() const { return root_ / "home"; }
  std::string TrashDir() const { return root_ / "home/.local/share/Trash"; }

 private:
  static inline PrivateHome* current_ = nullptr;
  TempDir root_;
};

// A fresh folder for one test case, under the private TMPDIR.
class WorkFolder {
 public:
  const std::filesystem::path& Path() const { return dir_.Path(); }
  std::string At(std::string_view name) const { return dir_ / name; }
  // Writes a file, making the folders on its way.
  std::string Put(std::string_view name, std::string_view content = "x") const {
    const std::string path = At(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteBytes(path, content);
    return path;
  }

 private:
  TempDir dir_;
};

struct TrashedFile {
  std::string name;         // in the trash
  std::string content;      // of the file kept in the trash
  QByteArray pathLine;      // the Path= value as written
  QByteArray deletionDate;  // the DeletionDate= value
};

// Everything in the private home's trash, keyed by the original path its info file names.
inline std::map<std::string, TrashedFile> TrashContents() {
  std::map<std::string, TrashedFile> trashed;
  const std::string trash = PrivateHome::Current().TrashDir();
  const std::string suffix = ".trashinfo";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(trash + "/info", error)) {
    const std::string infoName = entry.path().filename().string();
    if (!infoName.ends_with(suffix)) continue;
    TrashedFile file;
    file.name = infoName.substr(0, infoName.size() - suffix.size());
    file.content = ReadBytes(trash + "/files/" + file.name);
    for (const QByteArray& line : QByteArray::fromStdString(ReadBytes(entry.path())).split('\n')) {
      if (line.startsWith("Path=")) file.pathLine = line.mid(5);
      if (line.startsWith("DeletionDate=")) file.deletionDate = line.mid(13);
    }
    trashed[QByteArray::fromPercentEncoding(file.pathLine).toStdString()] = file;
  }
  return trashed;
}

}  // namespace tavrin::testing

// A Qt Test main that gives the whole run a private HOME before the application starts.
#define TAVRIN_GUI_TEST_MAIN(TestClass)     \
  int main(int argc, char** argv) {         \
    tavrin::testing::PrivateHome home;      \
    QApplication app(argc, argv);           \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }
