// What the file routines need from each platform, and the steps they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "FileIOTools.h"

namespace tavrin::platform {

// A regular file open for reading from its start; anything else is the open error. On Windows
// nobody else can open the file while it is held.
class InputFile {
 public:
  // beforeOpen, when given, hears the size the file has just before it is opened; it may wait, or
  // throw to give the file up.
  explicit InputFile(const std::string& fileName,
                     const std::function<void(std::uint64_t)>& beforeOpen = nullptr);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
  const FileIdentity& Identity() const { return identity_; }
  // The size the file reports at the open: a first guess, for it may change while it is read.
  std::uint64_t ReportedSize() const { return reportedSize_; }
  // Fills buffer[0, size) from the file; returns less than size only at its end.
  std::size_t Read(char* buffer, std::size_t size);
  // Once the file is read: raises the read error when it changed meanwhile (another program
  // cut it short or wrote to it), since what was read is then neither the old file nor the new.
  void CheckUnchanged() const;
  // Whether another program changed the file after it was opened (wrote to it or cut it), or
  // its name now leads to another file or to none.
  bool ChangedSinceOpened() const;

 private:
  std::string fileName_;
  std::intptr_t handle_ = -1;
  FileIdentity identity_;
  std::uint64_t reportedSize_ = 0;
  std::int64_t changedSeconds_ = 0;
  std::int64_t changedNanoseconds_ = 0;
};

// A new file beside fileName that takes that name only once Commit finds it complete; removed
// again if Commit is never reached. Refuses a name that leads to mustNotBe (when given), a link,
// or anything but a writable regular file, at the latest just before the replace.
class ReplacingFile {
 public:
  // folders: see ConvertFileAside.
  ReplacingFile(const std::string& fileName, const FileIdentity* mustNotBe,
                OutputFolders* folders = nullptr);
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();
  void Write(std::string_view bytes);
  // Raises the create error now where the name is not looked at until Commit and holds
  // something that must stay: on the way to Commit, that error comes before any other.
  void CheckName();
  // Whether the folder's name now leads to another folder or to none: the output would go
  // elsewhere if it were made now.
  bool FolderChanged() const;
  void Commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Writes contents through a ReplacingFile.
void WriteReplacing(const std::string& fileName, std::string_view contents,
                    const FileIdentity* mustNotBe);

// A run of conversions begins: the first output it makes in a folder removes what killed runs
// left there, also where an earlier run of this process has done so. A window stays open for
// days, and a run killed meanwhile may have left files in a folder it swept before.
void SweepFoldersAgain();

// Fills text, sized to the file's reported size, from readUpTo (which returns less than asked
// only at the end of the file), then reads on to the real end: the reported size is a first
// guess, since procfs files report 0 and a file may grow or shrink while it is read. One small
// read after the measured part nearly always confirms the end without growing the text.
void ReadToEnd(std::string& text, const std::function<std::size_t(char*, std::size_t)>& readUpTo,
               const std::string& fileName);

// The name of a new output under way: ".tavrin-", twelve letters from the random bytes, and four
// letters that a later run checks with IsTemporaryName to know the name for one of ours. When
// the system gave fewer than twelve (a system-call filter refuses its random source), two names
// made at once, in this process or another, must still differ, or the second output of a folder
// could not be created: the time, process and thread (and a count kept here) set them apart;
// scrambled, they are still hard to guess ahead.
std::string TemporaryName(const unsigned char (&random)[12], std::size_t randomGot,
                          std::uint64_t time, std::uint64_t process, std::uint64_t thread);
bool IsTemporaryName(std::string_view name);

}  // namespace tavrin::platform
