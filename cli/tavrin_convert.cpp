// tavrin-convert: the batch run without the window, for shells and scripts. Each FILE is
// converted with the table as one text (read in pieces) and written to FILE + ".txt", exactly as
// the window's Run does.
// Options, exit status and messages: PrintHelp below and the manual page tavrin-convert.1.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "BatchRun.h"
#include "CodePage.h"
#include "EntityTable.h"
#include "FileIOTools.h"
#include "ShownText.h"
#include "SystemHelpers.h"
#include "TavrinFunctions.h"

#ifndef TAVRIN_VERSION
#error "TAVRIN_VERSION must name the project version"
#endif

namespace {

using namespace tavrin;

constexpr int kConverted = 0;
constexpr int kConversionError = 1;
constexpr int kUsageError = 2;

// Far more threads than processors only cost memory and system resources: the files are read
// from disks that a few jobs keep busy.
constexpr std::size_t kMostJobs = 256;
// Open files kept for the standard streams, inherited descriptors and the libraries.
constexpr std::size_t kDescriptorsKept = 16;
// The address space a job takes at most beyond what the program holds before the run: its
// converter, its chunk and the converted text, a helper's buffers and the threads' stacks.
constexpr std::size_t kJobAddressSpace = std::size_t{32} << 20;

void PrintHelp() {
  std::fputs(
      "Usage: tavrin-convert [OPTIONS] FILE...\n"
      "Convert each HTML FILE to plain text, written beside it as FILE.txt: the rows of the\n"
      "entity table are applied in order, then every run from '<' to the next '>' is removed.\n"
      "Bytes pass unchanged; no character-set conversion takes place.\n"
      "\n"
      "  --table PATH        the entity table (default: CEntity.txt in the current folder;\n"
      "                      when that cannot be read, say so and only remove tags)\n"
      "  --codepage CP       lead bytes of double-byte characters: 932 (Shift-JIS),\n"
      "                      1252 (none) or locale (the user's locale; the default)\n"
      "  --files-from LIST   also convert the files named in LIST, one name a line\n"
      "                      (\"-\": standard input); names are taken byte for byte,\n"
      "                      and an empty name or one longer than any file name the\n"
      "                      system takes is a usage error\n"
      "  -0, --null          names in LIST end with a NUL byte, not a newline\n"
      "  -j, --jobs N        convert N files at a time, at most 256 (default: the\n"
      "                      processors this process may use); the outcome is that of\n"
      "                      one at a time\n"
      "      --keep-going    after a failed file go on with the others, and report\n"
      "                      every failure at the end\n"
      "      --quiet         no progress line and no notice about a missing table\n"
      "      --verbose       a summary line at the end: files, bytes, seconds, MB/s, jobs\n"
      "      --help          show this help and exit\n"
      "      --version       show the version and exit\n"
      "  --                  the arguments after it are files, even if they begin with '-'\n"
      "\n"
      "FILE operands are converted first, then the names of each LIST in turn. Without\n"
      "--keep-going the first file that fails, in that order, ends the run: every file\n"
      "before it is converted, nothing is written for it or any file after it, and an\n"
      "older FILE.txt stays as it was. A progress line is shown on standard error when it\n"
      "is a terminal. Error messages are those of the conversion core, in Japanese.\n"
      "\n"
      "Exit status:\n"
      "  0  every file converted\n"
      "  1  a file could not be converted, or the --table file or a LIST could not be read\n"
      "  2  usage error (unknown option, missing or bad argument, no FILE, an empty or\n"
      "     too long name in a LIST); nothing is converted\n",
      stdout);
}

// What the help and the version end with: a text that could not be written (a full disk, a
// closed pipe) is no success.
int Written() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return kConverted;
  std::fputs("tavrin-convert: write error\n", stderr);
  return kConversionError;
}

void PrintVersion() {
  std::fputs("tavrin-convert (tavrin) " TAVRIN_VERSION "\n", stdout);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr,
               "tavrin-convert: %s\n"
               "Try 'tavrin-convert --help' for more information.\n",
               message.c_str());
  return kUsageError;
}

void Report(const std::string& message) {
  std::fprintf(stderr, "tavrin-convert: %s\n", message.c_str());
}

struct Options {
  std::string table = kEntityTableFileName;
  bool tableGiven = false;
  std::optional<LeadByteSet> leadBytes;  // none: the locale's
  std::vector<std::string> lists;
  char separator = '\n';
  unsigned jobs = 0;  // 0: the usable processors
  bool keepGoing = false;
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> files;
};

