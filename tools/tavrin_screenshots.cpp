// Pictures of the program for the README: both pages, the About box and the search window.
//   tavrin-screenshots EXAMPLES_DIR OUTPUT_DIR
// Run it under a real display server (scripts/screenshots.sh starts one) or offscreen.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "AboutBox.h"
#include "CodePage.h"
#include "FakeDesktop.h"
#include "FileSearch.h"
#include "ImageList.h"
#include "Main.h"
#include "QtDesktopServices.h"

namespace {

void Settle(int ms = 300) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Save(QWidget* widget, const QString& path) {
  Settle();
  const bool ok = widget->grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: tavrin-screenshots EXAMPLES_DIR OUTPUT_DIR\n");
    return 2;
  }
  QApplication::setWindowIcon(tavrin::ProgramIcon());
  tavrin::InitCodePageFromLocale();
  const QString examples = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  const QString out = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
  QDir().mkpath(out);

  // Work on copies, so the examples folder gets no outputs.
  QTemporaryDir work;
  for (const QString& name : QDir(examples).entryList(QDir::Files)) {
    QFile::copy(examples + "/" + name, work.filePath(name));
  }
  QDir::setCurrent(work.path());

  tavrin::testing::FakeDesktop fake;
  tavrin::TFMain window(fake);
  window.show();
  for (const QString& name : QDir(work.path()).entryList({"*.html"}, QDir::Files)) {
    window.AddResultList(work.filePath(name).toStdString());
  }
  window.tmiFileRunClick();
  window.lvwResult->topLevelItem(0)->setSelected(true);
  bool ok = Save(&window, out + "/main-list.png");
  window.lvwResultDblClick();
  ok &= Save(&window, out + "/main-view.png");

  tavrin::TFAboutBox about(&window);
  about.show();
  ok &= Save(&about, out + "/about.png");
  about.close();

  tavrin::TFFileSearch search;
  search.SetFolder(QFile::encodeName(examples).toStdString());
  search.resize(640, 360);
  search.show();
  search.StartSearch();
  QEventLoop wait;
  QObject::connect(&search, &tavrin::TFFileSearch::searchFinished, &wait, &QEventLoop::quit);
  if (search.IsSearching()) wait.exec();
  ok &= Save(&search, out + "/search.png");
  return ok ? 0 : 1;
}
