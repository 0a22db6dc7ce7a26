#include "BatchRun.h"

#include <algorithm>
#include <new>
#include <optional>
#include <unordered_map>

#include "FileIOTools.h"

#ifndef _WIN32
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// A name that is a symbolic link stands for the file it leads to, whose last part may differ
// (a.html, then link.html leading to a.html.txt): its key is that of the file at the end of the
// links, which need not exist yet. One look at every name; links are rare and followed here.
std::string FileKey(const std::string& name) {
#ifndef _WIN32
  if (name.find('\0') != std::string::npos) return NameKey(name);
  std::string path = name;
  struct stat st;
  // As many links as the system follows on the way to a file.
  for (int hop = 0; hop < 40 && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hop) {
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= target.size()) break;
    target.resize(static_cast<std::size_t>(got));
    const std::size_t slash = path.rfind('/');
    path = target[0] == '/' || slash == std::string::npos ? target
                                                          : path.substr(0, slash + 1) + target;
  }
  return NameKey(path);
#else
  return NameKey(name);
#endif
}

}  // namespace

BatchRun::BatchRun(const std::vector<std::string>& files, bool keepGoing, unsigned spareThreads,
                   std::size_t mostParked)
    : files_(files),
      keepGoing_(keepGoing),
      mostParked_(mostParked),
      sources_(files.size()),
      spare_(spareThreads) {
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
    // The input is what a link leads to; the output goes beside the name as given.
    const std::string key = FileKey(files_[i]);
    std::string output = NameKey(files_[i]) + ".txt";
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
  return finished_.wait_for(lock, timeout, [this] { return workers_ == 0; });
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

namespace {

// Runs one step of a file; returns its failure message, empty when it succeeded.
template <typename Step>
std::string Attempt(const std::string& file, Step&& step) {
  try {
    step();
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    // A text that outgrows memory while it is converted fails like any other file.
    return "メモリが不足しています (" + file + ")";
  }
  return {};
}

}  // namespace

void BatchRun::Work(TableConverter& converter) {
  for (;;) {
    std::size_t i = 0;
    bool cancelled = false;
    {
      std::unique_lock lock(mutex_);
      if (!MayClaim()) break;
      i = next_++;
      try {
        WaitForInput(i, lock);
      } catch (const Cancelled&) {
        cancelled = true;
      }
    }
    if (cancelled) {
      Settle(i, true, {}, 0, 0);
      continue;
    }
    const std::string& file = files_[i];
    std::optional<PendingOutput> output;
    std::string failure =
        Attempt(file, [&] { output.emplace(ConvertFileAside(file, converter, &spare_)); });
    if (output && !keepGoing_) {
      CommitInOrder(i, std::move(*output));
      continue;
    }
    if (output) failure = Attempt(file, [&] { output->Commit(); });
    const ConvertedSizes sizes = output ? output->Sizes() : ConvertedSizes{};
    output.reset();
    Settle(i, false, std::move(failure), sizes.in, sizes.out);
  }
  // What this worker leaves, a big file still converting may use.
  spare_.Give();
  std::lock_guard lock(mutex_);
  --workers_;
  finished_.notify_all();
}

void BatchRun::CommitInOrder(std::size_t i, PendingOutput output) {
  std::vector<PendingOutput> dropped;
  std::unique_lock lock(mutex_);
  for (;;) {
    // A run of one thread would not have got this far.
    if (firstFailure_ < i) {
      lock.unlock();
      return;
    }
    if (committed_ == i && !committing_) break;
    if (parked_.size() < mostParked_) {
      parked_.emplace(i, std::move(output));
      return;
    }
    changed_.wait(lock);
  }
  committing_ = true;
  std::optional<PendingOutput> next(std::move(output));
  for (std::size_t at = i; next; ++at) {
    lock.unlock();
    const std::string failure = Attempt(files_[at], [&] { next->Commit(); });
    const ConvertedSizes sizes = next->Sizes();
    next.reset();
    lock.lock();
    if (!failure.empty()) {
      dropped = Fail(at, failure);
      break;
    }
    committed_ = at + 1;
    written_.fetch_add(1, std::memory_order_relaxed);
    bytesIn_.fetch_add(sizes.in, std::memory_order_relaxed);
    bytesOut_.fetch_add(sizes.out, std::memory_order_relaxed);
    done_.fetch_add(1, std::memory_order_relaxed);
    const auto parked = parked_.find(at + 1);
    if (parked != parked_.end()) {
      next.emplace(std::move(parked->second));
      parked_.erase(parked);
    }
  }
  committing_ = false;
  lock.unlock();
  changed_.notify_all();
}

std::vector<PendingOutput> BatchRun::Fail(std::size_t i, std::string failure) {
  failures_.emplace_back(i, std::move(failure));
  firstFailure_ = std::min(firstFailure_, i);
  done_.fetch_add(1, std::memory_order_relaxed);
  std::vector<PendingOutput> dropped;
  for (auto at = parked_.upper_bound(firstFailure_); at != parked_.end();) {
    dropped.push_back(std::move(at->second));
    at = parked_.erase(at);
  }
  return dropped;
}

void BatchRun::Settle(std::size_t i, bool cancelled, std::string failure, std::size_t in,
                      std::size_t out) {
  std::vector<PendingOutput> dropped;
  {
    std::lock_guard lock(mutex_);
    if (!cancelled) {
      if (!failure.empty()) {
        dropped = Fail(i, std::move(failure));
      } else {
        written_.fetch_add(1, std::memory_order_relaxed);
        bytesIn_.fetch_add(in, std::memory_order_relaxed);
        bytesOut_.fetch_add(out, std::memory_order_relaxed);
        done_.fetch_add(1, std::memory_order_relaxed);
      }
    }
    if (keepGoing_) settled_[i] = true;
  }
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
