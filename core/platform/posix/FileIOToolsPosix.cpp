// Whole-file I/O on POSIX systems.
//
// The home desktop opens files without sharing, so a file held open by another program cannot be
// read or written meanwhile. POSIX has no such mandatory exclusion (advisory locks bind only
// programs that ask for them), so that rule is left out here.
//
// An output is never written in place. Its bytes go to a new file in the output's folder, which
// takes the output's name once it is complete: a failed write leaves any older output as it was,
// and the rename replaces the name itself, never a file that a link at the name leads to.
//
// The new file has no name while it is written (O_TMPFILE), so that a process killed meanwhile
// leaves nothing behind. Over an older output it gets a name of its own only for the moment of
// the rename. Where the file system has no unnamed files, it has a name from the start; each
// named new file is locked for its life (flock) and its name carries a check, so that the next
// run in that folder can tell what a killed run left from a file still written or a stranger's.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include "FileIOTools.h"
#include "platform/FileIOPlatform.h"

namespace tavrin {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Hands the descriptor over to whoever closes it next.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// A folder open for outputs, closed once neither a thread's OutputFolders nor an output under
// way in it holds it.
struct OpenFolder {
  OpenFolder() = default;
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  ~OpenFolder() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
  FileIdentity identity;
};

// A byte string cut at a NUL would name another file to the system.
bool HoldsNul(const std::string& fileName) {
  return fileName.find('\0') != std::string::npos;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The folder part of a file's name, as the system takes it.
std::string FolderOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
}

// Whether the folder's name still leads to the open folder.
bool StillAt(const std::string& folderName, const OpenFolder& folder) {
  struct stat st;
  return ::stat(folderName.c_str(), &st) == 0 && IdentityOf(st) == folder.identity;
}

// The zero fill and then the read touch a large text page by page; on huge pages that is a few
// hundred faults instead of tens of thousands, which is most of the cost of reading a big file.
void PreferHugePages(std::string& text, std::size_t size) {
  if (size < (std::size_t{2} << 20)) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(text.data()) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(text.data()) + size) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void AllocateFor(std::string& text, std::size_t size, const std::string& fileName) {
  try {
    text.reserve(size);
    PreferHugePages(text, size);
    text.resize(size);
  } catch (const std::bad_alloc&) {
    throw EFTooLargeError(fileName);
  } catch (const std::length_error&) {
    throw EFTooLargeError(fileName);
  }
}

// Fills the buffer from the file; returns less than its size only at the end of the file. The
// file is non-blocking: a read that would wait is an error too.
std::size_t ReadUpTo(int fd, char* buffer, std::size_t size, const std::string& fileName) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, buffer + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EFReadError(fileName);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

// Looks at an output's name without following a link and says whether a file is there. Only
// nothing, or a regular file other than the input with a write permission bit, may be replaced:
// root may write any file, so a file without one is refused outright.
bool CheckReplaceable(int folder, const char* name, const FileIdentity* input,
                      const std::string& fileName, struct stat& st) {
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return false;
    throw EFCreateError(fileName);
  }
  if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
      (input != nullptr && IdentityOf(st) == *input)) {
    throw EFCreateError(fileName);
  }
  return true;
}

// A name for the new file that nobody can pick ahead of us. Creating it exclusively already
// keeps us off anything planted there; an unguessable name keeps such a plant from blocking us.
std::string TemporaryName() {
  unsigned char random[12] = {};
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  // What stands in for missing random bytes is only asked for then.
  if (got == sizeof random) return platform::TemporaryName(random, got, 0, 0, 0);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return platform::TemporaryName(random, got,
                                 static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                                     static_cast<std::uint64_t>(now.tv_nsec),
                                 static_cast<std::uint64_t>(::getpid()),
                                 static_cast<std::uint64_t>(::gettid()));
}

// Gives the new file the owner, group and permission bits of the one it replaces. The owner and
// group carry over where the system allows it (root, or a group of ours): root converting in a
// user's folder must not leave the user a file they cannot write. Where it is not allowed, the
// writer owns the new file, as with any new output. Returns false if the bits could not be set.
bool TakeOwnerAndMode(int fd, const struct stat& older) {
  if (::fchown(fd, older.st_uid, older.st_gid) != 0) {
    [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), older.st_gid);
  }
  return ::fchmod(fd, older.st_mode & 0777) == 0;
}

