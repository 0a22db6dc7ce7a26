// A list of files converted beside themselves by several threads, with the outcome of one
// thread: without keep-going, the first file that fails in list order ends the run, every file
// before it is written and nothing is written for any file after it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FileIOTools.h"
#include "TavrinFunctions.h"

namespace tavrin {

// A failure as the command reports it: the core's fixed text, with a file's name shown by the one
// rule for names (ShownPath), so that a name holding a NUL, a line break or bytes that do not
// decode reads whole, on one line.
std::string FailureMessage(const Exception& error);
// What is said of a file or list that outgrows memory.
std::string OutOfMemoryMessage(const std::string& name);

// The processors this process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// For each file of a list, the earlier files it must wait for, as one thread would have done them
// before it: those that may read or write a file that it reads or writes (the same input under
// any name, an input that is another file's output, an output that is another file's input).
// Files are told apart by what they are (device and inode) where they exist and by their folder
// and name where they do not yet; equal names in different folders are different files.
// threads: how many threads may look at the files.
std::vector<std::vector<std::size_t>> FilesWaitedFor(const std::vector<std::string>& files,
                                                     unsigned threads = 1);

class BatchRun {
 public:
  // A file that failed, with its message and, in a run that stops at it, the error itself.
  struct Failure {
    std::size_t file;
    std::string message;
    std::exception_ptr error;
  };

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Parked outputs hold three open files each (the input, its folder, the new file).
  static constexpr std::size_t kMostParked = 32;

  // spareThreads: threads beyond the workers that big files may use for their reading and
  // writing; a worker that finds nothing left to claim adds its own. Beyond mostParked parked
  // outputs a worker waits its turn instead.
  // lookupThreads: threads that may look at the files before the run starts (the workers'
  // number).
  BatchRun(const std::vector<std::string>& files, bool keepGoing, unsigned spareThreads = 0,
           std::size_t mostParked = kMostParked, unsigned lookupThreads = 1);

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
  // Files [0, count) are settled and, without keep-going, written: a caller going through them in
  // list order needs no lock and no wait for them.
  std::size_t SettledInOrder() const { return committed_.load(std::memory_order_acquire); }

  // Once, after the run: the failures to report, in list order (only the first without
  // keep-going).
  std::vector<Failure> Failures();

  // For a caller that shows the files one by one in list order, as one thread would go through
  // them. Called before any worker starts: a file for which held says so, told its name and the
  // size it has when its worker is about to open it (a long one), is not opened before Release
  // has let it go.
  void HoldFilesUntilReleased(std::function<bool(const std::string&, std::uint64_t)> held);
  // Files [0, count) may be read now.
  void Release(std::size_t count);
  enum class Wait { kSettled, kHeld, kTimedOut };
  // Waits up to timeout for file i to be written or to fail (kSettled), or to be held waiting
  // for Release (kHeld). A settled file is reported once the `ahead` files after it have
  // settled too, or as many of them as can before a failure or a held file stops them: a caller
  // that goes through the files one by one is woken once for many files, not for each. Without
  // keep-going, error holds the exception a settled file's failure raised (null when it was
  // written); a file after the first failure is never settled.
  Wait WaitSettled(std::size_t i, std::size_t ahead, std::chrono::milliseconds timeout,
                   std::exception_ptr& error);
  // Nothing more is started or written, as after a failure before every file still to come.
  void Cancel();

 private:
  // A file taken by a worker, and the run's generation then: a file taken before the run went
  // back to an earlier file is taken again later.
  struct Claim {
    std::size_t file;
    unsigned generation;
  };
  enum class Turn { kGo, kWait, kAgain, kCancelled };
  struct Outcome {
    std::string failure;     // empty when the step succeeded
    bool resources = false;  // it failed for want of room or memory, which others may hold
    std::exception_ptr error;
  };
  // A converted file waiting for its turn: its complete new output, or its failure.
  struct Settled {
    std::optional<PendingOutput> output;
    std::string failure;
    std::exception_ptr error;
  };

