#include "WindowBehaviour.h"

#include <algorithm>
#include <thread>

#include "BatchRun.h"
#include "EntityTable.h"
#include "ErrorRule.h"
#include "FileIOTools.h"
#include "Modules.h"
#include "ShownText.h"
#include "Texts.h"

namespace tavrin {

namespace {

// Whatever happens in the middle of a command, its closing step runs on the way out.
template <typename Step>
class Finally {
 public:
  explicit Finally(Step step) : step_(std::move(step)) {}
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;
  ~Finally() { step_(); }

 private:
  Step step_;
};

// The worker threads of one batch run: on every way out of the run, nothing more is started or
// written, and every thread has ended before the run's closing steps.
class RunWorkers {
 public:
  explicit RunWorkers(BatchRun& run) : run_(run) {}
  RunWorkers(const RunWorkers&) = delete;
  RunWorkers& operator=(const RunWorkers&) = delete;
  ~RunWorkers() {
    run_.Cancel();
    for (std::thread& thread : threads_) thread.join();
  }

  // The converter serves this worker alone and outlives it. False when no thread could start.
  bool Start(TableConverter& converter) {
    run_.AddWorker();
    try {
      threads_.emplace_back(&BatchRun::Work, &run_, std::ref(converter));
    } catch (const std::system_error&) {
      if (threads_.empty()) throw;  // the run cannot work at all: its error box says why
      return false;
    }
    return true;
  }

 private:
  BatchRun& run_;
  std::vector<std::thread> threads_;
};

}  // namespace

WindowBehaviour::WindowBehaviour(WindowView& view, DesktopServices& services, unsigned workers)
    : view_(view), services_(services), workers_(workers > 0 ? workers : UsableProcessors()) {}

WindowBehaviour::~WindowBehaviour() = default;

void WindowBehaviour::Handle(std::function<void()> handler) {
  // A batch run holds the window, and so does the box of the error that ended a command:
  // whatever arrives meanwhile (a drop, a close) waits for them, in the order it came.
  if (running_ || showingError_) {
    waiting_.push_back(std::move(handler));
    return;
  }
  try {
    handler();
  } catch (const std::exception& error) {
    showingError_ = true;
    const Finally shown([this] { showingError_ = false; });
    ShowError(services_, error);
  }
  while (!running_ && !showingError_ && !waiting_.empty()) {
    std::function<void()> next = std::move(waiting_.front());
    waiting_.pop_front();
    Handle(std::move(next));
  }
}

// ---- creation and the table ----

void WindowBehaviour::FormCreate() {
  CEntityLoad();
}

void WindowBehaviour::CEntityLoad() {
  CEntityTable = LoadEntityTable(kEntityTableFileName);
  converter_.reset();
  preparedTable_.reset();
}

TableConverter& WindowBehaviour::Converter() {
  // Preparing the table's search costs more than converting a small page, so it is done once
  // per table (and again should the code page change).
  if (!converter_ || !(converterLeadBytes_ == CurrentLeadByteSet())) {
    converterLeadBytes_ = CurrentLeadByteSet();
    preparedTable_ = PrepareTable(CEntityTable, converterLeadBytes_);
    converter_ = std::make_unique<TableConverter>(preparedTable_);
  }
  return *converter_;
}

std::string WindowBehaviour::TavrinWithCEntity(std::string text) {
  return Converter().Convert(std::move(text));
}

std::string WindowBehaviour::EntityTableText() const {
  std::string text = ShownText(Join(JoinEach(CEntityTable, ' '), '\r'));
  // Each CR, and each CR LF that a field stands for, ends one shown line.
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r') {
      lines.push_back('\n');
      if (at + 1 < text.size() && text[at + 1] == '\n') ++at;
    } else {
      lines.push_back(text[at]);
    }
  }
  return lines;
}

void WindowBehaviour::tmiEditCEntityClick() {
  CEntityLoad();
  services_.MessageBox(view_.Handle(), EntityTableText(), texts::kTableCaption, mb::kOk);
}

void WindowBehaviour::tmiHelpVersionClick() {
  view_.ShowAboutBox();
}

