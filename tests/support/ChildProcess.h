// Running a program in a child process whose limits or user the test chooses (a file-size
// limit, an unprivileged user), collecting what it prints; and finding the headless harness.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavrin::testing {

struct ChildResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// Set up in the child between fork and exec; returns false when it cannot, and the child then
// exits with status 127 without running the program.
using ChildSetup = std::function<bool()>;

// Runs argv[0] (a path) with the current environment plus extraEnv ("NAME=value"), in folder
// cwd when not empty, and waits for it. started, when given, gets the running child's id, to
// act on it while it runs.
inline ChildResult RunChild(const std::vector<std::string>& argv, const ChildSetup& setup = {},
                            const std::string& cwd = {},
                            const std::vector<std::string>& extraEnv = {},
                            const std::function<void(pid_t)>& started = {}) {
  // Everything the child needs is built before the fork: after it only plain system calls run.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const std::string& entry : extraEnv) env.push_back(const_cast<char*>(entry.c_str()));
  for (char** entry = environ; *entry != nullptr; ++entry) env.push_back(*entry);
  env.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (setup && !setup()) ::_exit(127);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (started && pid > 0) started(pid);
  ChildResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// A pseudo-terminal to stand for a child's standard error, for programs that behave
// differently on a terminal. Raw mode: what the child writes arrives byte for byte.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return;
    // Held open here until Output(): a terminal whose last other end closes reads as ended.
    terminal_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (terminal_ < 0 || ::tcgetattr(terminal_, &mode) != 0) return;
    ::cfmakeraw(&mode);
    ::tcsetattr(terminal_, TCSANOW, &mode);
    // Read all along, so a child that writes much never waits for the test.
    reader_ = std::thread([this] {
      char buffer[4096];
      ssize_t got = 0;
      while ((got = ::read(master_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) output_.append(buffer, static_cast<std::size_t>(got));
      }
    });
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  ~PseudoTerminal() {
    Output();
    if (master_ >= 0) ::close(master_);
  }

  bool Ready() const { return reader_.joinable(); }

  // Set up in the child: the terminal becomes its standard error.
  ChildSetup AsStderr() const {
    return [fd = terminal_] { return ::dup2(fd, 2) == 2; };
  }

  // Everything written to the terminal; call once the child has ended.
  const std::string& Output() {
    if (terminal_ >= 0) ::close(terminal_);
    terminal_ = -1;
    if (reader_.joinable()) reader_.join();
    return output_;
  }

 private:
  int master_ = -1;
  int terminal_ = -1;
  std::thread reader_;
  std::string output_;
};

// A child that may write files of at most this many bytes, and that gets a write error rather
// than a signal when it tries more: a disk that fills up.
inline ChildSetup FileSizeLimit(rlim_t bytes) {
  return [bytes] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  };
}

// A child that may map at most this many bytes: a machine short of memory. Not for programs
// built with AddressSanitizer, which maps far more than it uses.
inline ChildSetup AddressSpaceLimit(rlim_t bytes) {
  return [bytes] {
    const rlimit limit{bytes, bytes};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
  };
}

// Makes the system call nr fail with error from now on, in this thread and those it starts;
// with flags, only the calls whose argument arg has one of those bits set.
inline bool RefuseCall(long nr, int error, unsigned arg = 0, std::uint32_t flags = 0) {
  // The low half of the argument on this (little-endian) machine.
  const auto argument = static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * arg);
  const auto number = static_cast<std::uint32_t>(nr);
  const auto refuse = static_cast<std::uint32_t>(SECCOMP_RET_ERRNO | error);
  std::vector<sock_filter> rules = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  if (flags == 0) {
    rules.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1));
  } else {
    rules.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 3));
    rules.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument));
    rules.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flags, 0, 1));
  }
  rules.push_back(BPF_STMT(BPF_RET | BPF_K, refuse));
  rules.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog program{static_cast<unsigned short>(rules.size()), rules.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A child whose getrandom calls fail, as under a container's older system-call filter.
inline ChildSetup WithoutGetrandom() {
  return [] { return RefuseCall(SYS_getrandom, ENOSYS); };
}

// A child on a file system without unnamed files (O_TMPFILE), as many network file systems.
inline ChildSetup WithoutUnnamedFiles() {
  return [] { return RefuseCall(SYS_openat, EOPNOTSUPP, 2, O_TMPFILE & ~O_DIRECTORY); };
}

// The unprivileged user a root test drops to, so that permission bits bind; none when the
// tests do not run as root or the system has no such user.
inline std::optional<passwd> UnprivilegedUser() {
  if (::geteuid() != 0) return std::nullopt;
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return std::nullopt;
  return *nobody;
}

inline ChildSetup AsUser(const passwd& user) {
  return [uid = user.pw_uid, gid = user.pw_gid] {
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
  };
}

// A copy of the program in folder, which the caller has opened to everyone: a user dropped to
// may not reach the build, e.g. when the checkout lies in root's home.
inline std::string ReachableCopy(const std::string& program, const std::filesystem::path& folder) {
  const std::filesystem::path copy = folder / std::filesystem::path(program).filename();
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, std::filesystem::perms(0755));
  return copy.string();
}

// Runs body in a forked child of this process and returns its exit status (or 100 + signal);
// the child ends without cleaning up, as a killed program does.
inline int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Runs body in a child process, on a thread whose reads of the file path are held before they
// happen: change runs before the n-th of them, as another program changing the file just then.
inline int ChangedBeforeRead(const std::string& path, int n, const std::function<void()>& change,
                             const std::function<int()>& body) {
  const std::string target = std::filesystem::canonical(path).string();
  return InChild([&] {
    std::atomic<int> listener{-2};
    int result = 4;
    std::thread reader([&] {
      sock_filter rules[] = {
          BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_read, 0, 1),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      };
      sock_fprog program{static_cast<unsigned short>(std::size(rules)), rules};
      const int fd = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                         ? static_cast<int>(::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                                                      SECCOMP_FILTER_FLAG_NEW_LISTENER, &program))
                         : -1;
      listener = fd;
      listener.notify_one();
      if (fd >= 0) result = body();
    });
    listener.wait(-2);
    const int fd = listener;
    // Until the thread has ended, each read it makes is let through here.
    for (int reads = 0; fd >= 0;) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, -1) < 0 && errno == EINTR) continue;
      if ((ready.revents & POLLIN) == 0) break;
      seccomp_notif request{};
      if (::ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) continue;
      std::error_code error;
      const std::filesystem::path read = std::filesystem::read_symlink(
          "/proc/self/fd/" + std::to_string(request.data.args[0]), error);
      if (!error && read == target && ++reads == n) change();
      seccomp_notif_resp response{};
      response.id = request.id;
      response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
      ::ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &response);
    }
    reader.join();
    return result;
  });
}

// The headless harness: named by TAVRIN_CONVERT (the test build sets it), else looked for
// beside the build's tests; "" when there is none.
inline std::string ConvertToolPath() {
  if (const char* path = std::getenv("TAVRIN_CONVERT"); path != nullptr && *path != '\0') {
    return path;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  for (const char* relative : {"../cli/tavrin-convert", "../../cli/tavrin-convert"}) {
    const std::filesystem::path candidate = self.parent_path() / relative;
    if (std::filesystem::exists(candidate, error)) return candidate.lexically_normal().string();
  }
  return {};
}

}  // namespace tavrin::testing

#endif  // !_WIN32
