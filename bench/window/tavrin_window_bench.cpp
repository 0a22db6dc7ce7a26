// The window's batch run and preview, timed against the headless harness on the same files.
//   tavrin-window-bench [--files N] [--kb SIZE] [--folder DIR] [--jobs J] [--preview-mb SIZE]
//                       [--rounds R]
// --folder: a copy of the folder's files (real pages) instead of generated ones. --jobs: the
// window's Run and tavrin-convert both with J workers (default: one per usable processor).
// Runs offscreen unless a platform is given.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BatchRun.h"
#include "CodePage.h"
#include "FakeDesktop.h"
#include "FileIOTools.h"
#include "GeneratedHtml.h"
#include "Html4Entities.h"
#include "Main.h"
#include "QtDesktopServices.h"

namespace {

using namespace tavrin;

std::string MakeHtml(std::size_t size, std::mt19937& rng) {
  return bench::MakeHtml(size, rng, /*shiftJis=*/false);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double TimeHarness(const QStringList& files, const QString& table, unsigned jobs) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QElapsedTimer timer;
  timer.start();
  process.start(
      QStringLiteral(TAVRIN_CONVERT_PATH),
      QStringList{"-j", QString::number(jobs), "--table", table, "--codepage", "1252"} + files);
  process.waitForFinished(-1);
  const double seconds = timer.nsecsElapsed() / 1e9;
  if (process.exitCode() != 0) std::fprintf(stderr, "tavrin-convert failed\n");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int fileCount = 10000, kb = 10, previewMb = 20, rounds = 3;
  unsigned jobs = UsableProcessors();
  QString folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (flag == "--folder") folder = QString::fromLocal8Bit(argv[i + 1]);
    if (flag == "--jobs" && value > 0) jobs = static_cast<unsigned>(value);
    if (flag == "--files") fileCount = value;
    if (flag == "--kb") kb = value;
    if (flag == "--preview-mb") previewMb = value;
    if (flag == "--rounds") rounds = value;
  }
  QApplication app(argc, argv);
  SetCurrentLeadByteSet(LeadByteSet());

  // Memory-backed by default, so the figures are the program's and not the disk's: on this
  // kind of virtual disk, replacing or deleting thousands of files costs seconds of its own.
  const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                           ? QStringLiteral("/dev/shm")
                           : QDir::tempPath();
  QTemporaryDir dir(base + QStringLiteral("/tavrin-window-bench-XXXXXX"));
  std::mt19937 rng(7);
  std::string table;
  for (const auto& e : bench::kHtml4Entities) table += std::string(e.name) + "=" + e.utf8 + "\r\n";
  WriteStringToFile(dir.filePath("CEntity.txt").toStdString(), table);
  QStringList files;
  if (!folder.isEmpty()) {
    QDirIterator pages(folder, QDir::Files, QDirIterator::Subdirectories);
    while (pages.hasNext()) {
      const QString page = pages.next();
      files << dir.filePath(QStringLiteral("%1-%2").arg(files.size()).arg(pages.fileName()));
      QFile::copy(page, files.back());
    }
    fileCount = static_cast<int>(files.size());
  }
  for (int i = 0; folder.isEmpty() && i < fileCount; ++i) {
    files << dir.filePath(QStringLiteral("page%1.html").arg(i, 5, 10, QLatin1Char('0')));
    WriteStringToFile(files.back().toStdString(),
                      MakeHtml(static_cast<std::size_t>(kb) * 1024, rng));
  }
  QDir::setCurrent(dir.path());

  testing::FakeDesktop fake;
  TFMain window(fake, nullptr, jobs);
  window.show();
  for (const QString& file : files) window.AddResultList(file.toStdString());

  std::vector<double> harness, gui, inProcess;
  for (int round = 0; round < rounds; ++round) {
    harness.push_back(TimeHarness(files, dir.filePath("CEntity.txt"), jobs));
    QElapsedTimer timer;
    timer.start();
    window.tmiFileRunClick();
    gui.push_back(timer.nsecsElapsed() / 1e9);
    // The same loop without the window, in this process: what the list's updates cost.
    timer.restart();
    for (const QString& file : files) {
      ConvertFileBeside(file.toStdString(), [&](std::string text) {
        return window.TavrinWithCEntity(std::move(text));
      });
    }
    inProcess.push_back(timer.nsecsElapsed() / 1e9);
  }
  const double h = Median(harness), g = Median(gui);
  std::printf("the same loop in this process without the window, one thread: %.3f s\n",
              Median(inProcess));
  std::printf(
      "batch of %d files of %s, %u jobs: tavrin-convert %.3f s (%.0f files/s), window %.3f s "
      "(%.0f files/s), ratio %.2f\n",
      fileCount,
      folder.isEmpty() ? (std::to_string(kb) + " KB").c_str() : folder.toLocal8Bit().constData(),
      jobs, h, fileCount / h, g, fileCount / g, g / h);

  // The preview of one large text: the time the window is held, from the double click until the
  // page has painted.
  const std::string big = dir.filePath("big.html").toStdString();
  WriteStringToFile(big, MakeHtml(static_cast<std::size_t>(previewMb) * 1024 * 1024 * 3, rng));
  window.tmiEditListAllClearClick();
  window.AddResultList(big);
  window.lvwResult->topLevelItem(0)->setSelected(true);
  std::vector<double> preview;
  for (int round = 0; round < rounds; ++round) {
    window.tmeViewDblClick();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    window.lvwResultDblClick();
    window.tmeView->repaint();
    preview.push_back(timer.nsecsElapsed() / 1e9);
    // The rest fills in from the event loop; the longest single step is what a user could feel.
    double longest = 0;
    while (!window.PreviewComplete()) {
      QElapsedTimer step;
      step.start();
      QCoreApplication::processEvents();
      longest = std::max(longest, step.nsecsElapsed() / 1e9);
    }
    std::printf(
        "  round %d: first screen after %.3f s, longest later step %.3f s, complete after "
        "%.3f s\n",
        round, preview.back(), longest, timer.nsecsElapsed() / 1e9);
  }
  {
    QElapsedTimer timer;
    timer.start();
    const std::string converted = window.TavrinWithCEntity(ReadFileToString(big));
    const double convertSeconds = timer.nsecsElapsed() / 1e9;
    timer.restart();
    window.tmeView->setPlainText(QString::fromUtf8(converted.data(), qsizetype(converted.size())));
    window.tmeView->repaint();
    std::printf("  of which read + convert %.3f s, display %.3f s\n", convertSeconds,
                timer.nsecsElapsed() / 1e9);
  }
  std::printf("preview of %.1f M characters of converted text: %.3f s (median of %d)\n",
              window.tmeView->document()->characterCount() / 1e6, Median(preview), rounds);
  return 0;
}