void WindowBehaviour::tmiFileCloseClick() {
  view_.CloseWindow();
}

// ---- the file list ----

void WindowBehaviour::DropFiles(const std::vector<std::string>& paths) {
  const std::size_t first = rows_.size();
  try {
    for (const std::string& path : paths) AppendRow(path);
  } catch (...) {
    ShowRowsFrom(first);
    throw;
  }
  ShowRowsFrom(first);
}

void WindowBehaviour::AddResultList(std::string path) {
  const std::size_t first = rows_.size();
  AppendRow(std::move(path));
  ShowRowsFrom(first);
}

void WindowBehaviour::AppendRow(std::string path) {
  // No system call ever sees a name holding a NUL: the row stands for the name before it.
  path.resize(std::min(path.size(), path.find('\0')));
  if (services_.GetFileAttributes(path) & kFileAttributeDirectory) return;
  rows_.emplace_back(std::move(path));
}

void WindowBehaviour::ShowRowsFrom(std::size_t first) {
  if (first < rows_.size()) view_.RowsAppended(std::span<const FileListItem>(rows_).subspan(first));
}

void WindowBehaviour::tmiEditListClearClick() {
  // The rows kept close up in one pass, and the face drops the others in one step: removing
  // them one at a time would move every row after each.
  const std::vector<int> selected = view_.SelectedRows();
  if (selected.empty()) return;
  std::size_t kept = 0;
  auto next = selected.begin();
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (next != selected.end() && static_cast<std::size_t>(*next) == row) {
      ++next;
      continue;
    }
    if (kept != row) rows_[kept] = std::move(rows_[row]);
    ++kept;
  }
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(kept), rows_.end());
  view_.RowsRemoved(selected);
}

void WindowBehaviour::tmiEditListAllClearClick() {
  RemoveAllRows();
}

void WindowBehaviour::RemoveAllRows() {
  rows_.clear();
  view_.RowsCleared();
}

void WindowBehaviour::SetRowState(int row, RowState state) {
  rows_[static_cast<std::size_t>(row)].SetState(state);
  view_.RowChanged(row, rows_[static_cast<std::size_t>(row)]);
}

int WindowBehaviour::FirstSelectedRow() const {
  const std::vector<int> selected = view_.SelectedRows();
  return selected.empty() ? -1 : selected.front();
}

// ---- the batch run ----

