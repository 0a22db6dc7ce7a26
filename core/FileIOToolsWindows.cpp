// Whole-file I/O on Windows.
//
// Files are opened without sharing: while we hold a file nobody else can open it, and a file that
// another program holds open, even one that lets others read it, cannot be read or written here.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "FileIOTools.h"

namespace tavrin {

namespace {

// ReadFile and WriteFile take a 32-bit count, so large contents move in pieces of this size.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (Valid()) ::CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes now and reports whether the close succeeded (a delayed write error shows here).
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Devices, consoles and pipes open like files ("NUL", "CON", "\\.\pipe\..."); only a file on a
// disk holds contents to read or replace.
bool IsDiskFile(HANDLE handle) {
  return ::GetFileType(handle) == FILE_TYPE_DISK;
}

// The size is the end position; the file pointer is put back where it was (the start).
bool MeasureSize(HANDLE handle, std::uint64_t& size) {
  LARGE_INTEGER zero{}, here{}, end{};
  if (!::SetFilePointerEx(handle, zero, &here, FILE_CURRENT)) return false;
  if (!::SetFilePointerEx(handle, zero, &end, FILE_END)) return false;
  if (!::SetFilePointerEx(handle, here, nullptr, FILE_BEGIN)) return false;
  size = static_cast<std::uint64_t>(end.QuadPart);
  return true;
}

void AllocateFor(std::string& text, std::uint64_t size, const std::string& fileName) {
  if (size > text.max_size()) throw EFTooLargeError(fileName);
  try {
    text.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EFTooLargeError(fileName);
  } catch (const std::length_error&) {
    throw EFTooLargeError(fileName);
  }
}

}  // namespace

std::string ReadFileToString(const std::string& fileName) {
  FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid() || !IsDiskFile(file.Get())) throw EFOpenError(fileName);

  std::uint64_t size = 0;
  if (!MeasureSize(file.Get(), size)) throw EFReadError(fileName);

  std::string text;
  AllocateFor(text, size, fileName);
  std::size_t done = 0;
  while (done < text.size()) {
    const auto want = static_cast<DWORD>(std::min(text.size() - done, kMaxChunk));
    DWORD got = 0;
    if (!::ReadFile(file.Get(), text.data() + done, want, &got, nullptr)) {
      throw EFReadError(fileName);
    }
    if (got == 0) break;  // the file shrank while we read it: keep what was there
    done += got;
  }
  text.resize(done);
  return text;
}

void WriteStringToFile(const std::string& fileName, std::string_view contents) {
  FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid() || !IsDiskFile(file.Get())) throw EFCreateError(fileName);

  // A short or failed write (a full disk, a quota) must not leave an output that looks
  // complete, so the partial file is removed before the error is raised. Without sharing the
  // name can only be deleted once our handle is closed.
  auto fail = [&]() {
    if (file.Valid()) file.Close();
    ::DeleteFileA(fileName.c_str());
    throw EFWriteError(fileName);
  };
  std::size_t done = 0;
  while (done < contents.size()) {
    const auto want = static_cast<DWORD>(std::min(contents.size() - done, kMaxChunk));
    DWORD wrote = 0;
    if (!::WriteFile(file.Get(), contents.data() + done, want, &wrote, nullptr) || wrote == 0) {
      fail();
    }
    done += wrote;
  }
  if (!file.Close()) fail();
}

}  // namespace tavrin
