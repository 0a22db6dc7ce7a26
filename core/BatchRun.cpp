#include "BatchRun.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "FileIOTools.h"
#include "ShownText.h"
#include "platform/FileIOPlatform.h"

#ifndef _WIN32
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tavrin {

std::string FailureMessage(const Exception& error) {
  const auto* fileError = dynamic_cast<const EFileError*>(&error);
  if (fileError == nullptr) return error.Message();
  std::string message = fileError->Format();
  if (const std::size_t at = message.find("%s"); at != std::string::npos) {
    message.replace(at, 2, ShownPath(fileError->FileName()));
  }
  return message;
}

std::string OutOfMemoryMessage(const std::string& name) {
  return "メモリが不足しています (" + ShownPath(name) + ")";
}

namespace {

// ASCII letters in one case: names that differ only there may be one file where the file system
// ignores case. Two such names of different files are merely taken one after the other.
std::string FoldedCase(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// A file is known by a hash of what tells it apart: two files whose hashes meet by chance are
// merely taken one after the other, and a long list takes little memory.
using FileKey = std::size_t;
// What a file reads and what it writes.
using FileKeyPair = std::array<FileKey, 2>;

FileKey KeyOf(std::string_view kind, std::string_view what) {
  std::string text(kind);
  text.append(what);
  return std::hash<std::string>()(text);
}

#ifdef _WIN32
// Short names, case, links and junctions give one file many spellings here, and the system has
// no cheap answer to which file a missing name will be: names are told apart by their last part
// alone, which every spelling of a file shares. Equal last parts wait for each other.
std::optional<FileKeyPair> KeysOf(const std::string& name) {
  const std::size_t slash = name.find_last_of("\\/:");
  const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  return FileKeyPair{KeyOf("n", FoldedCase(last)), KeyOf("n", FoldedCase(last + ".txt"))};
}
#else
// A file that exists is known by its device and inode, whatever its name; one that does not, by
// the place where it may come to be: its folder as the system resolves it, and its last part.
class FileKeys {
 public:
  // The keys of the file a name reads (links followed) and of the file it writes (its name plus
  // ".txt", no link followed).
  std::optional<FileKeyPair> Of(const std::string& name) {
    if (name.find('\0') != std::string::npos) return std::nullopt;  // no file has such a name
    struct stat st;
    bool found = false;
    const std::string input = FollowLinks(name, st, found);
    const FileKey read = found ? IdentityOf(st) : PlaceOf(input);
    const std::string output = name + ".txt";
    return FileKeyPair{read, ::lstat(output.c_str(), &st) == 0 ? IdentityOf(st) : PlaceOf(output)};
  }

 private:
  // Told from the place keys by its own mix: a list is looked at before every run, so no text is
  // made for it.
  static FileKey IdentityOf(const struct stat& st) {
    const std::hash<std::uint64_t> hash;
    return hash(static_cast<std::uint64_t>(st.st_dev) * 0x9E3779B97F4A7C15ull) ^
           hash(static_cast<std::uint64_t>(st.st_ino) + 0x632BE59BD9B4E019ull);
  }

  // The name at the end of the links from `name`, which need not exist; found tells whether st
  // holds what is there (not a link).
  static std::string FollowLinks(std::string path, struct stat& st, bool& found) {
    found = false;
    // As many links as the system follows on the way to a file.
    for (int hop = 0; hop < 40; ++hop) {
      if (::lstat(path.c_str(), &st) != 0) return path;
      if (!S_ISLNK(st.st_mode)) {
        found = true;
        return path;
      }
      std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                         '\0');
      const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
      if (got <= 0 || static_cast<std::size_t>(got) >= target.size()) break;
      target.resize(static_cast<std::size_t>(got));
      const std::size_t slash = path.rfind('/');
      path = target[0] == '/' || slash == std::string::npos ? target
                                                            : path.substr(0, slash + 1) + target;
    }
    // Too many links, or one that cannot be read: the file is the last name reached, if any.
    found = ::lstat(path.c_str(), &st) == 0;
    return path;
  }

  // The folder as the system resolves it (linked folders, "..", relative names), and the last
  // part.
  FileKey PlaceOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : name.substr(0, slash);
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    auto [at, added] = folders_.try_emplace(folder);
    if (added) {
      // A folder that cannot be resolved holds no file to read and takes none to write.
      char* resolved = ::realpath(folder.c_str(), nullptr);
      at->second = resolved != nullptr ? resolved : folder;
      std::free(resolved);
    }
    return KeyOf("p", at->second + "/" + FoldedCase(last));
  }

  std::unordered_map<std::string, std::string> folders_;  // lists hold many files per folder
};
#endif

}  // namespace

