#include "BatchRun.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <unordered_map>

#include "FileIOTools.h"

namespace tavrin::cli {

namespace {

// A name in a form where two spellings of one path ("a/./b", "a/b") compare equal.
std::string PathKey(const std::string& name) {
  try {
    return std::filesystem::path(name).lexically_normal().string();
  } catch (const std::exception&) {
    return name;  // a name the system cannot convert is compared as it stands
  }
}

}  // namespace

BatchRun::BatchRun(const std::vector<std::string>& files, bool keepGoing)
    : files_(files), keepGoing_(keepGoing), source_(files.size(), kNone) {
  if (keepGoing_) settled_.assign(files.size(), false);
  // An input that an earlier file of the list writes (a.html, then a.html.txt) must be read
  // after that write, as one thread would.
  std::unordered_map<std::string, std::size_t> latest;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    std::string key = PathKey(files_[i]);
    if (key.size() > 4 && key.ends_with(".txt")) {
      const auto found = latest.find(key.substr(0, key.size() - 4));
      if (found != latest.end()) source_[i] = found->second;
    }
    latest[std::move(key)] = i;
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
  const std::size_t source = source_[i];
  if (source == kNone) return;
  if (keepGoing_) {
    changed_.wait(lock, [&] { return settled_[source]; });
  } else {
    changed_.wait(lock, [&] { return committed_ > source || firstFailure_ < i; });
    if (committed_ <= source) throw Cancelled{};
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