// What parsing the command line ends in, when it does not go on to convert.
struct Exit {
  int status;
};

bool ParseJobs(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0) return false;
  jobs = value;
  return true;
}

// GNU-style: options and files in any order until "--"; "--name=value" or "--name value";
// short options may be bundled ("-0j4").
std::optional<Exit> ParseCommandLine(int argc, char** argv, Options& options) {
  bool optionsEnded = false;
  auto addFile = [&](std::string name) -> std::optional<Exit> {
    if (name.empty()) return Exit{UsageError("empty file name")};
    options.files.push_back(std::move(name));
    return std::nullopt;
  };
  auto setJobs = [&](std::string_view value) -> std::optional<Exit> {
    if (!ParseJobs(value, options.jobs)) {
      return Exit{UsageError("invalid number of jobs: '" + std::string(value) + "'")};
    }
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (auto exit = addFile(arg)) return exit;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
      std::optional<std::string> value;
      if (equals != std::string::npos) value = arg.substr(equals + 1);
      static constexpr std::string_view kWithValue[] = {"table", "codepage", "files-from", "jobs"};
      static constexpr std::string_view kFlags[] = {"null",    "keep-going", "quiet",
                                                    "verbose", "help",       "version"};
      const bool takesValue = std::ranges::find(kWithValue, name) != std::end(kWithValue);
      if (!takesValue && std::ranges::find(kFlags, name) == std::end(kFlags)) {
        return Exit{UsageError("unrecognized option '" + arg + "'")};
      }
      if (takesValue && !value) {
        if (i + 1 >= argc) return Exit{UsageError("option '--" + name + "' requires an argument")};
        value = argv[++i];
      }
      if (!takesValue && value) {
        return Exit{UsageError("option '--" + name + "' doesn't allow an argument")};
      }
      if (name == "table") {
        options.table = *value;
        options.tableGiven = true;
      } else if (name == "codepage") {
        if (*value == "932") {
          options.leadBytes = LeadByteSet::ShiftJis();
        } else if (*value == "1252") {
          options.leadBytes = LeadByteSet();
        } else if (*value == "locale") {
          options.leadBytes.reset();
        } else {
          return Exit{UsageError("invalid code page '" + *value + "' (932, 1252 or locale)")};
        }
      } else if (name == "files-from") {
        // As for an empty FILE: no name at all is a slip on the command line, not a list that
        // cannot be read.
        if (value->empty()) return Exit{UsageError("empty file name for option '--files-from'")};
        options.lists.push_back(*value);
      } else if (name == "jobs") {
        if (auto exit = setJobs(*value)) return exit;
      } else if (name == "null") {
        options.separator = '\0';
      } else if (name == "keep-going") {
        options.keepGoing = true;
      } else if (name == "quiet") {
        options.quiet = true;
      } else if (name == "verbose") {
        options.verbose = true;
      } else if (name == "help") {
        PrintHelp();
        return Exit{Written()};
      } else {
        PrintVersion();
        return Exit{Written()};
      }
      continue;
    }
    for (std::size_t at = 1; at < arg.size(); ++at) {
      if (arg[at] == '0') {
        options.separator = '\0';
      } else if (arg[at] == 'j') {
        if (at + 1 < arg.size()) {
          if (auto exit = setJobs(std::string_view(arg).substr(at + 1))) return exit;
        } else if (i + 1 < argc) {
          if (auto exit = setJobs(argv[++i])) return exit;
        } else {
          return Exit{UsageError("option requires an argument -- 'j'")};
        }
        break;
      } else {
        return Exit{UsageError(std::string("invalid option -- '") + arg[at] + "'")};
      }
    }
  }
  if (options.files.empty() && options.lists.empty()) return Exit{UsageError("missing FILE")};
  return std::nullopt;
}

// A list whose contents cannot be names of files: a usage error, raised before anything is
// converted.
struct BadList {
  std::string message;
};

