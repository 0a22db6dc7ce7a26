// A list of files converted beside themselves by several threads, with the outcome of one
// thread: without keep-going, the first file that fails in list order ends the run, every file
// before it is written and nothing is written for any file after it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FileIOTools.h"
#include "TavrinFunctions.h"

namespace tavrin::cli {

class BatchRun {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Parked outputs hold three open files each (the input, its folder, the new file).
  static constexpr std::size_t kMostParked = 32;

  // spareThreads: threads beyond the workers that big files may use for their reading and
  // writing; a worker that finds nothing left to claim adds its own. Beyond mostParked parked
  // outputs a worker waits its turn instead.
  BatchRun(const std::vector<std::string>& files, bool keepGoing, unsigned spareThreads = 0,
           std::size_t mostParked = kMostParked);

  // One worker: claims files in list order and converts them with its own converter (a
  // converter keeps working buffers and serves one thread only). Returns when nothing is left.
  void Work(TableConverter& converter);

  // Called once per worker that will call Work, before any does.
  void AddWorker();
  // Waits until every worker has returned or the timeout passes; true when all have returned.
  bool WaitFinished(std::chrono::milliseconds timeout);

  // Settled files (written or failed), and the bytes read and written for the written ones.
  std::size_t Done() const { return done_.load(std::memory_order_relaxed); }
  std::size_t BytesIn() const { return bytesIn_.load(std::memory_order_relaxed); }
  std::size_t BytesOut() const { return bytesOut_.load(std::memory_order_relaxed); }
  std::size_t Written() const { return written_.load(std::memory_order_relaxed); }

  // After the run: the failures to report, in list order (only the first without keep-going).
  std::vector<std::pair<std::size_t, std::string>> Failures() const;

 private:
  struct Cancelled {};

  bool MayClaim() const;
  // Blocks until file i may read its input: the earlier files that may read or write it are done.
  void WaitForInput(std::size_t i, std::unique_lock<std::mutex>& lock);
  // Without keep-going: gives file i its output once every earlier file is written. A worker
  // that gets there first leaves its output parked for whoever writes the file before it, and
  // goes on with the next file instead of waiting.
  void CommitInOrder(std::size_t i, PendingOutput output);
  void Settle(std::size_t i, bool cancelled, std::string failure, std::size_t in, std::size_t out);
  // With the lock held: records a file's failure; returns the parked outputs it cancels.
  std::vector<PendingOutput> Fail(std::size_t i, std::string failure);

  const std::vector<std::string>& files_;
  const bool keepGoing_;
  const std::size_t mostParked_;
  // For each file the latest earlier files that may read the same input, write it as their
  // output (name + ".txt"), or read its output; kNone where there is none.
  std::vector<std::array<std::size_t, 3>> sources_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable finished_;  // apart, so that the waiting main thread is woken once
  std::size_t next_ = 0;              // the next file to claim
  std::size_t committed_ = 0;         // without keep-going: files [0, committed_) are written
  bool committing_ = false;           // a worker is writing files committed_ and on
  std::map<std::size_t, PendingOutput> parked_;
  std::vector<bool> settled_;  // with keep-going: which files are done
  std::size_t firstFailure_ = kNone;
  std::vector<std::pair<std::size_t, std::string>> failures_;
  unsigned workers_ = 0;
  ThreadBudget spare_;

  std::atomic<std::size_t> done_{0}, written_{0}, bytesIn_{0}, bytesOut_{0};
};

}  // namespace tavrin::cli