// Whether name in folder leads to the open file fd.
bool NameLeadsTo(int folder, const char* name, int fd) {
  struct stat atName, open;
  return ::fstatat(folder, name, &atName, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &open) == 0 &&
         IdentityOf(atName) == IdentityOf(open);
}

// The lock that tells a later run a named new file is still wanted. It belongs to the open file,
// so it goes with the process however that ends. Fails only where another process holds it.
bool LockAsWanted(int fd) {
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// A named new file of ours that no process holds: left by a run that was killed. Its name passes
// the check, it has no other name, and its lock is free; the lock is held while it is removed.
void RemoveIfLeftBehind(int folder, const char* name) {
  struct stat st;
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
      st.st_nlink != 1) {
    return;
  }
  // Opened for writing: on network file systems only such an open may take the lock.
  FileDescriptor file(
      ::openat(folder, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Valid() && ::flock(file.Get(), LOCK_EX | LOCK_NB) == 0 &&
      NameLeadsTo(folder, name, file.Get())) {
    ::unlinkat(folder, name, 0);
  }
}

// The folders swept since the run began, by identity.
std::mutex sweptMutex;
std::set<std::pair<std::uint64_t, std::uint64_t>> swept;

// Before the first output a run makes in a folder, removes what killed runs left there.
void RemoveLeftBehindOnce(int folder, const FileIdentity& identity) {
  {
    std::lock_guard lock(sweptMutex);
    if (!swept.emplace(identity.volume, identity.file).second) return;
  }
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return;
  }
  while (const dirent* entry = ::readdir(entries)) {
    if (platform::IsTemporaryName(entry->d_name)) RemoveIfLeftBehind(folder, entry->d_name);
  }
  ::closedir(entries);
}

// Whether unnamed new files can be given a name here; cleared at the first that could not.
std::atomic<bool> unnamedFilesLink{true};

// The new files under way that have a name of their own, so that a program ending on a signal
// can remove them first (unnamed ones vanish with the process). A name is made and entered
// under the lock, so once the files are removed no new one appears.
class NamedNewFiles {
 public:
  // Runs make (which makes the name and returns whether it did) unless the files are being
  // removed, and enters the name when made.
  template <typename Make>
  bool Add(int folder, const std::string& name, Make&& make) {
    std::lock_guard lock(mutex_);
    if (removed_ || !make()) return false;
    names_.emplace(folder, name);
    return true;
  }
  void Forget(int folder, const std::string& name) {
    std::lock_guard lock(mutex_);
    names_.erase({folder, name});
  }
  void RemoveAll() {
    std::lock_guard lock(mutex_);
    removed_ = true;
    for (const auto& [folder, name] : names_) ::unlinkat(folder, name.c_str(), 0);
    names_.clear();
  }

 private:
  std::mutex mutex_;
  bool removed_ = false;
  std::set<std::pair<int, std::string>> names_;
};

NamedNewFiles& namedNewFiles() {
  static NamedNewFiles files;
  return files;
}

// Whether the last output's name was found taken. Runs over older outputs find every name taken,
// and a failed link costs more than a look at the name, so then the name is looked at first.
// Only how soon an output is refused depends on it, never whether.
std::atomic<bool> namesTaken{false};

