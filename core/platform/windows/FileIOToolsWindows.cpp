// Whole-file I/O on Windows.
//
// Names arrive as UTF-8 and reach the system as UTF-16: an ANSI call would fail on a name outside
// the code page or, by best-fit mapping, open another file. A name that is not UTF-8 opens nothing.
//
// Files are opened without sharing: while we hold a file nobody else can open it, and a file that
// another program holds open, even one that lets others read it, cannot be read or replaced here.
//
// An output is never written in place. Its bytes go to a new file in the output's folder, which is
// moved over the output's name once it is complete: a failed write leaves any older output as it
// was, and the move replaces the name itself, never a file that a link at the name leads to.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>

#include "FileIOTools.h"
#include "platform/FileIOPlatform.h"
#include "platform/windows/WideText.h"

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
  // Hands the handle over to whoever closes it next.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// The name as the system takes it, long ones included; false for a name it cannot stand for:
// one holding a NUL (cut there, it would name another file), one that is not UTF-8, one that
// Windows would shorten to another file's name, or a device's name, refused here before anything
// opens the device.
bool WideName(const std::string& fileName, std::wstring& wide) {
  if (fileName.find('\0') != std::string::npos || !WideFromUtf8(fileName, wide) ||
      !NamesItself(wide) || IsDeviceName(wide)) {
    return false;
  }
  wide = SystemName(wide);
  return true;
}

// Devices, consoles and pipes open like files ("NUL", "CON", "\\.\pipe\..."); only a file on a
// disk holds contents to read or replace.
bool IsDiskFile(HANDLE handle) {
  return ::GetFileType(handle) == FILE_TYPE_DISK;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (std::uint64_t{info.nFileIndexHigh} << 32) | std::uint64_t{info.nFileIndexLow}};
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

// Fills the buffer from the file; returns less than its size only at the end of the file.
std::size_t ReadUpTo(HANDLE file, char* buffer, std::size_t size, const std::string& fileName) {
  std::size_t done = 0;
  while (done < size) {
    const auto want = static_cast<DWORD>(std::min(size - done, kMaxChunk));
    DWORD got = 0;
    if (!::ReadFile(file, buffer + done, want, &got, nullptr)) throw EFReadError(fileName);
    if (got == 0) break;
    done += got;
  }
  return done;
}

// Where a name's folder part ends: after its last separator, or after a drive ("C:") when it has
// none. In UTF-8 no byte of a multi-byte character is a separator.
std::size_t FolderPartLength(const std::wstring& name) {
  std::size_t end = name.size() >= 2 && name[1] == L':' ? 2 : 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == L'\\' || name[i] == L'/') end = i + 1;
  }
  return end;
}

// Looks at an output's name without following a link and says whether a file is there, and its
// attributes. Only nothing, or a disk file other than the input that is not read-only, may be
// replaced. The look takes no sharing, so it fails while anyone else holds the file open.
bool CheckReplaceable(const std::wstring& wideName, const std::string& fileName,
                      const FileIdentity* input, DWORD& attributes) {
  FileHandle existing(
      ::CreateFileW(wideName.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!existing.Valid()) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return false;
    throw EFCreateError(fileName);
  }
  constexpr DWORD kRefused =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsDiskFile(existing.Get()) || !::GetFileInformationByHandle(existing.Get(), &info) ||
      (info.dwFileAttributes & kRefused) != 0 || (input != nullptr && IdentityOf(info) == *input)) {
    throw EFCreateError(fileName);
  }
  attributes = info.dwFileAttributes;
  return true;
}