std::vector<std::vector<std::size_t>> FilesWaitedFor(const std::vector<std::string>& files,
                                                     unsigned threads) {
  // The keys cost a look at the disk or two per file, and the run waits for them before it
  // starts: long lists are looked at in as many pieces as threads, each with its own cache of
  // folders. Only then are the keys matched, in list order.
  // Kept flat: a list of a million names keeps them all until they are matched. Empty for a name
  // no file has.
  std::vector<std::optional<FileKeyPair>> keys(files.size());
  constexpr std::size_t kFewestPerThread = 256;
  const std::size_t pieces =
      std::clamp<std::size_t>(files.size() / kFewestPerThread, 1, std::max(threads, 1u));
  const std::size_t perPiece = (files.size() + pieces - 1) / pieces;
  // A thread that runs short of memory leaves its piece: the lack is thrown here once every
  // thread has ended, never from a thread (which would end the process) or past a running one.
  std::atomic<bool> shortOfMemory{false};
  auto look = [&](std::size_t piece) {
    const std::size_t from = std::min(files.size(), piece * perPiece);
    const std::size_t to = std::min(files.size(), from + perPiece);
    try {
#ifndef _WIN32
      FileKeys keysOf;
#endif
      for (std::size_t i = from; i < to; ++i) {
#ifdef _WIN32
        keys[i] = KeysOf(files[i]);
#else
        keys[i] = keysOf.Of(files[i]);
#endif
      }
    } catch (const std::bad_alloc&) {
      shortOfMemory = true;
    }
  };
  std::vector<std::thread> lookers;
  lookers.reserve(pieces);
  std::size_t piece = 1;
  for (; piece < pieces; ++piece) {
    try {
      lookers.emplace_back(look, piece);
    } catch (const std::exception&) {
      break;  // the rest here
    }
  }
  look(0);
  for (std::thread& looker : lookers) looker.join();
  for (; piece < pieces; ++piece) look(piece);
  if (shortOfMemory) throw std::bad_alloc();

  std::vector<std::vector<std::size_t>> waited(files.size());
  // For each key, the latest file of the list that has it: that one waits for every earlier.
  std::unordered_map<FileKey, std::size_t> latest;
  latest.reserve(files.size() * 2);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!keys[i]) continue;
    for (const FileKey key : *keys[i]) {
      if (const auto found = latest.find(key); found != latest.end()) {
        waited[i].push_back(found->second);
      }
    }
    std::sort(waited[i].begin(), waited[i].end());
    waited[i].erase(std::unique(waited[i].begin(), waited[i].end()), waited[i].end());
    for (const FileKey key : *keys[i]) latest[key] = i;
  }
  return waited;
}

BatchRun::BatchRun(const std::vector<std::string>& files, bool keepGoing, unsigned spareThreads,
                   std::size_t mostParked, unsigned lookupThreads)
    : files_(files),
      keepGoing_(keepGoing),
      mostParked_(mostParked),
      // A file that may be the input or the output of an earlier file of the list (a.html, then
      // a.html.txt, a.html again, or a.html.txt then a.html) waits for it, as one thread would:
      // it reads what that file wrote, never replaces what it is still to read, and never holds
      // the same file at the same time (on Windows a file opened without sharing cannot be
      // opened twice).
      sources_(FilesWaitedFor(files, lookupThreads)),
      spare_(spareThreads) {
  // Room for a failure of every file now, where running short ends the run before it starts,
  // rather than in a worker while a later failure is entered.
  if (keepGoing_) failures_.reserve(files.size());
  platform::SweepFoldersAgain();
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
  if (next_ >= files_.size() || cancelled_) return false;
  // Without keep-going nothing after a failed file is started.
  return keepGoing_ || firstFailure_ == kNone || next_ < firstFailure_;
}

// A run of one thread would not have got this far, or the caller has ended the run before it.
bool BatchRun::Ended(std::size_t i) const {
  return cancelled_ || (!keepGoing_ && firstFailure_ < i);
}

bool BatchRun::Stale(const Claim& claim) const {
  return claim.generation != generation_ && claim.file >= goneBackTo_;
}

