#include "SystemHelpers.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "WideText.h"
#else
#include <limits.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace tavrin::cli {

std::size_t OpenFileLimit() {
#ifndef _WIN32
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return SIZE_MAX;
  // The soft limit is there for programs that cannot take more; this one can.
  if (limit.rlim_cur < limit.rlim_max) {
    const rlimit raised{limit.rlim_max, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < SIZE_MAX) {
    return static_cast<std::size_t>(limit.rlim_cur);
  }
#endif
  return SIZE_MAX;
}

std::size_t AddressSpaceLimit() {
#ifndef _WIN32
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return SIZE_MAX;
  if (limit.rlim_cur < limit.rlim_max) {
    const rlimit raised{limit.rlim_max, limit.rlim_max};
    if (::setrlimit(RLIMIT_AS, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < SIZE_MAX) {
    return static_cast<std::size_t>(limit.rlim_cur);
  }
#endif
  return SIZE_MAX;
}

std::size_t AddressSpaceUsed() {
#ifdef __linux__
  // The first field: the pages of the whole address space.
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(statm, "%llu", &pages) == 1;
  std::fclose(statm);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (read && pageSize > 0)
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
#endif
  return 0;
}

void MakeThreadsSmall() {
#ifdef __GLIBC__
  ::mallopt(M_ARENA_MAX, 1);
  // Ample for the conversion, whose buffers are on the heap.
  constexpr std::size_t kStack = std::size_t{1} << 20;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) == 0) {
    if (::pthread_attr_setstacksize(&attributes, kStack) == 0) {
      ::pthread_setattr_default_np(&attributes);
    }
    ::pthread_attr_destroy(&attributes);
  }
#endif
}

#ifndef _WIN32
EndingSignals::EndingSignals() {
  sigemptyset(&set_);
  for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      sigaddset(&set_, signal);
    }
  }
  ::pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

int EndingSignals::Taken() {
  const timespec now{};
  const int signal = ::sigtimedwait(&set_, nullptr, &now);
  return signal > 0 ? signal : 0;
}

void EndingSignals::EndBy(int signal) {
  // Raised at this thread, the only one that lets it through.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::_exit(128 + signal);
}
#else
namespace {

// The console event that has come, plus one, or 0.
std::atomic<int> ctrlEvent{0};

// The system ends the process about 5 s after a close; logoff and shutdown give a little more.
constexpr DWORD kOrderWait = 4000;

BOOL WINAPI OnCtrlEvent(DWORD type) {
  int none = 0;
  ctrlEvent.compare_exchange_strong(none, static_cast<int>(type) + 1);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // Returning would end the process at once. The main thread puts things in order and ends
    // it, this thread with it, in EndBy; this wait only bounds how long that may take.
    ::Sleep(kOrderWait);
  }
  return TRUE;
}

}  // namespace

EndingSignals::EndingSignals() {
  ::SetConsoleCtrlHandler(OnCtrlEvent, TRUE);
}

int EndingSignals::Taken() {
  return ctrlEvent.load();
}

void EndingSignals::EndBy(int) {
  // With the status the default handling of Ctrl-C gives, but without the exit routines: the
  // other threads may hold any lock they would take.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  std::_Exit(static_cast<int>(STATUS_CONTROL_C_EXIT));
}
#endif

std::size_t LongestPath() {
#ifdef _WIN32
  // 32767 UTF-16 units in the long form; each is at most three bytes of UTF-8.
  return 32767 * 3;
#else
  // PATH_MAX counts the terminating NUL.
  return PATH_MAX - 1;
#endif
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) == 1;
#endif
}

std::FILE* OpenForReading(const std::string& name) {
#ifdef _WIN32
  std::wstring wide;
  if (name.find('\0') != std::string::npos || !WideFromUtf8(name, wide) || !NamesItself(wide)) {
    return nullptr;
  }
  return ::_wfopen(SystemName(wide).c_str(), L"rb");
#else
  if (name.find('\0') != std::string::npos) return nullptr;
  return std::fopen(name.c_str(), "rb");
#endif
}

void MakeStdinBinary() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
}

std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count); wide != nullptr) {
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return arguments;
  }
#endif
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace tavrin::cli
