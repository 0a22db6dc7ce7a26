#include "BatchRun.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "FileIOTools.h"

namespace tavrin::cli {

namespace {

// What two names of one file always share whichever way a list spells them (relative or
// absolute, through a linked folder, in another letter case where the file system ignores it):
// the last part, here with ASCII letters in one case. Names with equal keys may still be two
// files; those are merely taken one after the other.
std::string NameKey(const std::string& name) {
#ifdef _WIN32
  const std::size_t slash = name.find_last_of("\\/:");
#else
  const std::size_t slash = name.rfind('/');
#endif
  std::string key = slash == std::string::npos ? name : name.substr(slash + 1);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

}  // namespace

BatchRun::BatchRun(const std::vector<std::string>& files, bool keepGoing)
    : files_(files), keepGoing_(keepGoing), sources_(files.size()) {
  if (keepGoing_) settled_.assign(files.size(), false);
  // A file that may be the input or the output of an earlier file of the list (a.html, then
  // a.html.txt, a.html again, or a.html.txt then a.html) waits for it, as one thread would: it
  // reads what that file wrote, never replaces what it is still to read, and never holds the
  // same file at the same time (on Windows a file opened without sharing cannot be opened twice).
  std::unordered_map<std::string, std::size_t> latestInput, latestOutput;
  auto latest = [](const auto& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? kNone : found->second;
  };
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const std::string key = NameKey(files_[i]);
    std::string output = key + ".txt";
    sources_[i] = {latest(latestInput, key), latest(latestOutput, key),
                   latest(latestInput, output)};
    latestInput[key] = i;
    latestOutput[std::move(output)] = i;
  }
}

void BatchRun::AddWorker() {
  std::lock_guard lock(mutex_);
  ++workers_;
}

bool BatchRun::WaitFinished(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return workers_ == 0; });
}

bool BatchRun::MayClaim() const {
  if (next_ >= files_.size()) return false;
  // Without keep-going nothing after a failed file is started.
  return keepGoing_ || firstFailure_ == kNone || next_ < firstFailure_;
}

void BatchRun::WaitForInput(std::size_t i, std::unique_lock<std::mutex>& lock) {
  for (const std::size_t source : sources_[i]) {
    if (source == kNone) continue;
    if (keepGoing_) {
      changed_.wait(lock, [&] { return settled_[source]; });
    } else {
      changed_.wait(lock, [&] { return committed_ > source || firstFailure_ < i; });
      if (committed_ <= source) throw Cancelled{};
    }
  }
}

void BatchRun::WaitForTurn(std::size_t i) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return committed_ == i || firstFailure_ < i; });
  if (committed_ != i) throw Cancelled{};
}

void BatchRun::Work(TableConverter& converter) {
  for (;;) {
    std::size_t i = 0;
    {
      std::lock_guard lock(mutex_);
      if (!MayClaim()) break;
      i = next_++;
    }
    const std::string& file = files_[i];
    std::size_t in = 0, out = 0;
    bool cancelled = false;
    std::string failure;
    try {
      {
        std::unique_lock lock(mutex_);
        WaitForInput(i, lock);
      }
      // The new output waits, complete but not yet in its name, until every earlier file is
      // written: then it is certain that a run of one thread would have got this far.
      const ConvertedSizes sizes = ConvertFileBeside(file, converter, [&] {
        if (!keepGoing_) WaitForTurn(i);
      });
      in = sizes.in;
      out = sizes.out;
    } catch (const Cancelled&) {
      cancelled = true;
    } catch (const Exception& e) {
      failure = e.Message();
    } catch (const std::bad_alloc&) {
      // A text that outgrows memory while it is converted fails like any other file.
      failure = "メモリが不足しています (" + file + ")";
    }
    Settle(i, cancelled, std::move(failure), in, out);
  }
  std::lock_guard lock(mutex_);
  --workers_;
  changed_.notify_all();
}

void BatchRun::Settle(std::size_t i, bool cancelled, std::string failure, std::size_t in,
                      std::size_t out) {
  std::lock_guard lock(mutex_);
  if (!cancelled) {
    if (!failure.empty()) {
      failures_.emplace_back(i, std::move(failure));
      firstFailure_ = std::min(firstFailure_, i);
    } else {
      if (!keepGoing_) committed_ = i + 1;
      written_.fetch_add(1, std::memory_order_relaxed);
      bytesIn_.fetch_add(in, std::memory_order_relaxed);
      bytesOut_.fetch_add(out, std::memory_order_relaxed);
    }
    done_.fetch_add(1, std::memory_order_relaxed);
  }
  if (keepGoing_) settled_[i] = true;
  changed_.notify_all();
}

std::vector<std::pair<std::size_t, std::string>> BatchRun::Failures() const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::size_t, std::string>> failures = failures_;
  std::sort(failures.begin(), failures.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // Files after the first failure were only tried ahead; a run of one thread would not have
  // reached them.
  if (!keepGoing_ && failures.size() > 1) failures.resize(1);
  return failures;
}

}  // namespace tavrin::cli