// Appends the names in a list (a file, or standard input for "-"), cut at the separator; a
// separator at the end only ends the last name. Raises the open or read error, and BadList for
// an empty name or one longer than any the system takes: an endless source (/dev/zero) ends at
// its first entry, and no name is held in memory beyond that length.
void ReadNameList(const std::string& list, char separator, std::vector<std::string>& files) {
  const bool standardInput = list == "-";
  const std::string where = standardInput ? "standard input" : "'" + ShownPath(list) + "'";
  std::size_t entry = 1;
  auto refuse = [&](const char* what) {
    return BadList{std::string(what) + ": entry " + std::to_string(entry) + " of " + where};
  };
  if (standardInput) cli::MakeStdinBinary();
  std::FILE* in = standardInput ? stdin : cli::OpenForReading(list);
  if (in == nullptr) throw EFOpenError(list);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(
      standardInput ? nullptr : in, [](std::FILE* file) { return std::fclose(file); });
  const std::size_t longest = cli::LongestPath();
  std::string name;
  char buffer[64 << 10];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    for (const char* at = buffer; at != buffer + got;) {
      const auto rest = static_cast<std::size_t>(buffer + got - at);
      const char* end = static_cast<const char*>(std::memchr(at, separator, rest));
      name.append(at, end == nullptr ? rest : static_cast<std::size_t>(end - at));
      if (name.size() > longest) throw refuse("file name too long");
      if (end == nullptr) break;
      if (name.empty()) throw refuse("empty file name");
      files.push_back(std::move(name));
      name.clear();
      ++entry;
      at = end + 1;
    }
  }
  // A folder opens on POSIX and fails at the first read; it is no file, as for an input.
  if (std::ferror(in) != 0) {
    if (errno == EISDIR) throw EFOpenError(list);
    throw EFReadError(list);
  }
  if (!name.empty()) files.push_back(std::move(name));
}

// The progress line on a terminal: redrawn in place, erased at the end.
class ProgressLine {
 public:
  explicit ProgressLine(std::size_t total) : total_(total) {}

  void Draw(std::size_t done, std::size_t bytes, double seconds) {
    char line[160];
    const double mb = static_cast<double>(bytes) / 1e6;
    char left[32] = "--:--";
    if (done > 0 && seconds > 0) {
      const auto remaining = static_cast<unsigned long long>(
          seconds * static_cast<double>(total_ - done) / static_cast<double>(done) + 0.5);
      std::snprintf(left, sizeof left, "%llu:%02llu", remaining / 60, remaining % 60);
    }
    const int length = std::snprintf(line, sizeof line,
                                     "tavrin-convert: %zu/%zu files, %.1f MB, %.1f MB/s, %s left",
                                     done, total_, mb, seconds > 0 ? mb / seconds : 0.0, left);
    const std::size_t size = std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof line);
    std::string text = "\r" + std::string(line, size);
    if (size < shown_) text.append(shown_ - size, ' ');
    shown_ = std::max(shown_, size);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }

  void Erase() {
    if (shown_ == 0) return;
    std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), stderr);
    std::fflush(stderr);
    shown_ = 0;
  }

 private:
  std::size_t total_;
  std::size_t shown_ = 0;  // the widest line drawn, to be covered by the next
};