// The new file, removed again unless it has been renamed into place.
class PendingFile {
 public:
  explicit PendingFile(int folder) : folder_(folder) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    // Removed while still locked.
    if (created_ && !unnamed_) {
      ::unlinkat(folder_, name_.c_str(), 0);
      namedNewFiles().Forget(folder_, name_);
    }
    if (fd_ >= 0) ::close(fd_);
    if (lockKeeper_ >= 0) ::close(lockKeeper_);
  }
  // Unnamed (O_TMPFILE) where the file system has such files: it enters the folder by one link
  // at the end instead of a create and a rename. Each of those holds the folder's lock, which is
  // what keeps two threads converting in one folder from running side by side. An unnamed file
  // vanishes by itself unless linked. Returns false where there is none.
  bool CreateUnnamed(mode_t mode) {
    if (!unnamedFilesLink.load(std::memory_order_relaxed)) return false;
    fd_ = ::openat(folder_, ".", O_RDWR | O_TMPFILE | O_NOCTTY | O_CLOEXEC, mode);
    unnamed_ = created_ = fd_ >= 0;
    return unnamed_;
  }
  // A name is made and entered among the named new files under one lock (see NamedNewFiles).
  void CreateNamed(mode_t mode) {
    for (int attempt = 0; attempt < 16 && !created_; ++attempt) {
      name_ = TemporaryName();
      errno = 0;
      created_ = namedNewFiles().Add(folder_, name_, [&] {
        fd_ = ::openat(folder_, name_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd_ < 0) return false;
        // Until it is locked, a run starting in this folder may take the file for one left
        // behind and remove it; then another name is made.
        if (LockAsWanted(fd_) && NameLeadsTo(folder_, name_.c_str(), fd_)) return true;
        ::close(fd_);
        fd_ = -1;
        errno = EEXIST;
        return false;
      });
      if (!created_ && errno != EEXIST) break;
    }
  }
  bool Created() const { return created_; }
  bool Unnamed() const { return unnamed_; }
  int Get() const { return fd_; }
  // An unnamed file: links it in at name, which must be free; then it is the output. Returns
  // errno, or 0.
  int LinkAs(const char* name) {
    if (::linkat(fd_, "", folder_, name, AT_EMPTY_PATH) != 0) {
      // Without the right to link a descriptor directly, through its name in /proc.
      if (errno == EEXIST) return EEXIST;
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      if (::linkat(AT_FDCWD, self.c_str(), folder_, name, AT_SYMLINK_FOLLOW) != 0) return errno;
    }
    created_ = false;
    return 0;
  }
  // An unnamed file that cannot be linked where it is: gives it a temporary name, linked or as
  // a named copy with the same permissions and owner, so that it can be renamed like any other.
  // Returns false on failure.
  bool Name() {
    const int unnamed = fd_;
    // Locked before it has a name: it is never seen unlocked by a run looking for files left
    // behind.
    LockAsWanted(unnamed);
    for (int attempt = 0; attempt < 16; ++attempt) {
      name_ = TemporaryName();
      int error = 0;
      if (namedNewFiles().Add(folder_, name_,
                              [&] { return (error = LinkAs(name_.c_str())) == 0; })) {
        created_ = true;
        unnamed_ = false;
        return true;
      }
      if (error != EEXIST) break;
    }
    unnamedFilesLink.store(false, std::memory_order_relaxed);
    fd_ = -1;
    unnamed_ = false;
    created_ = false;
    struct stat st;
    bool copied = ::fstat(unnamed, &st) == 0;
    if (copied) CreateNamed(0600);
    copied = copied && created_;
    off_t from = 0;
    while (copied && from < st.st_size) {
      const ssize_t sent =
          ::sendfile(fd_, unnamed, &from, static_cast<std::size_t>(st.st_size - from));
      if (sent < 0 && errno == EINTR) continue;
      copied = sent > 0;
    }
    ::close(unnamed);
    return copied && TakeOwnerAndMode(fd_, st);
  }
  // Closes now and reports whether the close succeeded (a delayed write error shows here). A
  // named file stays locked through a copy of the descriptor until it has been renamed.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    if (created_ && !unnamed_) lockKeeper_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return ::close(fd) == 0;
  }
  bool RenameTo(const char* name) {
    if (::renameat(folder_, name_.c_str(), folder_, name) != 0) return false;
    created_ = false;  // it is the output now
    namedNewFiles().Forget(folder_, name_);
    if (lockKeeper_ >= 0) ::close(lockKeeper_);
    lockKeeper_ = -1;
    return true;
  }

 private:
  int folder_;
  int fd_ = -1;
  int lockKeeper_ = -1;
  bool created_ = false;
  bool unnamed_ = false;
  std::string name_;
};

}  // namespace

std::string ReadFileToString(const std::string& fileName, FileIdentity& identity) {
  platform::InputFile file(fileName);
  identity = file.Identity();
  std::string text;
  AllocateFor(text, static_cast<std::size_t>(file.ReportedSize()), fileName);
  platform::ReadToEnd(
      text, [&](char* buffer, std::size_t size) { return file.Read(buffer, size); }, fileName);
  file.CheckUnchanged();
  return text;
}

void RemoveNamedNewFiles() {
  namedNewFiles().RemoveAll();
}

struct OutputFolders::State {
  std::string name;  // as the output's name gives it
  std::shared_ptr<const OpenFolder> folder;
};

OutputFolders::OutputFolders() = default;
OutputFolders::~OutputFolders() = default;

}  // namespace tavrin

