// tavrin-convert.exe as a user runs it in a console window, in a child process on files in a
// temporary folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TempDir.h"

namespace tavrin::testing {
namespace {

namespace fs = std::filesystem;

// This process stays when the console's Ctrl-C reaches it too.
BOOL WINAPI StayOnCtrlEvent(DWORD) {
  return TRUE;
}

// A console of this test's own, shared with the children it starts, so that a Ctrl-C sent to it
// reaches them as one typed there would. The test's own output goes on where it went.
class OwnConsole {
 public:
  OwnConsole() {
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      saved_[which - STD_ERROR_HANDLE] = ::GetStdHandle(which);
    }
    ::FreeConsole();
    ready_ = ::AllocConsole() && ::SetConsoleCtrlHandler(StayOnCtrlEvent, TRUE);
  }
  OwnConsole(const OwnConsole&) = delete;
  OwnConsole& operator=(const OwnConsole&) = delete;
  ~OwnConsole() {
    ::SetConsoleCtrlHandler(StayOnCtrlEvent, FALSE);
    ::FreeConsole();
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      ::SetStdHandle(which, saved_[which - STD_ERROR_HANDLE]);
    }
  }
  bool Ready() const { return ready_; }

 private:
  HANDLE saved_[3] = {};
  bool ready_ = false;
};

// Ended by Ctrl-C part way through: every output is the older one or complete, no new file is
// left behind, and the status is that of Ctrl-C.
TEST(WindowsConvertCommandTest, CtrlCLeavesNoNewFileBehind) {
  const wchar_t* tool = ::_wgetenv(L"TAVRIN_CONVERT");
  ASSERT_NE(tool, nullptr) << "tavrin-convert not found: set TAVRIN_CONVERT";
  TempDir work;
  WriteBytes(work / "CEntity.txt", "&amp;=&\r\n");
  constexpr int kCount = 400;
  std::wstring commandLine = L"tavrin-convert -j 4";
  for (int i = 0; i < kCount; ++i) {
    const std::string name = "f" + std::to_string(i) + ".html";
    WriteBytes(work / name, "<p>" + std::to_string(i) + "</p>&amp;");
    // Older outputs, replaced through new files beside them.
    WriteBytes(work / (name + ".txt"), "older");
    commandLine += L' ' + std::wstring(name.begin(), name.end());
  }
  auto newFileThere = [&] { return NewFilesIn(work.Path()) > 0; };

  OwnConsole console;
  if (!console.Ready()) GTEST_SKIP() << "no console of our own to send Ctrl-C to";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(::CreateProcessW(tool, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               work.Path().wstring().c_str(), &startup, &child));
  ::CloseHandle(child.hThread);
  while (::WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT && !newFileThere()) {
  }
  EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  ::WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 1;
  ::GetExitCodeProcess(child.hProcess, &status);
  ::CloseHandle(child.hProcess);
  // On a busy machine the run may have ended before the event came.
  EXPECT_TRUE(status == STATUS_CONTROL_C_EXIT || status == 0) << std::hex << status;
  EXPECT_FALSE(newFileThere());
  for (int i = 0; i < kCount; ++i) {
    const std::string output = ReadBytes(work / ("f" + std::to_string(i) + ".html.txt"));
    EXPECT_TRUE(output == "older" || output == std::to_string(i) + "&") << i << ": " << output;
  }
}

}  // namespace
}  // namespace tavrin::testing