int Convert(const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  std::vector<std::string> files = options.files;
  const std::string* reading = nullptr;
  try {
    for (const std::string& list : options.lists) {
      reading = &list;
      ReadNameList(list, options.separator, files);
    }
  } catch (const Exception& e) {
    Report(FailureMessage(e));
    return kConversionError;
  } catch (const BadList& bad) {
    return UsageError(bad.message);
  } catch (const std::bad_alloc&) {
    // A list of more names than memory holds (an endless stream of valid names).
    Report(OutOfMemoryMessage(*reading));
    return kConversionError;
  }
  // Lists that name nothing leave no file at all, as a command line without one.
  if (files.empty()) return UsageError("missing FILE");

  ArrayOfArrayOfString table;
  try {
    table = LoadEntityTable(options.table);
  } catch (const Exception& e) {
    // As in the window: without its table the run removes tags only, after saying why.
    if (options.tableGiven) {
      Report(FailureMessage(e));
      return kConversionError;
    }
    if (!options.quiet) Report(FailureMessage(e));
  } catch (const std::bad_alloc&) {
    // Read, but its rows take more than its bytes. Without it every output would be wrong.
    Report(OutOfMemoryMessage(options.table));
    return kConversionError;
  }

  const unsigned wanted = options.jobs > 0 ? options.jobs : UsableProcessors();
  // Under a low limit of open files, fewer jobs and fewer parked outputs, so that no file fails
  // for want of a descriptor where one job would have converted it. A file under way holds up
  // to four (its input, folder, new file and a copy of it), a parked output three, and the rest
  // of the program a few.
  const std::size_t limit = cli::OpenFileLimit();
  const std::size_t descriptors = limit > kDescriptorsKept ? limit - kDescriptorsKept : 0;
  // Under a limit of address space (ulimit -v), as many jobs as fit in it, so that no file fails
  // for want of memory where one job would have converted it.
  std::size_t fitting = kMostJobs;
  if (const std::size_t space = cli::AddressSpaceLimit(); space != SIZE_MAX) {
    cli::MakeThreadsSmall();
    const std::size_t used = cli::AddressSpaceUsed();
    fitting = space > used ? (space - used) / kJobAddressSpace : 0;
  }
  const unsigned jobs = static_cast<unsigned>(std::max<std::size_t>(
      1, std::min<std::size_t>({wanted, kMostJobs, files.size(), descriptors / 4, fitting})));
  // Helpers for big files take their room too.
  const unsigned spare = static_cast<unsigned>(
      std::min<std::size_t>(wanted - std::min(wanted, jobs), fitting > jobs ? fitting - jobs : 0));
  const std::size_t mostParked = std::min<std::size_t>(
      BatchRun::kMostParked, descriptors > jobs * 4 ? (descriptors - jobs * 4) / 3 : 0);
  // Each worker has its own converter around the one prepared table, which holds a copy of its
  // own; one that memory does not allow is one worker less.
  std::vector<std::unique_ptr<TableConverter>> converters;
  try {
    const auto prepared = PrepareTable(table);
    ArrayOfArrayOfString().swap(table);
    while (converters.size() < jobs)
      converters.push_back(std::make_unique<TableConverter>(prepared));
  } catch (const std::bad_alloc&) {
    if (converters.empty()) {
      Report(OutOfMemoryMessage(options.table));
      return kConversionError;
    }
  }

  // Jobs beyond the files (one big file with -j 2) help with the reading and writing instead.
  std::optional<BatchRun> run;
  try {
    run.emplace(files, options.keepGoing, spare, mostParked, jobs);
  } catch (const std::bad_alloc&) {
    // Names that fit in memory, but not with what the run keeps for each.
    Report(OutOfMemoryMessage(options.lists.empty() ? files.back() : options.lists.back()));
    return kConversionError;
  }
  // Before the workers start, so that they inherit it: a signal that ends the run comes here,
  // where the new files under way are removed before the process ends.
  cli::EndingSignals endingSignals;
  std::vector<std::thread> threads;
  for (auto& converter : converters) {
    run->AddWorker();
    try {
      threads.emplace_back(&BatchRun::Work, &*run, std::ref(*converter));
    } catch (const std::system_error&) {
      break;
    }
  }
  std::size_t workers = threads.size();
  if (threads.size() < converters.size()) {
    // The worker that could not start runs here instead, with no progress line.
    run->Work(*converters[threads.size()]);
    ++workers;
  }

  const bool progress = !options.quiet && cli::IsTerminal(stderr);
  std::optional<ProgressLine> line;
  if (progress) {
    line.emplace(files.size());
    line->Draw(0, 0, 0);
  }
  auto endOnSignal = [&] {
    const int signal = endingSignals.Taken();
    if (signal == 0) return;
    RemoveNamedNewFiles();
    if (line) line->Erase();
    cli::EndingSignals::EndBy(signal);
  };
  while (!run->WaitFinished(std::chrono::milliseconds(100))) {
    endOnSignal();
    if (line) line->Draw(run->Done(), run->BytesIn(), elapsed());
  }
  for (std::thread& thread : threads) thread.join();
  endOnSignal();
  if (line) line->Erase();

  const auto failures = run->Failures();
  for (const auto& failure : failures) Report(failure.message);
  if (options.verbose) {
    const double seconds = elapsed();
    auto plural = [](std::size_t count) { return count == 1 ? "" : "s"; };
    std::fprintf(stderr,
                 "tavrin-convert: %zu file%s, %zu bytes in, %zu bytes out, %.3f s, %.1f MB/s, "
                 "%zu job%s\n",
                 run->Written(), plural(run->Written()), run->BytesIn(), run->BytesOut(), seconds,
                 seconds > 0 ? static_cast<double>(run->BytesIn()) / 1e6 / seconds : 0.0, workers,
                 plural(workers));
  }
  return failures.empty() ? kConverted : kConversionError;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file-size limit must turn into a write error, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  std::vector<std::string> arguments = tavrin::cli::Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  Options options;
  if (const std::optional<Exit> exit =
          ParseCommandLine(static_cast<int>(arguments.size()), pointers.data(), options)) {
    return exit->status;
  }
  InitCodePageFromLocale();
  if (options.leadBytes) SetCurrentLeadByteSet(*options.leadBytes);
  return Convert(options);
}
