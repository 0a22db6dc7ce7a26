#include <gtest/gtest.h>
#ifndef _WIN32
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <vector>

#include "FileIOTools.h"
#include "TempDir.h"

namespace tavrin {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string EveryByteValue() {
  std::string bytes;
  for (int repeat = 0; repeat < 3; ++repeat) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  }
  return bytes;
}

TEST(FileIOToolsTest, RoundTripsBytesExactly) {
  TempDir dir;
  const std::string contents[] = {
      "",
      EveryByteValue(),
      "\xEF\xBB\xBFutf8 bom",
      std::string("\xFF\xFEu\0t\0", 6),
      "lf\nonly\n",
      std::string(3 << 20, '\0'),
  };
  for (const std::string& bytes : contents) {
    WriteStringToFile(dir / "f.bin", bytes);
    EXPECT_EQ(ReadBytes(dir / "f.bin"), bytes);
    EXPECT_EQ(ReadFileToString(dir / "f.bin"), bytes);
  }
}

TEST(FileIOToolsTest, WritingEmptyTruncatesALargerFile) {
  TempDir dir;
  WriteBytes(dir / "f", std::string(10000, 'x'));
  WriteStringToFile(dir / "f", "");
  EXPECT_EQ(std::filesystem::file_size(dir / "f"), 0u);
}

template <typename Error>
void ExpectError(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    FAIL() << "no error raised, expected: " << message;
  } catch (const Error& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

TEST(FileIOToolsTest, OpenErrorsNameTheFileAsPassed) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  std::vector<std::string> names = {dir / "missing", dir / "no/such/file", dir / "folder",
                                    "CEntity-missing.txt"};
#ifndef _WIN32
  ::mkfifo((dir / "fifo").c_str(), 0600);
  names.push_back(dir / "fifo");
#endif
  for (const std::string& name : names) {
    ExpectError<EFOpenError>([&] { ReadFileToString(name); }, "ファイル " + name + " は開けません");
  }
}

TEST(FileIOToolsTest, CreateErrorsNameTheFileAsPassed) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  std::vector<std::string> names = {dir / "no/such/out.txt", dir / "folder"};
#ifndef _WIN32
  ::mkfifo((dir / "fifo").c_str(), 0600);
  names.push_back(dir / "fifo");
#endif
  for (const std::string& name : names) {
    ExpectError<EFCreateError>([&] { WriteStringToFile(name, "x"); },
                               "ファイル " + name + " を作成できません");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(FileIOToolsTest, ErrorsFormTheExpectedHierarchy) {
  EFOpenError open("a");
  const EStreamError& stream = open;
  const Exception& root = open;
  EXPECT_EQ(stream.Message(), root.Message());
  EXPECT_EQ(open.FileName(), "a");
  EXPECT_EQ(open.Format(), "ファイル %s は開けません");
}

#ifndef _WIN32
// Runs body in a child process and returns its exit status (or 100 + signal).
int InChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(FileIOToolsTest, AFullDiskIsAWriteErrorAndLeavesNoPartialOutput) {
  TempDir dir;
  const std::string out = dir / "out.txt";
  int status = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      WriteStringToFile(out, std::string(1 << 20, 'x'));
    } catch (const EFWriteError& e) {
      return e.Message() == "ファイル " + out + " に書き込めません" ? 0 : 2;
    } catch (...) {
      return 3;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(FileIOToolsTest, ReadOnlyOutputIsACreateErrorForAnOrdinaryUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user 'nobody' to drop to";
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  const std::string out = dir / "locked.txt";
  WriteBytes(out, "old");
  ::chmod(out.c_str(), 0444);
  int status = InChild([&] {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) return 4;
    try {
      WriteStringToFile(out, "new");
    } catch (const EFCreateError&) {
      return 0;
    } catch (...) {
      return 3;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(out), "old");
}
#endif  // !_WIN32

}  // namespace
}  // namespace tavrin