void WindowBehaviour::tmiFileRunClick() {
  running_ = true;
  view_.SetStatusText(texts::kRunStarted);
  int current = -1;
  const Finally finish([&] {
    running_ = false;
    // The list ends scrolled to the last row worked on, wherever painting left it.
    if (current >= 0) view_.ScrollToRow(current);
    view_.SetStatusText(texts::kRunEnded);
  });

  const int count = static_cast<int>(rows_.size());
  if (count == 0) return;
  // Workers convert ahead while the rows are shown one by one in list order, as one thread
  // would go through them: each row waits for its own file, and the first failure in list
  // order ends the run with nothing written for it or any row after it.
  std::vector<std::string> paths;
  paths.reserve(rows_.size());
  for (const FileListItem& item : rows_) paths.push_back(item.path);
  const unsigned workers = std::min(workers_, static_cast<unsigned>(count));
  BatchRun run(paths, false, 0, BatchRun::kMostParked, workers);
  // A long file is read only once its row shows it converting: the worker that claims it asks
  // and waits, so the rows go by without a look at their files here.
  run.HoldFilesUntilReleased(
      [](const std::string&, std::uint64_t size) { return size >= kLongFileBytes; });
  // Each worker converts with a converter of its own around the table prepared as it is now.
  std::vector<std::unique_ptr<TableConverter>> converters;
  TableConverter& first = Converter();
  while (converters.size() + 1 < workers) {
    converters.push_back(std::make_unique<TableConverter>(preparedTable_));
  }
  RunWorkers threads(run);
  if (threads.Start(first)) {
    for (auto& converter : converters) {
      if (!threads.Start(*converter)) break;
    }
  }

  using Clock = std::chrono::steady_clock;
  Clock::time_point lastPaint{};
  Clock::duration paintGap = kRepaintInterval;
  bool painted = false;
  auto paint = [&](int row) {
    const Clock::time_point start = Clock::now();
    view_.PaintNow(row);
    lastPaint = Clock::now();
    // A paint can cost more than the interval: a list whose selection is in thousands of
    // pieces is slow to draw. Then it paints less often, and painting stays a small part of
    // the run however the list looks.
    paintGap = std::max<Clock::duration>(kRepaintInterval, (lastPaint - start) * kPaintShare);
    painted = true;
  };
  for (int row = 0; row < count; ++row) {
    const auto file = static_cast<std::size_t>(row);
    current = row;
    view_.SetRowSelected(row, true);
    SetRowState(row, RowState::kConverting);
    // Scrolling and painting for every row of a long batch would cost more than converting a
    // small file, and nobody could see it.
    if (!painted || Clock::now() - lastPaint >= paintGap) paint(row);
    // While the row's file is still converting, the window keeps painting (user input waits).
    // Rows whose files are written already go by without a lock; caught up with the workers, it
    // waits for many files at a time, not for each.
    std::exception_ptr error;
    while (file >= run.SettledInOrder()) {
      const auto untilPaint =
          std::chrono::ceil<std::chrono::milliseconds>(lastPaint + paintGap - Clock::now());
      const BatchRun::Wait wait = run.WaitSettled(
          file, kRowsPerWake, std::max(untilPaint, std::chrono::milliseconds(0)), error);
      if (wait == BatchRun::Wait::kSettled) break;
      paint(row);
      // A long file waits to be read until its row has been painted started.
      if (wait == BatchRun::Wait::kHeld) run.Release(file + 1);
    }
    if (error) std::rethrow_exception(error);
    SetRowState(row, RowState::kConverted);
    view_.SetRowSelected(row, false);
  }
}

// ---- the preview ----

void WindowBehaviour::ttsViewEnter() {
  ++viewEnters_;
  const int first = FirstSelectedRow();
  if (first < 0) {
    view_.SetPreview({}, {});
    return;
  }
  const FileListItem& item = rows_[static_cast<std::size_t>(first)];
  std::string output = TavrinWithCEntity(ReadFileToString(item.path));
  // The memo takes its text up to the first NUL, as the run still writes every byte.
  output.resize(std::min(output.size(), output.find('\0')));
  view_.SetPreview(item.shownPath, ShownLines(ShownText(output)));
}

void WindowBehaviour::lvwResultDblClick() {
  const int before = viewEnters_;
  view_.ShowPage(Page::kView);
  // The focus moving into the page rebuilds the preview; where the face could not move it (the
  // window is not active), it is rebuilt all the same.
  if (viewEnters_ == before) ttsViewEnter();
}

void WindowBehaviour::tmeViewDblClick() {
  view_.ShowPage(Page::kList);
}

// ---- desktop commands ----

void WindowBehaviour::tmiEditListIsRecycledClick() {
  // Only Yes deletes. A box can also end without an answer (0 when the window is closed under
  // it, or when it could not be shown at all), and that is no consent.
  if (services_.MessageBox(view_.Handle(), texts::kDeleteQuestion, texts::kDeleteCaption,
                           mb::kYesNo) != kIdYes) {
    return;
  }
  view_.SetStatusText(texts::kDeleteStarted);
  const Finally finish([this] { view_.SetStatusText(texts::kDeleteEnded); });
  std::string list;
  for (const FileListItem& item : rows_) {
    list.append(item.path, 0, item.path.find('\0'));
    list.push_back('\0');
  }
  if (!list.empty()) {
    MoveFilesToRecycleBin(services_, view_.Handle(), list);
    RemoveAllRows();
  }
}

void WindowBehaviour::tmiFileFindFileClick() {
  const std::string folder = BrowseForFolder(services_, view_.Handle(), texts::kFolderPrompt);
  if (!folder.empty()) services_.OpenSearchWindow(view_.Handle(), folder);
}

}  // namespace tavrin