namespace tavrin::platform {

InputFile::InputFile(const std::string& fileName,
                     const std::function<void(std::uint64_t)>& beforeOpen)
    : fileName_(fileName) {
  // The type is known before the open: opening a FIFO or a device has effects of its own (a
  // writer let go, a terminal made ours). The open descriptor is checked again, since the name
  // may have changed in between.
  struct stat st;
  if (HoldsNul(fileName) || ::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw EFOpenError(fileName);
  }
  if (beforeOpen) beforeOpen(static_cast<std::uint64_t>(st.st_size));
  FileDescriptor file(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.Valid() || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw EFOpenError(fileName);
  }
  // O_NONBLOCK keeps a FIFO that took the file's place after the check from hanging the open,
  // and stays: disk files ignore it, but a procfs file that calls itself regular and never ends
  // (/proc/kmsg) would block the read forever. There it fails with EAGAIN, the read error.
  identity_ = IdentityOf(st);
  reportedSize_ = static_cast<std::uint64_t>(st.st_size);
  changedSeconds_ = st.st_ctim.tv_sec;
  changedNanoseconds_ = st.st_ctim.tv_nsec;
  handle_ = file.Release();
}

InputFile::~InputFile() {
  ::close(static_cast<int>(handle_));
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  return ReadUpTo(static_cast<int>(handle_), buffer, size, fileName_);
}

// Any write or truncation sets the change time and most change the size. What was read is not
// compared with the size: files that report a size they do not hold (procfs says 0, sysfs 4096)
// keep saying it.
void InputFile::CheckUnchanged() const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) != reportedSize_ ||
      st.st_ctim.tv_sec != changedSeconds_ || st.st_ctim.tv_nsec != changedNanoseconds_) {
    throw EFReadError(fileName_);
  }
}

// One look at the name: where it still leads to the open file, it shows that file as it is now.
bool InputFile::ChangedSinceOpened() const {
  struct stat st;
  return ::stat(fileName_.c_str(), &st) != 0 || !(IdentityOf(st) == identity_) ||
         static_cast<std::uint64_t>(st.st_size) != reportedSize_ ||
         st.st_ctim.tv_sec != changedSeconds_ || st.st_ctim.tv_nsec != changedNanoseconds_;
}

struct ReplacingFile::State {
  std::string fileName;
  std::string name;
  const FileIdentity* input;
  std::shared_ptr<const OpenFolder> folder;
  PendingFile file;
  bool nameTaken = false;  // found holding an older output before the write
};

namespace {

// Whether the output's name holds an older output to replace (see CheckReplaceable). The rename
// needs only the folder's permission; a file this user may not write stays too.
bool CheckReplaceableAndWritable(int folder, const std::string& name, const FileIdentity* input,
                                 const std::string& fileName, struct stat& older) {
  const bool replacing = CheckReplaceable(folder, name.c_str(), input, fileName, older);
  if (replacing && ::faccessat(folder, name.c_str(), W_OK, 0) != 0) throw EFCreateError(fileName);
  return replacing;
}

}  // namespace

ReplacingFile::ReplacingFile(const std::string& fileName, const FileIdentity* input,
                             OutputFolders* folders) {
  if (HoldsNul(fileName)) throw EFCreateError(fileName);
  const std::size_t slash = fileName.rfind('/');
  const std::string folderName = FolderOf(fileName);
  std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  if (name.empty()) throw EFCreateError(fileName);
  // Every step works in the one folder opened here, so the new file and the name it replaces
  // are surely in the same folder, whatever happens to the path meanwhile. The folder of the
  // last output is taken again where its name still leads to it.
  std::shared_ptr<const OpenFolder> folder;
  if (folders != nullptr && folders->state_ && folders->state_->name == folderName &&
      StillAt(folderName, *folders->state_->folder)) {
    folder = folders->state_->folder;
  } else {
    // Let go first: a thread never holds more descriptors than it did without the cache.
    if (folders != nullptr) folders->state_.reset();
    auto opened = std::make_shared<OpenFolder>();
    opened->fd = ::open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (opened->fd < 0) throw EFCreateError(fileName);
    if (struct stat st; ::fstat(opened->fd, &st) == 0) {
      opened->identity = IdentityOf(st);
      RemoveLeftBehindOnce(opened->fd, opened->identity);
      if (folders != nullptr) {
        if (!folders->state_) folders->state_ = std::make_unique<OutputFolders::State>();
        folders->state_->name = folderName;
        folders->state_->folder = opened;
      }
    }
    folder = std::move(opened);
  }

  const int folderFd = folder->fd;
  state_.reset(
      new State{fileName, std::move(name), input, std::move(folder), PendingFile(folderFd)});
  State& s = *state_;
  // A new output gets 0666 less the umask, like any new file. Most outputs are new, so the name
  // is looked at only once the link at the end finds it taken: a lookup that finds nothing
  // waits for the folder's lock, as the link does. After a name found taken it is looked at
  // first, and a replacement gets the permission bits and owner of the file it replaces before
  // a byte is written. Nobody else can reach an unnamed file meanwhile.
  struct stat older;
  std::optional<bool> replacing;
  auto lookAtName = [&] {
    replacing = CheckReplaceableAndWritable(s.folder->fd, s.name, s.input, s.fileName, older);
    if (!*replacing) namesTaken.store(false, std::memory_order_relaxed);
  };
  if (namesTaken.load(std::memory_order_relaxed)) lookAtName();
  if (!s.file.CreateUnnamed(replacing.value_or(false) ? 0600 : 0666)) {
    if (!replacing) lookAtName();
    s.file.CreateNamed(*replacing ? 0600 : 0666);
    if (!s.file.Created()) throw EFCreateError(fileName);
  }
  s.nameTaken = replacing.value_or(false);
  if (s.nameTaken && !TakeOwnerAndMode(s.file.Get(), older)) throw EFCreateError(fileName);
}

