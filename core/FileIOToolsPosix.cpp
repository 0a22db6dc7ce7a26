// Whole-file I/O on POSIX systems.
//
// The home desktop opens files without sharing, so a file held open by another program cannot be
// read or written meanwhile. POSIX has no such mandatory exclusion (advisory locks bind only
// programs that ask for them), so that rule is left out here.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "FileIOTools.h"

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
  // Closes now and reports whether the close succeeded (a delayed write error shows here).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool IsRegular(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Non-blocking opens keep a FIFO or device from hanging us; regular files ignore the flag,
// but clear it anyway so later reads and writes behave plainly.
void MakeBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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

}  // namespace

std::string ReadFileToString(const std::string& fileName) {
  FileDescriptor file(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.Valid() || !IsRegular(file.Get())) throw EFOpenError(fileName);
  MakeBlocking(file.Get());

  struct stat st;
  if (::fstat(file.Get(), &st) != 0) throw EFReadError(fileName);
  const auto size = static_cast<std::size_t>(st.st_size);

  std::string text;
  AllocateFor(text, size, fileName);
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(file.Get(), text.data() + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EFReadError(fileName);
    }
    if (got == 0) break;  // the file shrank while we read it: keep what was there
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);
  return text;
}

void WriteStringToFile(const std::string& fileName, std::string_view contents) {
  FileDescriptor file(
      ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!file.Valid()) throw EFCreateError(fileName);
  if (!IsRegular(file.Get())) throw EFCreateError(fileName);
  MakeBlocking(file.Get());

  // A short or failed write (a full disk, a size limit) must not leave an output that looks
  // complete, so the partial file is removed before the error is raised.
  auto fail = [&]() {
    ::unlink(fileName.c_str());
    throw EFWriteError(fileName);
  };
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t wrote = ::write(file.Get(), contents.data() + done, contents.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      file.Close();
      fail();
    }
    if (wrote == 0) {
      file.Close();
      fail();
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (!file.Close()) fail();
}

}  // namespace tavrin