// A name for the new file that nobody can pick ahead of us. Creating it exclusively already
// keeps us off anything planted there; an unguessable name keeps such a plant from blocking us.
std::wstring TemporaryName() {
  unsigned char random[12] = {};
  const bool got = BCRYPT_SUCCESS(
      ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  const std::string name = platform::TemporaryName(random, got ? sizeof random : 0,
                                                   static_cast<std::uint64_t>(now.QuadPart),
                                                   ::GetCurrentProcessId(), ::GetCurrentThreadId());
  return std::wstring(name.begin(), name.end());
}

// The new files under way, so that a program about to end can remove them first: Windows would
// leave them behind. A file is made and entered under the lock, and its handle is closed under it,
// so that the removal never reaches a handle that has been closed (and perhaps reused since).
class NewFiles {
 public:
  struct Entry {
    std::wstring path;
    HANDLE handle = INVALID_HANDLE_VALUE;
  };

  // Runs make (which creates the file and returns whether it did) unless the files are being
  // removed, and enters the file when made.
  template <typename Make>
  bool Add(Entry* entry, Make&& make) {
    std::lock_guard lock(mutex_);
    if (removed_ || !make()) return false;
    entries_.insert(entry);
    return true;
  }
  // Closes the entry's handle; returns whether the close succeeded.
  bool Close(Entry* entry) {
    std::lock_guard lock(mutex_);
    const HANDLE handle = entry->handle;
    entry->handle = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }
  void Forget(Entry* entry) {
    std::lock_guard lock(mutex_);
    entries_.erase(entry);
  }
  // An open file is marked to vanish through its own handle, which nobody else can open, and is
  // gone once that closes, at the latest when the process ends; a closed one is deleted by name.
  void RemoveAll() {
    std::lock_guard lock(mutex_);
    removed_ = true;
    for (Entry* entry : entries_) {
      if (entry->handle != INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO dispose{TRUE};
        ::SetFileInformationByHandle(entry->handle, FileDispositionInfo, &dispose, sizeof dispose);
      } else {
        ::DeleteFileW(entry->path.c_str());
      }
    }
  }
  bool Removed() {
    std::lock_guard lock(mutex_);
    return removed_;
  }

 private:
  std::mutex mutex_;
  bool removed_ = false;
  std::set<Entry*> entries_;
};

NewFiles& newFiles() {
  static NewFiles files;
  return files;
}

// The new file, deleted again unless it has been moved into place.
class PendingFile {
 public:
  PendingFile(const std::wstring& folder, DWORD attributes) {
    for (int attempt = 0; attempt < 16 && !created_; ++attempt) {
      file_.path = SystemName(folder + TemporaryName());
      DWORD error = ERROR_SUCCESS;
      // DELETE lets a program about to end remove the file through this handle.
      created_ = newFiles().Add(&file_, [&] {
        file_.handle = ::CreateFileW(file_.path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                     nullptr, CREATE_NEW, attributes, nullptr);
        error = ::GetLastError();
        return file_.handle != INVALID_HANDLE_VALUE;
      });
      if (!created_ && error != ERROR_FILE_EXISTS) break;
    }
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    if (!created_) return;
    // Without sharing the name can only be deleted once our handle is closed.
    if (file_.handle != INVALID_HANDLE_VALUE) Close();
    ::DeleteFileW(file_.path.c_str());
    newFiles().Forget(&file_);
  }
  bool Created() const { return created_; }
  HANDLE Get() const { return file_.handle; }
  // Closes now and reports whether the close succeeded (a delayed write error shows here).
  bool Close() { return newFiles().Close(&file_); }
  bool MoveTo(const std::wstring& fileName) {
    // Once the files are being removed, none takes an output's name any more.
    if (newFiles().Removed() ||
        !::MoveFileExW(file_.path.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return false;
    }
    created_ = false;  // it is the output now
    newFiles().Forget(&file_);
    return true;
  }

 private:
  NewFiles::Entry file_;
  bool created_ = false;
};

}  // namespace

std::string ReadFileToString(const std::string& fileName, FileIdentity& identity) {
  platform::InputFile file(fileName);
  identity = file.Identity();
  std::string text;
  AllocateFor(text, file.ReportedSize(), fileName);
  platform::ReadToEnd(
      text, [&](char* buffer, std::size_t size) { return file.Read(buffer, size); }, fileName);
  return text;
}

void RemoveNamedNewFiles() {
  newFiles().RemoveAll();
}

struct OutputFolders::State {};
OutputFolders::OutputFolders() = default;
OutputFolders::~OutputFolders() = default;

}  // namespace tavrin

