// Files are opened without sharing on Windows: a file that someone else holds open can be neither
// read nor replaced, whichever sharing that other holder allows.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "FileIOTools.h"
#include "TempDir.h"
#include "WatchedDevice.h"
#include "platform/windows/WideText.h"

namespace tavrin {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kHoldFileVariable[] = "TAVRIN_HOLD_FILE";
constexpr char kHolderReady[] = "tavrin-holder-ready";

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  HANDLE Get() const { return handle_; }
  HANDLE* Out() { return &handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  void Close() {
    if (Valid()) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// Another open of the file, as a viewer or an editor would hold it.
HANDLE OpenShared(const std::string& path, DWORD access, DWORD share) {
  return ::CreateFileW(testing::NativePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

template <typename Error>
void ExpectError(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error raised, expected: " << message;
  } catch (const Error& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

void ExpectHeld(const std::string& path) {
  ExpectError<EFOpenError>([&] { ReadFileToString(path); }, "ファイル " + path + " は開けません");
  ExpectError<EFCreateError>([&] { WriteStringToFile(path, "new"); },
                             "ファイル " + path + " を作成できません");
}

TEST(WindowsShareModeTest, AFileHeldInThisProcessCanBeNeitherReadNorReplaced) {
  TempDir dir;
  const std::string path = dir / "held.html";
  WriteBytes(path, "<p>old</p>");
  const struct {
    DWORD access, share;
  } holders[] = {
      {GENERIC_READ, FILE_SHARE_READ},
      {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
  };
  for (const auto& holder : holders) {
    Handle held(OpenShared(path, holder.access, holder.share));
    ASSERT_TRUE(held.Valid());
    ExpectHeld(path);
  }
  EXPECT_EQ(ReadBytes(path), "<p>old</p>");
  EXPECT_EQ(ReadFileToString(path), "<p>old</p>");
  WriteStringToFile(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
}

// This test binary started again, running only the holder below, with the file's name in
// kHoldFileVariable. Its standard output tells when the file is held; closing its standard input
// lets it go. Pipes, not waits, order the two processes.
class HolderProcess {
 public:
  explicit HolderProcess(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle childInput, childOutput;
    if (!::CreatePipe(childInput.Out(), input_.Out(), &inherit, 0) ||
        !::CreatePipe(output_.Out(), childOutput.Out(), &inherit, 0)) {
      return;
    }
    // The child must not inherit our ends, or it would never see its input close.
    ::SetHandleInformation(input_.Get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(output_.Get(), HANDLE_FLAG_INHERIT, 0);

    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self +
                              "\" --gtest_filter=WindowsShareModeTest.DISABLED_HolderProcess"
                              " --gtest_also_run_disabled_tests";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput.Get();
    startup.hStdOutput = childOutput.Get();
    startup.hStdError = childOutput.Get();
    PROCESS_INFORMATION info{};
    ::SetEnvironmentVariableA(kHoldFileVariable, path.c_str());
    started_ = ::CreateProcessA(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &info);
    ::SetEnvironmentVariableA(kHoldFileVariable, nullptr);
    if (!started_) return;
    *process_.Out() = info.hProcess;
    ::CloseHandle(info.hThread);
  }

  // Reads the child's output until it says the file is held, or ends.
  bool WaitUntilHolding() {
    while (transcript_.find(kHolderReady) == std::string::npos) {
      if (!ReadSome()) return false;
    }
    return true;
  }

  // Closes the child's input, reads the rest of its output and returns its exit code.
  DWORD Release() {
    input_.Close();
    while (ReadSome()) {
    }
    ::WaitForSingleObject(process_.Get(), INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

  bool Started() const { return started_; }
  const std::string& Transcript() const { return transcript_; }

 private:
  bool ReadSome() {
    char buffer[512];
    DWORD got = 0;
    if (!::ReadFile(output_.Get(), buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
    transcript_.append(buffer, got);
    return true;
  }

  Handle input_, output_;
  Handle process_;
  bool started_ = false;
  std::string transcript_;
};

TEST(WindowsShareModeTest, AFileHeldByAnotherProcessCanBeNeitherReadNorReplaced) {
  TempDir dir;
  const std::string path = dir / "held.html";
  WriteBytes(path, "<p>old</p>");
  HolderProcess holder(path);
  ASSERT_TRUE(holder.Started());
  ASSERT_TRUE(holder.WaitUntilHolding()) << holder.Transcript();
  ExpectHeld(path);
  EXPECT_EQ(holder.Release(), 0u) << holder.Transcript();
  EXPECT_EQ(ReadFileToString(path), "<p>old</p>");
}

// The other side of the test above; runs only when started by it.
TEST(WindowsShareModeTest, DISABLED_HolderProcess) {
  const char* path = std::getenv(kHoldFileVariable);
  if (path == nullptr) GTEST_SKIP() << "started by the held-file test only";
  Handle held(OpenShared(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  ASSERT_TRUE(held.Valid()) << "cannot hold " << path;
  std::printf("%s\n", kHolderReady);
  std::fflush(stdout);
  char buffer[64];
  DWORD got = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
  }
}

// Windows drops a trailing dot from each part of a name, and a trailing space from its last part,
// before it looks: such a name, which a file may well carry, would name another file.
TEST(WindowsShareModeTest, ANameThatWindowsWouldShortenNamesNoFile) {
  TempDir dir;
  const std::wstring exact = L"\\\\?\\" + testing::NativePath(dir / "").wstring();
  ::CreateDirectoryW((exact + L"sub").c_str(), nullptr);
  ::CreateDirectoryW((exact + L"sub.").c_str(), nullptr);
  WriteBytes(dir / "a.html", "<p>another file</p>");
  WriteBytes(dir / "sub\\a.html", "<p>another file</p>");
  for (const std::string name : {"a.html.", "a.html ", "sub.\\a.html"}) {
    const std::string path = dir / name;
    ExpectError<EFOpenError>([&] { ReadFileToString(path); }, "ファイル " + path + " は開けません");
    ExpectError<EFCreateError>([&] { WriteStringToFile(path, "new"); },
                               "ファイル " + path + " を作成できません");
  }
  EXPECT_EQ(ReadBytes(dir / "a.html"), "<p>another file</p>");
  EXPECT_EQ(ReadBytes(dir / "sub\\a.html"), "<p>another file</p>");
  ::RemoveDirectoryW((exact + L"sub.").c_str());
}

// From MAX_PATH on, a name reaches the system in its "\\?\" form, which knows no such limit.
TEST(WindowsShareModeTest, LongNamesTakeTheirExactForm) {
  const std::wstring part(100, L'p');
  const std::wstring longName = part + L'\\' + part + L'\\' + part;
  const std::wstring here = std::filesystem::current_path().wstring();
  const struct {
    std::wstring name, expected;
  } cases[] = {
      {L"C:\\short\\page.html", L"C:\\short\\page.html"},
      {L"page.html", L"page.html"},
      {L"C:\\" + longName, L"\\\\?\\C:\\" + longName},
      {L"C:/x/../" + part + L"/./" + part + L"/" + part, L"\\\\?\\C:\\" + longName},
      {L"\\\\server\\share\\" + longName, L"\\\\?\\UNC\\server\\share\\" + longName},
      {L"\\\\?\\C:\\" + longName + L".", L"\\\\?\\C:\\" + longName + L"."},
      {longName, L"\\\\?\\" + here + (here.ends_with(L'\\') ? L"" : L"\\") + longName},
  };
  for (const auto& c : cases) EXPECT_EQ(SystemName(c.name), c.expected) << Utf8FromWide(c.name);
}

// Windows enforces MAX_PATH where Wine does not; the write must not depend on it either way.
TEST(WindowsShareModeTest, FilesUnderLongPathsAreConverted) {
  TempDir dir;
  // The output under the limit with its temporary beyond it, and everything beyond it.
  for (const std::size_t length : {250u, 300u}) {
    const std::string base = dir / "";
    const std::string folder = base + std::string(length - base.size() - 8, 'd');
    const std::string input = folder + "\\p.html";
    ASSERT_TRUE(std::filesystem::create_directory(testing::NativePath(folder)));
    WriteBytes(input, "<p>long</p>");
    ASSERT_EQ(ReadFileToString(input), "<p>long</p>");
    ConvertFileBeside(input, [](std::string text) { return text + "!"; });
    EXPECT_EQ(ReadBytes(input + ".txt"), "<p>long</p>!");
    // Listed by the system itself: the C runtime's listing stops at MAX_PATH.
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const std::wstring all = L"\\\\?\\" + testing::NativePath(folder).wstring() + L"\\*";
    HANDLE search = ::FindFirstFileW(all.c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
      names.insert(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"p.html", L"p.html.txt"})) << length;
    // The C runtime cannot remove it either.
    for (const std::wstring& name : names) {
      if (name != L"." && name != L"..")
        ::DeleteFileW((all.substr(0, all.size() - 1) + name).c_str());
    }
    EXPECT_TRUE(::RemoveDirectoryW(all.substr(0, all.size() - 2).c_str())) << length;
  }
}

// A device's name, in any folder and with any extension, is refused before anything opens the
// device: an open alone can change a serial line.
TEST(WindowsShareModeTest, DevicesAreNotFiles) {
  testing::WatchedDevice device;
  ASSERT_TRUE(device.Ready());
  TempDir dir;
  // Inside a folder too, as Wine and Windows before 11 take such names.
  const std::vector<std::string> names = {"NUL",       "CON",          "com9",
                                          "COM9:",     "\\\\.\\COM9",  dir / "com9.html",
                                          dir / "AUX", dir / "nul.txt"};
  for (const std::string& name : names) {
    ExpectError<EFOpenError>([&] { ReadFileToString(name); }, "ファイル " + name + " は開けません");
    ExpectError<EFCreateError>([&] { WriteStringToFile(name, "x"); },
                               "ファイル " + name + " を作成できません");
  }
  EXPECT_FALSE(device.Opened());
}

}  // namespace
}  // namespace tavrin
#endif  // _WIN32
