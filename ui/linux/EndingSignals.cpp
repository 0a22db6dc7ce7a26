#include "EndingSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "FileIOTools.h"

namespace tavrin {

namespace {

// The handler only tells the event loop which signal came; all else happens there.
int signalPipe[2] = {-1, -1};

void OnEndingSignal(int signal) {
  const int saved = errno;
  const auto number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t wrote = ::write(signalPipe[1], &number, 1);
  errno = saved;
}

void EndBy(int signal) {
  // The new files with a name are removed under the lock that makes them, which no signal
  // handler may take; after it, no worker makes another or gives one an output's name.
  RemoveNamedNewFiles();
  ::signal(signal, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

}  // namespace

void EndOnSignalsWithoutLeftovers() {
  if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  // The event loop also runs while a batch run waits for its files, so a signal is taken there
  // too, between two files or in the middle of one.
  auto* notifier =
      new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    unsigned char signal = 0;
    if (::read(signalPipe[0], &signal, 1) == 1) EndBy(signal);
  });
  for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    // The workers' reads and writes go on where the signal lands on their thread.
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace tavrin