BatchRun::Turn BatchRun::TurnOf(const Claim& claim) const {
  const std::size_t i = claim.file;
  if (Stale(claim)) return Turn::kAgain;
  if (Ended(i)) return Turn::kCancelled;
  // The earlier files that may read or write what this one reads or writes are done.
  for (const std::size_t source : sources_[i]) {
    if (committed_ <= source) return Turn::kWait;
  }
  // One at a time, after every earlier file is settled, as one thread.
  if (alone_ && (busy_ > 0 || committed_ < i)) return Turn::kWait;
  return Turn::kGo;
}

// Runs one step of a file; tells how it failed, if it did.
template <typename Step>
BatchRun::Outcome BatchRun::Attempt(const std::string& file, Step&& step) const {
  try {
    return AttemptStep(file, step);
  } catch (const std::bad_alloc&) {
    // No room left even for the message: the file is done again alone, as after any lack of
    // memory, where its message can be made. This one is short enough to need no memory.
    return {std::string("メモリ不足"), true, std::current_exception()};
  }
}

template <typename Step>
BatchRun::Outcome BatchRun::AttemptStep(const std::string& file, Step& step) const {
  // The exception itself goes with the message, for a caller that shows it as it came.
  try {
    step();
  } catch (const EFWriteError& e) {
    return {FailureMessage(e), true, std::current_exception()};
  } catch (const EFTooLargeError& e) {
    return {FailureMessage(e), true, std::current_exception()};
  } catch (const EFCreateError& e) {
    // A new file may also find no room for its name. Where the run goes on after a failure, an
    // output refused by what stands at its name (common there) is not worth a run alone.
    return {FailureMessage(e), !keepGoing_, std::current_exception()};
  } catch (const Exception& e) {
    return {FailureMessage(e), false, std::current_exception()};
  } catch (const std::bad_alloc&) {
    // A text that outgrows memory while it is converted fails like any other file.
    return {OutOfMemoryMessage(file), true, std::current_exception()};
  } catch (const std::exception& e) {
    // Anything else (a thread that could not be started for a big file) ends this file, not
    // the process.
    return {e.what(), false, std::current_exception()};
  }
  return {};
}

void BatchRun::Work(TableConverter& converter) {
  OutputFolders folders;
  std::unique_lock lock(mutex_);
  while (MayClaim()) {
    const Claim claim{next_++, generation_};
    const std::size_t i = claim.file;
    Turn turn = Turn::kWait;
    changed_.wait(lock, [&] { return (turn = TurnOf(claim)) != Turn::kWait; });
    if (turn != Turn::kGo) continue;
    // Alone, a file has what one thread would have: no parked outputs of later files beside it,
    // no thread borrowed for its reading and writing.
    const bool alone = alone_;
    // Every earlier file is settled: one thread would read this file now too, so it needs no
    // second look before its output takes its name.
    bool atTurn = committed_ == i;
    ++busy_;
    lock.unlock();
    const std::string& file = files_[i];
    Settled settled;
    // A held file waits between the look at its size and its open; given up meanwhile (the run
    // went back before it, or ended), it is left unread.
    struct GivenUp {};
    const auto waitIfHeld = [&](std::uint64_t size) {
      if (!held_ || !held_(file, size)) return;
      lock.lock();
      try {
        WaitReleased(claim, lock);
      } catch (...) {
        lock.unlock();  // no room to note the wait: the file fails as any other short of memory
        throw;
      }
      const bool givenUp = Stale(claim) || Ended(i);
      // Released when its row is reached: read at its turn after all.
      atTurn = atTurn || committed_ == i;
      lock.unlock();
      if (givenUp) throw GivenUp{};
    };
    Outcome outcome;
    try {
      outcome = Attempt(file, [&] {
        settled.output.emplace(ConvertFileAside(file, converter, alone ? nullptr : &spare_,
                                                kConvertChunkSize, waitIfHeld, &folders));
      });
    } catch (const GivenUp&) {
      // Settled below as any claim that is stale or beyond the run's end.
    }
    lock.lock();
    if (Stale(claim)) {
      // The run went back to an earlier file: this one is done again after it.
      Drop(std::move(settled), lock);
      Idle();
    } else if (outcome.failure.empty() || !outcome.resources || alone) {
      settled.failure = std::move(outcome.failure);
      settled.error = std::move(outcome.error);
      CommitInOrder(claim, alone, atTurn, std::move(settled), converter, lock);
    } else {
      Drop(std::move(settled), lock);
      GoBack(i, lock);
      Idle();
    }
  }
  lock.unlock();
  // What this worker leaves, a big file still converting may use.
  spare_.Give();
  lock.lock();
  --workers_;
  finished_.notify_all();
}

