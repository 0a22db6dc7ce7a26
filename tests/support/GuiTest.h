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
#include <string>

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

// Every window test runs with HOME in a temporary folder, so nothing touches the user's files.
class PrivateHome {
 public:
  PrivateHome() {
    ::setenv("HOME", qPrintable(home_.path()), 1);
    ::setenv("XDG_DATA_HOME", qPrintable(home_.path() + "/.local/share"), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(home_.path() + "/.config"), 1);
    QDir(home_.path()).mkdir("runtime");
    QFile::setPermissions(home_.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("XDG_RUNTIME_DIR", qPrintable(home_.path() + "/runtime"), 1);
  }

 private:
  QTemporaryDir home_;
};

}  // namespace tavrin::testing

// A Qt Test main that gives the whole run a private HOME before the application starts.
#define TAVRIN_GUI_TEST_MAIN(TestClass)     \
  int main(int argc, char** argv) {         \
    tavrin::testing::PrivateHome home;      \
    QApplication app(argc, argv);           \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }
