// The few things the converter asks of the system that differ between POSIX and Windows.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

namespace tavrin::cli {

// How many files this process may hold open at once, after raising its own limit as far as the
// system allows; SIZE_MAX where there is no such limit.
std::size_t OpenFileLimit();

// The address space this process may take (ulimit -v), after raising its own limit as far as the
// system allows; SIZE_MAX where there is no such limit.
std::size_t AddressSpaceLimit();

// The address space this process takes now; 0 where the system does not tell.
std::size_t AddressSpaceUsed();

// For a run under a limit of address space: threads started from now on take small stacks, and
// all share one allocator arena, so that a thread costs little more than the memory its work
// needs (an arena of its own reserves tens of megabytes, as does a default stack).
void MakeThreadsSmall();

// The signals that end a run (hangup, interrupt, termination), held back from construction on
// in this thread and every thread it starts later, so that this one takes them when it can put
// things in order first. A signal ignored from the start (nohup, a background job) stays ignored.
// On Windows the console's events instead (Ctrl-C, Ctrl-Break, the console closed, logoff,
// shutdown): its handler only records the event, and for the last three, after which the system
// ends the process as soon as the handler returns, waits a while for EndBy. Ctrl-C disabled from
// the start (a new process group) stays disabled.
class EndingSignals {
 public:
  EndingSignals();
  // The signal or event that has come, or 0.
  int Taken();
  // Ends the process as the signal does by default; on Windows with the status of Ctrl-C
  // (STATUS_CONTROL_C_EXIT) whatever the event.
  [[noreturn]] static void EndBy(int signal);

 private:
#ifndef _WIN32
  sigset_t set_;
#endif
};

// The longest file name, in bytes as the program holds it, that the system could open: longer
// ones are surely no file.
std::size_t LongestPath();

// Whether the stream is a terminal (a console on Windows), where a progress line belongs.
bool IsTerminal(std::FILE* stream);

// The program's arguments as the file layer takes names: as given on POSIX; on Windows from
// the wide command line, as UTF-8, so that a name outside the ANSI code page is not lost.
std::vector<std::string> Arguments(int argc, char** argv);

// A file opened to read bytes, by a name as the file layer takes it (UTF-8 on Windows, so a name
// outside the ANSI code page opens its own file); nullptr when it cannot be opened.
std::FILE* OpenForReading(const std::string& name);

// Standard input read as bytes: no CR LF translation, no end at a Ctrl-Z byte.
void MakeStdinBinary();

}  // namespace tavrin::cli