void BatchRun::Drop(std::vector<Settled> settled, std::unique_lock<std::mutex>& lock) {
  // New files are removed outside the lock, and before a file alone may take their room.
  lock.unlock();
  settled.clear();
  lock.lock();
}

void BatchRun::Drop(Settled settled, std::unique_lock<std::mutex>& lock) {
  std::vector<Settled> one;
  one.push_back(std::move(settled));
  Drop(std::move(one), lock);
}

void BatchRun::Idle() {
  --busy_;
  changed_.notify_all();
}

void BatchRun::CommitInOrder(const Claim& claim, bool alone, bool atTurn, Settled settled,
                             TableConverter& converter, std::unique_lock<std::mutex>& lock) {
  const std::size_t i = claim.file;
  if (!keepGoing_ && !settled.failure.empty() && alone) {
    // Without keep-going a failure at the file's turn ends the run where it stands. One that
    // came ahead of its turn waits for it, and the file is tried again then.
    Drop(Fail(i, std::move(settled.failure), std::move(settled.error)), lock);
    Idle();
    return;
  }
  for (;;) {
    if (Ended(i) || Stale(claim)) {
      Drop(std::move(settled), lock);
      Idle();
      return;
    }
    if (committed_ == i && !committing_) break;
    // Alone, an earlier file that waits here must not keep the next one from starting.
    if (parked_.size() < mostParked_ || alone_) {
      parked_.emplace(i, std::move(settled));
      Idle();
      return;
    }
    changed_.wait(lock);
  }
  committing_ = true;
  std::optional<Settled> next(std::move(settled));
  bool nextAlone = alone;
  bool readAtTurn = alone || atTurn;
  for (std::size_t at = i; next; ++at) {
    lock.unlock();
    Outcome outcome{next->failure, false, next->error};
    ConvertedSizes sizes;
    if (!readAtTurn && (!next->failure.empty() || next->output->InputChanged())) {
      // Tried ahead of its turn, and it failed or its input changed since (written over,
      // replaced, removed): one thread would have read it only now, so it is tried again now.
      // Read at its turn, it failed as one thread would have (a change while it was read is
      // the read error), and is not tried again.
      next.emplace();
      outcome = Attempt(files_[at],
                        [&] { next->output.emplace(ConvertFileAside(files_[at], converter)); });
    }
    if (next->output) {
      outcome = Attempt(files_[at], [&] { next->output->Commit(); });
      sizes = next->output->Sizes();
    }
    // The input and the new file are let go before the next file is looked at.
    next.reset();
    lock.lock();
    if (!outcome.failure.empty() && outcome.resources && !nextAlone) {
      committing_ = false;
      GoBack(at, lock);
      Idle();
      return;
    }
    if (!outcome.failure.empty()) {
      Drop(Fail(at, std::move(outcome.failure), std::move(outcome.error)), lock);
      if (!keepGoing_) {
        committing_ = false;
        Idle();
        return;
      }
      committed_ = at + 1;
    } else {
      Succeeded(at, sizes);
    }
    const auto parked = parked_.find(at + 1);
    if (parked != parked_.end() && !cancelled_) {
      next.emplace(std::move(parked->second));
      parked_.erase(parked);
      nextAlone = readAtTurn = false;
    }
    changed_.notify_all();
  }
  committing_ = false;
  Idle();
}

void BatchRun::Succeeded(std::size_t i, const ConvertedSizes& sizes) {
  committed_ = i + 1;
  written_.fetch_add(1, std::memory_order_relaxed);
  bytesIn_.fetch_add(sizes.in, std::memory_order_relaxed);
  bytesOut_.fetch_add(sizes.out, std::memory_order_relaxed);
  done_.fetch_add(1, std::memory_order_relaxed);
  NotifyWatcher();
}

void BatchRun::GoBack(std::size_t i, std::unique_lock<std::mutex>& lock) {
  // A run of one thread would not have reached it.
  if (!keepGoing_ && firstFailure_ < i) return;
  alone_ = true;
  ++generation_;
  goneBackTo_ = std::min(goneBackTo_, i);
  next_ = std::min(next_, i);
  std::vector<Settled> later;
  for (auto at = parked_.lower_bound(i); at != parked_.end();) {
    later.push_back(std::move(at->second));
    at = parked_.erase(at);
  }
  Drop(std::move(later), lock);
  changed_.notify_all();
}

