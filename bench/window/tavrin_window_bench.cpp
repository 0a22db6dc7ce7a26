// The window's batch run and preview, timed against the headless harness on the same files, and
// the list's commands on long lists.
//   tavrin-window-bench [--files N] [--kb SIZE] [--folder DIR] [--jobs J] [--preview-mb SIZE]
//                       [--rounds R] [--list-only 1] [--rows N] [--drop N] [--replace 1]
//                       [--versus-jobs K]
// --folder: a copy of the folder's files (real pages) instead of generated ones. --jobs: the
// window's Run and tavrin-convert both with J workers (default: one per usable processor).
// --versus-jobs: a second window with K workers, and tavrin-convert with K, timed in the same
// rounds, for what J workers gain over K measured pair by pair.
// Every timed batch writes new outputs, the earlier ones deleted before it, as the command's own
// figures are taken; --replace 1 keeps them, so that every batch replaces older outputs. The
// batches take at least 9 rounds: they are short, and the ratio is the median of each round's
// pair.
// Runs offscreen unless a platform is given.
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
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

double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Seconds from the start of work() until the window has painted what it changed: on the wall
// clock, and of the processor's time (which other programs on a busy machine do not inflate).
struct Timing {
  double wall = 0, cpu = 0;
};
template <typename Work>
Timing TimePainted(TFMain& window, Work work) {
  QElapsedTimer timer;
  timer.start();
  const double cpu = CpuSeconds();
  work();
  QCoreApplication::processEvents();
  window.lvwResult->viewport()->repaint();
  return {timer.nsecsElapsed() / 1e9, CpuSeconds() - cpu};
}

std::string Medians(const std::vector<Timing>& timings) {
  std::vector<double> wall, cpu;
  for (const Timing& t : timings) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s (CPU %.3f s)", Median(wall), Median(cpu));
  return text;
}

// Selects the rows as a user's clicks would, in one change of whole rows.
void Select(TFMain& window, const std::vector<int>& rows) {
  QItemSelection selection;
  const QAbstractItemModel* model = window.lvwResult->model();
  for (int row : rows) selection.select(model->index(row, 0), model->index(row, 2));
  window.lvwResult->selectionModel()->select(selection, QItemSelectionModel::Select);
}

// The files dropped as a file manager drops them: one URI list.
void Drop(TFMain& window, const QStringList& files) {
  QByteArray uris;
  for (const QString& file : files) uris += QUrl::fromLocalFile(file).toEncoded() + "\r\n";
  QMimeData mime;
  mime.setData(QStringLiteral("text/uri-list"), uris);
  window.DropFiles(mime);
}

