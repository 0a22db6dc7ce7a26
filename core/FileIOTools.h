// Whole-file reading and writing, bytes in and bytes out, and the errors they raise.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrin {

class TableConverter;

// The root of the program's own errors. The message is a byte string: fixed texts are UTF-8,
// a file name inside it is kept exactly as passed.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A stream error about one named file. Format() holds the fixed text with "%s" where
// FileName() goes, so a window can decode the two parts with different code pages.
class EFileError : public EStreamError {
 public:
  EFileError(std::string_view format, std::string fileName);
  const std::string& Format() const noexcept { return format_; }
  const std::string& FileName() const noexcept { return fileName_; }

 private:
  std::string format_;
  std::string fileName_;
};

// The file cannot be opened for reading (missing, a folder or special file, no access).
class EFOpenError : public EFileError {
 public:
  explicit EFOpenError(std::string fileName);
  static constexpr std::string_view kFormat = "ファイル %s は開けません";
};

// The file cannot be created or replaced: no folder or no permission, or a link, folder, special
// file, read-only file or the input itself at its name.
class EFCreateError : public EFileError {
 public:
  explicit EFCreateError(std::string fileName);
  static constexpr std::string_view kFormat = "ファイル %s を作成できません";
};

// Reading failed after the open succeeded, or the file does not fit in memory.
class EFReadError : public EFileError {
 public:
  explicit EFReadError(std::string fileName);
  static constexpr std::string_view kFormat = "ファイル %s を読み込めません";
};

// Writing or closing failed, or fewer bytes than asked were written (a full disk).
class EFWriteError : public EFileError {
 public:
  explicit EFWriteError(std::string fileName);
  static constexpr std::string_view kFormat = "ファイル %s に書き込めません";
};

// The file is larger than this process can hold in memory.
class EFTooLargeError : public EFileError {
 public:
  explicit EFTooLargeError(std::string fileName);
  static constexpr std::string_view kFormat = "ファイル %s は大きすぎて読み込めません";
};

// Which file a name leads to: two names of one file (a hard link, a symbolic link) give the same
// identity. Device and inode on POSIX, volume serial number and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Returns the whole contents of the named file, read to its end whatever size it reports. Only
// a regular file is opened; a folder, device or FIFO is the open error, as is a name holding a
// NUL byte. A file changed by another program while it is read is the read error.
std::string ReadFileToString(const std::string& fileName);
// The same, also telling which file was read.
std::string ReadFileToString(const std::string& fileName, FileIdentity& identity);

// Makes the named file hold exactly these bytes, creating or replacing it. The bytes go to a new
// file in the same folder, which replaces the name only once it is complete: on failure any
// older file of that name is left as it was. A replaced file's permissions carry over, and so
// do its owner and group where the system allows. The name must hold nothing or a regular file
// with write permission (for root too); a link at the name, a folder or a special file is the
// create error, and nothing is written.
void WriteStringToFile(const std::string& fileName, std::string_view contents);
// The same, and the create error when the name leads to the file `mustNotBe` (the input).
void WriteStringToFile(const std::string& fileName, std::string_view contents,
                       const FileIdentity& mustNotBe);

// One file of a batch: reads `path` whole, converts the text, and writes the result beside it to
// path + ".txt", which is never the input itself under another name.
void ConvertFileBeside(const std::string& path,
                       const std::function<std::string(std::string)>& convert);

// For a program about to end on a signal or a console event: removes the new files of outputs
// under way that have a name of their own (on Windows every one: an open one vanishes when its
// handle closes, at the latest with the process), and keeps any more from being made or from
// taking an output's name. Not for a signal handler: it takes a lock.
void RemoveNamedNewFiles();

struct ConvertedSizes {
  std::uint64_t in = 0;
  std::uint64_t out = 0;
};

// Threads that conversions may borrow beside their own. A file of more than one chunk takes one
// when there is one, to convert, read and write on it beside its own thread, and gives it back
// at its end.
class ThreadBudget {
 public:
  explicit ThreadBudget(unsigned spare = 0) : spare_(spare) {}
  bool TryTake();
  void Give() { spare_.fetch_add(1, std::memory_order_release); }

 private:
  std::atomic<unsigned> spare_;
};

namespace platform {
class ReplacingFile;
}

// The folder of one thread's last output, kept open for the next output beside it: a list holds
// many files per folder, and a look at the folder's name costs less than opening it again. For
// one thread at a time; the folder is closed with it, or with the last output under way in it.
class OutputFolders {
 public:
  OutputFolders();
  OutputFolders(const OutputFolders&) = delete;
  OutputFolders& operator=(const OutputFolders&) = delete;
  ~OutputFolders();

 private:
  friend class platform::ReplacingFile;
  struct State;
  std::unique_ptr<State> state_;
};

// A file converted into a new file beside its output's name, complete but not yet under that
// name: Commit gives it the name (and raises the create error when the name does not take
// it); without Commit the new file is removed. The input stays open until then.
class PendingOutput {
 public:
  PendingOutput(PendingOutput&&) noexcept;
  PendingOutput& operator=(PendingOutput&&) noexcept;
  ~PendingOutput();
  const ConvertedSizes& Sizes() const;
  // Whether the input was changed, replaced or removed since it was read, or the folder its
  // name leads to is no longer the one the new file is in.
  bool InputChanged() const;
  void Commit();

 private:
  struct State;
  explicit PendingOutput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
  friend PendingOutput ConvertFileAside(const std::string&, TableConverter&, ThreadBudget*,
                                        std::size_t, const std::function<void(std::uint64_t)>&,
                                        OutputFolders*);
};

// The same with converter, in bounded memory: the input is read, converted and written a chunk
// at a time, so a file larger than memory converts too. The output is left pending; an input
// changed while it is read is the read error, and the new file is removed. With a
// budget, a thread taken from it (when one is free) shares the chunks after the first: both
// threads read, convert and write, and the output is still byte for byte that of one thread.
// chunkSize is for tests: it sets where the chunks end. beforeOpen: see InputFile. folders, when
// given, may hold the output's folder open already, and keeps it open for the next call.
inline constexpr std::size_t kConvertChunkSize = std::size_t{4} << 20;
PendingOutput ConvertFileAside(const std::string& path, TableConverter& converter,
                               ThreadBudget* budget = nullptr,
                               std::size_t chunkSize = kConvertChunkSize,
                               const std::function<void(std::uint64_t)>& beforeOpen = nullptr,
                               OutputFolders* folders = nullptr);

// ConvertFileAside, then Commit once beforeReplace (when given) has returned; should it throw,
// the new output is removed and the exception goes on.
ConvertedSizes ConvertFileBeside(const std::string& path, TableConverter& converter,
                                 const std::function<void()>& beforeReplace = nullptr,
                                 std::size_t chunkSize = kConvertChunkSize,
                                 ThreadBudget* budget = nullptr);

}  // namespace tavrin