ReplacingFile::~ReplacingFile() = default;

void ReplacingFile::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = ::write(state_->file.Get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw EFWriteError(state_->fileName);
    done += static_cast<std::size_t>(wrote);
  }
}

bool ReplacingFile::FolderChanged() const {
  return !StillAt(FolderOf(state_->fileName), *state_->folder);
}

void ReplacingFile::CheckName() {
  State& s = *state_;
  struct stat older;
  if (s.file.Unnamed()) {
    CheckReplaceableAndWritable(s.folder->fd, s.name, s.input, s.fileName, older);
  }
}

void ReplacingFile::Commit() {
  State& s = *state_;
  // No fsync: it costs a disk round trip per file, many times the conversion of a small page,
  // and an output can always be made again from its input, which is never touched. The rename
  // below already keeps any reader from seeing a partial output.
  if (s.file.Unnamed()) {
    struct stat older;
    if (!s.nameTaken) {
      // A link never replaces anything: it takes the name only where it is free.
      const int error = s.file.LinkAs(s.name.c_str());
      if (error == 0) {
        if (s.file.Close()) return;
        ::unlinkat(s.folder->fd, s.name.c_str(), 0);
        throw EFWriteError(s.fileName);
      }
      // The name is taken (or the link is not possible here): by an older output, which is
      // replaced by a rename like any other, or by something that must stay, which refuses
      // the output now, before it has a name.
      if (error == EEXIST) namesTaken.store(true, std::memory_order_relaxed);
      if (CheckReplaceableAndWritable(s.folder->fd, s.name, s.input, s.fileName, older) &&
          !TakeOwnerAndMode(s.file.Get(), older)) {
        throw EFCreateError(s.fileName);
      }
    } else {
      // Looked at before the write; again now, so that what came meanwhile is refused too.
      CheckReplaceable(s.folder->fd, s.name.c_str(), s.input, s.fileName, older);
    }
    // A name of its own only now, for the rename just below.
    if (!s.file.Name()) throw EFCreateError(s.fileName);
    if (!s.file.Close()) throw EFWriteError(s.fileName);
  } else {
    // The name is looked at again just before the rename, so that what was put there during
    // the write is refused too; an older output that came meanwhile gives its owner and mode,
    // as to an unnamed file.
    struct stat now;
    if (CheckReplaceable(s.folder->fd, s.name.c_str(), s.input, s.fileName, now) && !s.nameTaken &&
        !TakeOwnerAndMode(s.file.Get(), now)) {
      throw EFCreateError(s.fileName);
    }
    if (!s.file.Close()) throw EFWriteError(s.fileName);
  }
  // Between the check and the rename a link could still appear; the rename would then replace
  // the link itself, never what it leads to.
  if (!s.file.RenameTo(s.name.c_str())) throw EFCreateError(s.fileName);
}

void WriteReplacing(const std::string& fileName, std::string_view contents,
                    const FileIdentity* input) {
  ReplacingFile file(fileName, input);
  try {
    file.Write(contents);
  } catch (...) {
    file.CheckName();
    throw;
  }
  file.Commit();
}

void SweepFoldersAgain() {
  std::lock_guard lock(sweptMutex);
  swept.clear();
}

}  // namespace tavrin::platform
