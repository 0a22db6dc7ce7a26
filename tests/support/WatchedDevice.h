// A device name that tells whether anyone opened it: COM9, in every form Windows takes it
// ("COM9", "\\.\COM9", "dir\com9.html" before Windows 11), is made to lead to a pipe of the
// test's own, which sees a connection.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace tavrin::testing {

class WatchedDevice {
 public:
  WatchedDevice() {
    const std::wstring pipeName = L"tavrin-device-" + std::to_wstring(::GetCurrentProcessId());
    target_ = L"\\Device\\NamedPipe\\" + pipeName;
    pipe_ = ::CreateNamedPipeW((L"\\\\.\\pipe\\" + pipeName).c_str(),
                               PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0,
                               PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    connected_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    waiting_.hEvent = connected_;
    ready_ = pipe_ != INVALID_HANDLE_VALUE && connected_ != nullptr &&
             !::ConnectNamedPipe(pipe_, &waiting_) && ::GetLastError() == ERROR_IO_PENDING &&
             ::DefineDosDeviceW(DDD_RAW_TARGET_PATH, kName, target_.c_str());
  }
  WatchedDevice(const WatchedDevice&) = delete;
  WatchedDevice& operator=(const WatchedDevice&) = delete;
  ~WatchedDevice() {
    if (ready_) {
      ::DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                         kName, target_.c_str());
    }
    if (pipe_ != INVALID_HANDLE_VALUE) {
      ::CancelIo(pipe_);
      ::CloseHandle(pipe_);
    }
    if (connected_ != nullptr) ::CloseHandle(connected_);
  }
  bool Ready() const { return ready_; }
  bool Opened() const { return ::WaitForSingleObject(connected_, 0) == WAIT_OBJECT_0; }

  static constexpr const wchar_t* kName = L"COM9";

 private:
  std::wstring target_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE connected_ = nullptr;
  OVERLAPPED waiting_{};
  bool ready_ = false;
};

}  // namespace tavrin::testing
#endif  // _WIN32