namespace tavrin::platform {

InputFile::InputFile(const std::string& fileName,
                     const std::function<void(std::uint64_t)>& beforeOpen)
    : fileName_(fileName) {
  // The type is known before the open, so a folder is never opened; the open handle is checked
  // again, which also turns away what else is no disk file (a pipe).
  std::wstring wideName;
  if (!WideName(fileName, wideName)) throw EFOpenError(fileName);
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!::GetFileAttributesExW(wideName.c_str(), GetFileExInfoStandard, &attributes) ||
      (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw EFOpenError(fileName);
  }
  if (beforeOpen) {
    beforeOpen((std::uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow);
  }
  FileHandle file(::CreateFileW(wideName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.Valid() || !IsDiskFile(file.Get()) ||
      !::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw EFOpenError(fileName);
  }
  identity_ = IdentityOf(info);
  reportedSize_ = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  handle_ = reinterpret_cast<std::intptr_t>(file.Release());
}

InputFile::~InputFile() {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  return ReadUpTo(reinterpret_cast<HANDLE>(handle_), buffer, size, fileName_);
}

// Held without sharing, the file cannot change while it is read.
void InputFile::CheckUnchanged() const {}
bool InputFile::ChangedSinceOpened() const {
  return false;
}

struct ReplacingFile::State {
  std::string fileName;
  std::wstring wideName;
  const FileIdentity* input;
  PendingFile file;
};

// Each output opens its folder by name: nothing is kept open between outputs.
ReplacingFile::ReplacingFile(const std::string& fileName, const FileIdentity* input,
                             OutputFolders*) {
  std::wstring wideName;
  if (!WideName(fileName, wideName)) throw EFCreateError(fileName);
  const std::size_t folderLength = FolderPartLength(wideName);
  if (folderLength == wideName.size()) throw EFCreateError(fileName);

  // A replacement keeps the attributes of the file it replaces that say how it is shown.
  DWORD older = 0;
  const bool replacing = CheckReplaceable(wideName, fileName, input, older);
  const DWORD kept = replacing ? older & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                               : 0;
  const std::wstring folder = wideName.substr(0, folderLength);
  state_.reset(new State{fileName, std::move(wideName), input,
                         PendingFile(folder, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL)});
  if (!state_->file.Created()) throw EFCreateError(fileName);
}

ReplacingFile::~ReplacingFile() = default;

void ReplacingFile::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto want = static_cast<DWORD>(std::min(bytes.size() - done, kMaxChunk));
    DWORD wrote = 0;
    if (!::WriteFile(state_->file.Get(), bytes.data() + done, want, &wrote, nullptr) ||
        wrote == 0) {
      throw EFWriteError(state_->fileName);
    }
    done += wrote;
  }
}

// The new file is moved to its name through the folder's name, wherever that leads then.
bool ReplacingFile::FolderChanged() const {
  return false;
}

// The name was looked at when the file was made.
void ReplacingFile::CheckName() {}

void ReplacingFile::Commit() {
  State& s = *state_;
  // No FlushFileBuffers: it costs a disk round trip per file, many times the conversion of a
  // small page, and an output can always be made again from its input, which is never touched.
  if (!s.file.Close()) throw EFWriteError(s.fileName);

  // The name is looked at again just before the move, so that what was put there during the
  // write is refused too. Should a link still appear in between, the move replaces the link
  // itself, never what it leads to.
  DWORD older = 0;
  CheckReplaceable(s.wideName, s.fileName, s.input, older);
  if (!s.file.MoveTo(s.wideName)) throw EFCreateError(s.fileName);
}

void WriteReplacing(const std::string& fileName, std::string_view contents,
                    const FileIdentity* input) {
  ReplacingFile file(fileName, input);
  file.Write(contents);
  file.Commit();
}

// A new file here goes with the handle that made it, however the process ends: no run leaves
// one behind for a later run to remove.
void SweepFoldersAgain() {}

}  // namespace tavrin::platform
