// A main window on a fresh temporary working folder, with the recording desktop whose file
// attributes come from the real file system.
#pragma once

#include <QSignalSpy>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <optional>

#include "FakeDesktop.h"
#include "GuiTest.h"
#include "Main.h"
#include "QtDesktopServices.h"

namespace tavrin::testing {

class WindowFixture {
 public:
  // Call from init(): a new working folder becomes the current one.
  void SetUp() {
    work_ = std::make_unique<QTemporaryDir>();
    if (!QDir::setCurrent(work_->path())) qFatal("cannot enter %s", qPrintable(work_->path()));
    fake_ = std::make_unique<FakeDesktop>();
  }

  // Call from cleanup().
  void TearDown() {
    window_.reset();
    QDir::setCurrent(QDir::tempPath());
    // Qt cannot name files whose names are not valid UTF-8, so it would leave them behind.
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(work_->path()).toStdString(), ignored);
    work_.reset();
  }

  QString Path(const QString& name) const { return work_->filePath(name); }
  QString Folder() const { return work_->path(); }
  FakeDesktop& Fake() { return *fake_; }

  // Opens the window; with a table, CEntity.txt holds it first.
  TFMain& Open(std::optional<QByteArray> table = std::nullopt) {
    if (table) WriteFile(Path("CEntity.txt"), *table);
    window_ = std::make_unique<TFMain>(*fake_);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qFatal("window not exposed");
    return *window_;
  }

  // Lists files named a0.html, a1.html... with the given contents, dropped in that order.
  QStringList List(const QList<QByteArray>& contents) {
    QStringList paths;
    for (int i = 0; i < contents.size(); ++i) {
      paths << Path(QStringLiteral("a%1.html").arg(i));
      WriteFile(paths.back(), contents[i]);
    }
    DropLocalFiles(window_.get(), paths);
    return paths;
  }

  static QStringList Statuses(const QSignalSpy& spy) {
    QStringList texts;
    for (const QList<QVariant>& args : spy) texts << args[0].toString();
    return texts;
  }

 private:
  std::unique_ptr<QTemporaryDir> work_;
  std::unique_ptr<FakeDesktop> fake_;
  std::unique_ptr<TFMain> window_;
};

}  // namespace tavrin::testing