  // Runs one step of a file; tells how it failed, if it did.
  template <typename Step>
  Outcome Attempt(const std::string& file, Step&& step) const;
  template <typename Step>
  Outcome AttemptStep(const std::string& file, Step& step) const;

  bool MayClaim() const;
  // Whether the claimed file may start now, must wait, is to be taken again later, or is beyond
  // the first failure (which a run of one thread would not have reached).
  Turn TurnOf(const Claim& claim) const;
  bool Stale(const Claim& claim) const;
  // Settles files in list order: gives the claimed file its output (or records its failure) once
  // every earlier file is settled. A worker that gets there first leaves it parked for whoever
  // settles the file before it, and goes on with the next file instead of waiting.
  // A file tried ahead of its turn that failed, or whose input changed meanwhile, is converted
  // again with converter when its turn comes.
  // atTurn: every earlier file was settled when this one was read.
  void CommitInOrder(const Claim& claim, bool alone, bool atTurn, Settled settled,
                     TableConverter& converter, std::unique_lock<std::mutex>& lock);
  // For a file that failed for want of room or memory while others ran beside it: the run goes
  // back to it and takes one file at a time from there, as one thread, the parked outputs of
  // later files given up and the files claimed after it claimed again.
  void GoBack(std::size_t i, std::unique_lock<std::mutex>& lock);
  void Succeeded(std::size_t i, const ConvertedSizes& sizes);
  // With the lock held: records a file's failure; returns the parked outputs it cancels.
  std::vector<Settled> Fail(std::size_t i, std::string failure, std::exception_ptr error);
  // With the lock held: waits while a held file has not been released, or until its claim is
  // given up.
  void WaitReleased(const Claim& claim, std::unique_lock<std::mutex>& lock);
  // File i is written, or failed with every file before it settled.
  bool SettledNow(std::size_t i) const;
  // With the lock held: whether the caller waiting in WaitSettled has something to see.
  bool WatchedReady() const;
  bool HeldNow(std::size_t i) const;
  void NotifyWatcher();
  bool Ended(std::size_t i) const;
  // Lets go of new files and inputs outside the lock.
  void Drop(std::vector<Settled> settled, std::unique_lock<std::mutex>& lock);
  void Drop(Settled settled, std::unique_lock<std::mutex>& lock);
  // A worker's file is parked, settled or given up.
  void Idle();

  const std::vector<std::string>& files_;
  const bool keepGoing_;
  const std::size_t mostParked_;
  std::vector<std::vector<std::size_t>> sources_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable finished_;  // apart, so that the waiting main thread is woken once
  std::size_t next_ = 0;              // the next file to claim
  // Files [0, committed_) are settled; written under the lock, read without it by
  // SettledInOrder.
  std::atomic<std::size_t> committed_{0};
  bool committing_ = false;  // a worker is settling files committed_ and on
  std::map<std::size_t, Settled> parked_;
  std::size_t firstFailure_ = kNone;
  std::vector<Failure> failures_;
  std::function<bool(const std::string&, std::uint64_t)> held_;
  std::size_t released_ = 0;
  bool cancelled_ = false;
  std::condition_variable settled_;  // for the caller waiting for one file in WaitSettled
  std::size_t watched_ = kNone;
  std::size_t watchedUntil_ = kNone;  // the last of the files it would see settled as well
  bool watcherWoken_ = false;
  std::multiset<std::size_t> heldWaiting_;  // held files whose workers wait for Release
  unsigned workers_ = 0;
  ThreadBudget spare_;
  // One file at a time from here on: a file failed in a way that others beside it may have
  // caused.
  bool alone_ = false;
  std::size_t busy_ = 0;  // files converting or being settled
  unsigned generation_ = 0;
  std::size_t goneBackTo_ = kNone;  // the earliest file the run went back to

  std::atomic<std::size_t> done_{0}, written_{0}, bytesIn_{0}, bytesOut_{0};
};

}  // namespace tavrin