// The list's commands on lists of some thousands of rows: each is timed from the command until
// the list has painted.
void ListBench(TFMain& window, const QString& folder, int rounds, int manyRows, int dropped) {
  QStringList files;
  for (int i = 0; i < std::max(dropped, manyRows); ++i) {
    files << folder + QStringLiteral("/row%1.html").arg(i, 6, 10, QLatin1Char('0'));
    WriteStringToFile(files.back().toStdString(), "<b>x</b>");
  }
  window.tmiEditListAllClearClick();
  QCoreApplication::processEvents();

  std::vector<Timing> drop, clearAll;
  for (int round = 0; round < rounds; ++round) {
    drop.push_back(TimePainted(window, [&] { Drop(window, files.first(dropped)); }));
    clearAll.push_back(TimePainted(window, [&] { window.tmiEditListAllClearClick(); }));
  }
  std::printf("drop of %d files until painted: %s; clear all of them: %s\n", dropped,
              Medians(drop).c_str(), Medians(clearAll).c_str());

  struct Pattern {
    const char* name;
    bool (*selected)(int row, int rows);
  };
  const Pattern patterns[] = {
      {"every other row", [](int row, int) { return row % 2 == 1; }},
      {"the first half", [](int row, int rows) { return row < rows / 2; }},
      {"the middle half", [](int row, int rows) { return row >= rows / 4 && row < rows * 3 / 4; }},
  };
  for (const int rows : {2000, manyRows}) {
    const QStringList some = files.first(rows);
    for (const Pattern& pattern : patterns) {
      std::vector<Timing> clear;
      for (int round = 0; round < rounds; ++round) {
        Drop(window, some);
        QCoreApplication::processEvents();
        std::vector<int> selected;
        for (int row = 0; row < rows; ++row) {
          if (pattern.selected(row, rows)) selected.push_back(row);
        }
        Select(window, selected);
        window.lvwResult->setCurrentItem(window.lvwResult->topLevelItem(rows / 2),
                                         QItemSelectionModel::NoUpdate);
        QCoreApplication::processEvents();
        clear.push_back(TimePainted(window, [&] { window.tmiEditListClearClick(); }));
        window.tmiEditListAllClearClick();
      }
      std::printf("clear selected, %d rows, %s selected: %s\n", rows, pattern.name,
                  Medians(clear).c_str());
    }
  }

  // The preview of the last row, then a run with every other row selected.
  Drop(window, files.first(manyRows));
  Select(window, {manyRows - 1});
  const Timing preview = TimePainted(window, [&] { window.ttsViewEnter(); });
  std::vector<int> everyOther;
  for (int row = 1; row < manyRows; row += 2) everyOther.push_back(row);
  Select(window, everyOther);
  const double uiStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const Timing run = TimePainted(window, [&] { window.tmiFileRunClick(); });
  const double uiCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - uiStart;
  std::printf(
      "%d rows: preview of the last %s; run, every other row selected, %s, of which the "
      "user-interface thread %.3f s\n",
      manyRows, Medians({preview}).c_str(), Medians({run}).c_str(), uiCpu);
  window.tmiEditListAllClearClick();
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int fileCount = 10000, kb = 10, previewMb = 20, rounds = 3, listOnly = 0, manyRows = 20000,
      dropped = 100000, replace = 0, versusJobs = 0;
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
    if (flag == "--list-only") listOnly = value;
    if (flag == "--rows") manyRows = value;
    if (flag == "--drop") dropped = value;
    if (flag == "--replace") replace = value;
    if (flag == "--versus-jobs") versusJobs = value;
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
  if (listOnly) fileCount = 0;
  for (int i = 0; folder.isEmpty() && i < fileCount; ++i) {
    files << dir.filePath(QStringLiteral("page%1.html").arg(i, 5, 10, QLatin1Char('0')));
    WriteStringToFile(files.back().toStdString(),
                      MakeHtml(static_cast<std::size_t>(kb) * 1024, rng));
  }
  QDir::setCurrent(dir.path());

  testing::FakeDesktop fake;
  TFMain window(fake, nullptr, jobs);
  window.show();
  if (listOnly) {
    ListBench(window, dir.path(), rounds, manyRows, dropped);
    return 0;
  }
  for (const QString& file : files) window.AddResultList(file.toStdString());
  std::optional<TFMain> versus;
  if (versusJobs > 0) {
    versus.emplace(fake, nullptr, static_cast<unsigned>(versusJobs));
    versus->show();
    for (const QString& file : files) versus->AddResultList(file.toStdString());
  }

  const auto removeOutputs = [&] {
    if (replace) return;
    for (const QString& file : files) QFile::remove(file + QStringLiteral(".txt"));
  };
  // uiCpu: the user-interface thread's own processor time, which the workers do not share.
  std::vector<double> harness, gui, uiCpu, inProcess, ratio, versusGui, versusHarness;
  for (int round = 0; round < std::max(rounds, 9); ++round) {
    removeOutputs();
    harness.push_back(TimeHarness(files, dir.filePath("CEntity.txt"), jobs));
    removeOutputs();
    QElapsedTimer timer;
    timer.start();
    const double uiStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    window.tmiFileRunClick();
    gui.push_back(timer.nsecsElapsed() / 1e9);
    uiCpu.push_back(CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - uiStart);
    ratio.push_back(gui.back() / harness.back());
    removeOutputs();
    if (versus) {
      versusHarness.push_back(
          TimeHarness(files, dir.filePath("CEntity.txt"), static_cast<unsigned>(versusJobs)) /
          harness.back());
      removeOutputs();
      timer.restart();
      versus->tmiFileRunClick();
      versusGui.push_back(timer.nsecsElapsed() / 1e9 / gui.back());
      removeOutputs();
    }
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
      "batch of %d files of %s, %u jobs, %s outputs: tavrin-convert %.3f s (%.0f files/s), "
      "window %.3f s (%.0f files/s), ratio %.2f\n",
      fileCount,
      folder.isEmpty() ? (std::to_string(kb) + " KB").c_str() : folder.toLocal8Bit().constData(),
      jobs, replace ? "replacing older" : "new", h, fileCount / h, g, fileCount / g, Median(ratio));
  std::printf("  the window's user-interface thread during its Run: %.3f s of CPU\n",
              Median(uiCpu));
  if (versus) {
    std::printf(
        "  %u jobs against %d, pair by pair in the same rounds: window %.2fx as fast, "
        "tavrin-convert %.2fx\n",
        jobs, versusJobs, Median(versusGui), Median(versusHarness));
  }

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
  ListBench(window, dir.path(), rounds, manyRows, dropped);
  return 0;
}