std::vector<BatchRun::Settled> BatchRun::Fail(std::size_t i, std::string failure,
                                              std::exception_ptr error) {
  // Only a run that stops at its first failure hands the error itself on; one that goes on
  // keeps the message alone, as it may have a failure for every file of a long list.
  if (keepGoing_) error = nullptr;
  failures_.push_back({i, std::move(failure), std::move(error)});
  firstFailure_ = std::min(firstFailure_, i);
  done_.fetch_add(1, std::memory_order_relaxed);
  NotifyWatcher();
  // Without keep-going, the outputs parked beyond the first failure are never written.
  std::vector<Settled> dropped;
  if (keepGoing_) return dropped;
  for (auto at = parked_.upper_bound(firstFailure_); at != parked_.end();) {
    dropped.push_back(std::move(at->second));
    at = parked_.erase(at);
  }
  return dropped;
}

std::vector<BatchRun::Failure> BatchRun::Failures() {
  std::lock_guard lock(mutex_);
  // Sorted in place and handed over, not copied: a run that failed for many files may have room
  // for their messages only once.
  std::sort(failures_.begin(), failures_.end(),
            [](const Failure& a, const Failure& b) { return a.file < b.file; });
  // Files after the first failure were only tried ahead; a run of one thread would not have
  // reached them.
  if (!keepGoing_ && failures_.size() > 1) failures_.resize(1);
  return std::move(failures_);
}

void BatchRun::HoldFilesUntilReleased(std::function<bool(const std::string&, std::uint64_t)> held) {
  std::lock_guard lock(mutex_);
  held_ = std::move(held);
}

void BatchRun::Release(std::size_t count) {
  std::lock_guard lock(mutex_);
  if (count <= released_) return;
  released_ = count;
  heldWaiting_.erase(heldWaiting_.begin(), heldWaiting_.lower_bound(count));
  changed_.notify_all();
}

void BatchRun::WaitReleased(const Claim& claim, std::unique_lock<std::mutex>& lock) {
  const auto released = [&] { return released_ > claim.file || Stale(claim) || Ended(claim.file); };
  if (released()) return;
  heldWaiting_.insert(claim.file);
  NotifyWatcher();
  changed_.wait(lock, released);
  // Only this claim's entry: after the run went back, a later claim of the file may wait too.
  if (const auto at = heldWaiting_.find(claim.file); at != heldWaiting_.end()) {
    heldWaiting_.erase(at);
  }
}

bool BatchRun::SettledNow(std::size_t i) const {
  // Without keep-going a failure stops the committing before it, so the failed file is settled
  // once every file before it is.
  return committed_ > i || (firstFailure_ == i && committed_ >= i);
}

bool BatchRun::HeldNow(std::size_t i) const {
  return heldWaiting_.count(i) > 0 && released_ <= i && !Ended(i);
}

bool BatchRun::WatchedReady() const {
  if (HeldNow(watched_)) return true;
  // The files after the watched one settle as far as nothing stops them: the first failure, or
  // a held file, which waits for the caller.
  std::size_t until = std::min(watchedUntil_, firstFailure_);
  if (const auto held = heldWaiting_.upper_bound(watched_); held != heldWaiting_.end()) {
    until = std::min(until, *held - 1);
  }
  return SettledNow(watched_) && SettledNow(std::max(until, watched_));
}

void BatchRun::NotifyWatcher() {
  // Once: every further wake before the watcher runs would be a system call of its own, each
  // costing the worker more than a small file's conversion.
  if (watched_ != kNone && !watcherWoken_ && WatchedReady()) {
    watcherWoken_ = true;
    settled_.notify_one();
  }
}

BatchRun::Wait BatchRun::WaitSettled(std::size_t i, std::size_t ahead,
                                     std::chrono::milliseconds timeout, std::exception_ptr& error) {
  std::unique_lock lock(mutex_);
  watched_ = i;
  watcherWoken_ = false;
  watchedUntil_ = std::min(i + ahead, files_.size() - 1);
  settled_.wait_for(lock, timeout, [&] { return WatchedReady(); });
  watched_ = kNone;
  error = nullptr;
  if (!SettledNow(i)) return HeldNow(i) ? Wait::kHeld : Wait::kTimedOut;
  if (committed_ <= i) {
    for (const Failure& failure : failures_) {
      if (failure.file == i) error = failure.error;
    }
  }
  return Wait::kSettled;
}

void BatchRun::Cancel() {
  std::unique_lock lock(mutex_);
  cancelled_ = true;
  std::vector<Settled> parked;
  for (auto& [file, settled] : parked_) parked.push_back(std::move(settled));
  parked_.clear();
  Drop(std::move(parked), lock);
  changed_.notify_all();
}

}  // namespace tavrin
