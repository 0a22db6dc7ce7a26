// tavrin-convert as a user runs it: the built program in a child process, on files in a
// temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

namespace tavrin::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTable = "&amp;=&\r\n";
constexpr const char* kInput = "<b>x</b>&amp;";
constexpr const char* kWithTable = "x&";
constexpr const char* kTagsOnly = "x&amp;";

class ConvertCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = ConvertToolPath();
    ASSERT_FALSE(tool_.empty()) << "tavrin-convert not found: set TAVRIN_CONVERT";
    WriteBytes(work_ / "CEntity.txt", kTable);
  }

  ChildResult Run(std::vector<std::string> args, const ChildSetup& setup = {},
                  const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), tool_);
    return RunChild(args, setup, work_.Path().string(), env);
  }

  // Input files f0.html, f1.html ..., each holding its index inside a tag.
  std::vector<std::string> MakeFiles(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      names.push_back("f" + std::to_string(i) + ".html");
      WriteBytes(work_ / names.back(), "<p>" + std::to_string(i) + "</p>&amp;");
    }
    return names;
  }
  static std::string Converted(int i) { return std::to_string(i) + "&"; }
  static std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
  }

  bool Exists(const std::string& name) const { return fs::exists(work_.Path() / name); }
  std::string Read(const std::string& name) const { return ReadBytes(work_ / name); }

  TempDir work_;
  std::string tool_;
};

// ---- options and exit status ----

TEST_F(ConvertCommandTest, HelpAndVersionThatCannotBeWrittenAreNoSuccess) {
  const ChildSetup fullDisk = [] {
    const int full = ::open("/dev/full", O_WRONLY);
    return full >= 0 && ::dup2(full, 1) == 1;
  };
  for (const char* option : {"--help", "--version"}) {
    const ChildResult run = Run({option}, fullDisk);
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_EQ(run.err, "tavrin-convert: write error\n") << option;
  }
}

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;                    // stdout contains this
  std::string err;                    // stderr contains this ("" when stderr must be empty)
  std::optional<std::string> output;  // what a.html.txt (or -a.html.txt) holds, if written
  bool table = true;                  // CEntity.txt present in the folder
  std::string list = "";              // what names.lst holds
};

TEST_F(ConvertCommandTest, OptionsAndExitStatus) {
  const std::string version = TAVRIN_VERSION;
  const std::vector<OptionCase> cases = {
      {"help", {"--help"}, 0, "Usage: tavrin-convert [OPTIONS] FILE...", "", std::nullopt},
      {"help lists statuses", {"--help", "a.html"}, 0, "  2  usage error", "", std::nullopt},
      {"version", {"--version"}, 0, "tavrin-convert (tavrin) " + version + "\n", "", std::nullopt},
      {"one file, silent", {"a.html"}, 0, "", "", kWithTable},
      {"verbose summary",
       {"--verbose", "a.html"},
       0,
       "",
       "tavrin-convert: 1 file, 13 bytes in",
       kWithTable},
      {"all options",
       {"--table=CEntity.txt", "--codepage", "932", "-j", "1", "--keep-going", "--quiet", "a.html"},
       0,
       "",
       "",
       kWithTable},
      {"option after file", {"a.html", "--jobs=2"}, 0, "", "", kWithTable},
      {"bundled short options", {"-0j3", "a.html"}, 0, "", "", kWithTable},
      {"table missing: notice",
       {"a.html"},
       0,
       "",
       "ファイル CEntity.txt は開けません",
       kTagsOnly,
       false},
      {"table missing, quiet", {"--quiet", "a.html"}, 0, "", "", kTagsOnly, false},
      {"named table missing",
       {"--table", "none.txt", "a.html"},
       1,
       "",
       "tavrin-convert: ファイル none.txt は開けません\n",
       std::nullopt},
      {"input missing",
       {"none.html"},
       1,
       "",
       "tavrin-convert: ファイル none.html は開けません\n",
       std::nullopt},
      {"list missing",
       {"--files-from", "none.lst"},
       1,
       "",
       "ファイル none.lst は開けません",
       std::nullopt},
      {"list is a folder", {"--files-from", "."}, 1, "", "ファイル . は開けません", std::nullopt},
      // Names in messages are shown as the window shows them: whole, on one line.
      {"name holding a NUL",
       {"--files-from", "names.lst"},
       1,
       "",
       "tavrin-convert: ファイル a\u2400b.html は開けません\n",
       std::nullopt,
       true,
       std::string("a\0b.html\n", 9)},
      {"name holding a newline and a byte that does not decode",
       {"-0", "--files-from", "names.lst", "--keep-going"},
       1,
       "",
       "tavrin-convert: ファイル \\xFFnew\u240Aline.html は開けません\n",
       std::nullopt,
       true,
       std::string("\xffnew\nline.html\0", 15)},
      // Endless lists: refused at the first entry, without reading on.
      {"list of empty names",
       {"-0", "--files-from", "/dev/zero", "a.html"},
       2,
       "",
       "tavrin-convert: empty file name: entry 1 of '/dev/zero'\n",
       std::nullopt},
      {"list of one endless name",
       {"--files-from", "/dev/zero", "a.html"},
       2,
       "",
       "tavrin-convert: file name too long: entry 1 of '/dev/zero'\n",
       std::nullopt},
      {"dash file after --", {"--", "-a.html"}, 0, "", "", kWithTable},
      {"dash file as option", {"-a.html"}, 2, "", "invalid option -- 'a'", std::nullopt},
      {"no file", {}, 2, "", "Try 'tavrin-convert --help'", std::nullopt},
      {"only options", {"--quiet"}, 2, "", "missing FILE", std::nullopt},
      {"only empty lists",
       {"--files-from", "/dev/null", "--files-from=/dev/null"},
       2,
       "",
       "tavrin-convert: missing FILE\nTry 'tavrin-convert --help'",
       std::nullopt},
      {"empty name", {"", "a.html"}, 2, "", "empty file name", std::nullopt},
      {"empty list name",
       {"a.html", "--files-from="},
       2,
       "",
       "tavrin-convert: empty file name for option '--files-from'\n",
       std::nullopt},
      {"unknown option", {"--fast", "a.html"}, 2, "", "unrecognized option '--fast'", std::nullopt},
      {"value missing", {"a.html", "--table"}, 2, "", "requires an argument", std::nullopt},
      {"flag with value", {"--quiet=yes", "a.html"}, 2, "", "doesn't allow", std::nullopt},
      {"bad code page", {"--codepage", "437", "a.html"}, 2, "", "437", std::nullopt},
      {"no jobs", {"-j", "0", "a.html"}, 2, "", "invalid number of jobs", std::nullopt},
      {"jobs not a number", {"--jobs=2x", "a.html"}, 2, "", "invalid number of jobs", std::nullopt},
      {"jobs too many", {"-j99999999999", "a.html"}, 2, "", "invalid number of jobs", std::nullopt},
      {"jobs negative", {"-j", "-1", "a.html"}, 2, "", "invalid number of jobs", std::nullopt},
      {"jobs missing", {"a.html", "-j"}, 2, "", "requires an argument -- 'j'", std::nullopt},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"a.html", "-a.html"}) {
      WriteBytes(work_ / name, kInput);
      fs::remove(work_.Path() / (std::string(name) + ".txt"));
    }
    if (c.table) {
      WriteBytes(work_ / "CEntity.txt", kTable);
    } else {
      fs::remove(work_.Path() / "CEntity.txt");
    }
    WriteBytes(work_ / "names.lst", c.list);
    const ChildResult run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
    const std::string written = Exists("a.html.txt") ? "a.html.txt" : "-a.html.txt";
    EXPECT_EQ(Exists(written), c.output.has_value());
    if (c.output && Exists(written)) {
      EXPECT_EQ(Read(written), *c.output);
    }
  }
}

// ---- names from a list ----

TEST_F(ConvertCommandTest, FilesFromTakesNamesByteForByte) {
  const std::vector<std::string> plain = {"-dash.html", "\xff\xfe not utf-8.html", " spaced .html",
                                          "sub/deep.html"};
  fs::create_directory(work_.Path() / "sub");
  struct ListCase {
    const char* name;
    bool nul;
    bool standardInput;
  };
  for (const ListCase& c : {ListCase{"lines from a file", false, false},
                            ListCase{"NUL-separated from standard input", true, true}}) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names = plain;
    if (c.nul) names.push_back("new\nline.html");
    const char separator = c.nul ? '\0' : '\n';
    // A separator at the end of the list ends the last name.
    std::string list;
    for (const std::string& name : names) {
      WriteBytes(work_ / name, kInput);
      fs::remove(work_.Path() / (name + ".txt"));
      list += name + separator;
    }
    std::vector<std::string> args = {"--files-from", c.standardInput ? "-" : "names.lst"};
    if (c.nul) args.push_back("--null");
    ChildSetup setup;
    if (c.standardInput) {
      const std::string path = work_ / "names.lst";
      setup = [path] {
        const int fd = ::open(path.c_str(), O_RDONLY);
        return fd >= 0 && ::dup2(fd, 0) == 0;
      };
    }
    // An empty name between two separators is a usage error, before anything is converted.
    WriteBytes(work_ / "names.lst", names[0] + separator + separator + list);
    ChildResult run = Run(args, setup);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(std::string("empty file name: entry 2 of ") +
                           (c.standardInput ? "standard input" : "'names.lst'")),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(Exists(names[0] + ".txt"));

    WriteBytes(work_ / "names.lst", list);
    run = Run(args, setup);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string& name : names) EXPECT_EQ(Read(name + ".txt"), kWithTable) << name;
  }
}

// ---- several jobs, the outcome of one ----

TEST_F(ConvertCommandTest, JobsStopAtTheFirstFailureInListOrder) {
  constexpr int kCount = 24, kFailing = 12, kOlder = 18, kLaterFailing = 20;
  struct FailureCase {
    const char* name;
    bool missingInput;  // else a folder stands where the output goes
    std::string message;
  };
  for (const FailureCase& c :
       {FailureCase{"input missing", true, "ファイル f12.html は開けません"},
        FailureCase{"output blocked", false, "ファイル f12.html.txt を作成できません"}}) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(work_.Path())) fs::remove_all(entry.path());
    WriteBytes(work_ / "CEntity.txt", kTable);
    std::vector<std::string> files = MakeFiles(kCount);
    if (c.missingInput) {
      fs::remove(work_.Path() / files[kFailing]);
    } else {
      fs::create_directory(work_.Path() / (files[kFailing] + ".txt"));
      // Long to convert: the other jobs reach the files after it before its write fails.
      WriteBytes(work_ / files[kFailing], Repeated("<p>12</p>&amp;", 1 << 19));
    }
    fs::remove(work_.Path() / files[kLaterFailing]);
    WriteBytes(work_ / (files[kOlder] + ".txt"), "older");

    std::vector<std::string> args = {"-j", "4"};
    args.insert(args.end(), files.begin(), files.end());
    const ChildResult run = Run(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tavrin-convert: " + c.message + "\n");
    for (int i = 0; i < kFailing; ++i) EXPECT_EQ(Read(files[i] + ".txt"), Converted(i)) << i;
    for (int i = kFailing + 1; i < kCount; ++i) {
      if (i == kOlder) {
        EXPECT_EQ(Read(files[i] + ".txt"), "older");
      } else {
        EXPECT_FALSE(Exists(files[i] + ".txt")) << i;
      }
    }
  }
}

// However many jobs are asked for, no more threads than this are started.
TEST_F(ConvertCommandTest, JobsAreAtMost256) {
  constexpr int kCount = 300;
  std::vector<std::string> args = {"--verbose", "-j", "1000000"};
  const std::vector<std::string> files = MakeFiles(kCount);
  args.insert(args.end(), files.begin(), files.end());
  const ChildResult run = Run(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find(" MB/s, 256 jobs\n"), std::string::npos) << run.err;
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(Read(files[i] + ".txt"), Converted(i)) << i;
}

// Under a low limit the jobs still convert every file that one job would: outputs that wait for
// an earlier file hold descriptors, and every thread takes address space.
TEST_F(ConvertCommandTest, JobsStayWithinTheProcessLimits) {
  struct LimitCase {
    const char* name;
    ChildSetup limit;
    int count;
    int repeat;  // times each file holds its text
  };
  const std::vector<LimitCase> cases = {
      {"open files",
       [] {
         const rlimit limit{32, 32};
         return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
       },
       400, 1},
      {"address space", AddressSpaceLimit(96 << 20), 8, 320000},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer maps more than any address-space limit allows.
    if (c.repeat > 1) continue;
#endif
    const std::vector<std::string> files = MakeFiles(c.count);
    std::vector<std::string> expected;
    for (int i = 0; i < c.count; ++i) {
      WriteBytes(work_ / files[i], Repeated(Read(files[i]), c.repeat));
      expected.push_back(Repeated(Converted(i), c.repeat));
    }
    for (const char* jobs : {"1", "2", "8"}) {
      SCOPED_TRACE(jobs);
      for (const std::string& name : files) fs::remove(work_.Path() / (name + ".txt"));
      std::vector<std::string> args = {"-j", jobs};
      args.insert(args.end(), files.begin(), files.end());
      const ChildResult run = Run(args, c.limit);
      EXPECT_EQ(run.status, 0) << run.err;
      for (int i = 0; i < c.count; ++i) {
        EXPECT_TRUE(Read(files[i] + ".txt") == expected[i]) << i;
      }
    }
  }
}

// A table that can be read but not held (rows cost more than their bytes) ends the run with a
// message naming it, never an abort; a default table too, since tags-only outputs would be wrong.
TEST_F(ConvertCommandTest, WhatMemoryDoesNotHoldEndsTheRunWithAMessage) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer maps more than any address-space limit allows";
#endif
  std::string rows;
  for (int i = 0; i < 600000; ++i) rows += "p" + std::to_string(i) + "=r\n";
  WriteBytes(work_ / "CEntity.txt", rows);
  WriteBytes(work_ / "a.html", kInput);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a.html"}, {"--table", "CEntity.txt", "a.html"}}) {
    const ChildResult run = Run(args, AddressSpaceLimit(24 << 20));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(run.err.starts_with("tavrin-convert: ") &&
                run.err.find("CEntity.txt") != std::string::npos)
        << run.err;
    EXPECT_FALSE(Exists("a.html.txt"));
  }
  // Names that fit in memory, but not with what the run keeps for each, or with a failure of
  // each to report: a message, never an abort.
  WriteBytes(work_ / "CEntity.txt", kTable);
  for (const int count : {200000, 400000}) {
    SCOPED_TRACE(count);
    std::string names;
    for (int i = 0; i < count; ++i) names += "m" + std::to_string(i) + "\n";
    WriteBytes(work_ / "names.lst", names);
    const ChildResult run =
        Run({"--keep-going", "--files-from", "names.lst"}, AddressSpaceLimit(48 << 20));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with("は開けません\n") ||
                run.err.ends_with("メモリが不足しています (names.lst)\n"))
        << run.err.substr(run.err.size() - std::min<std::size_t>(run.err.size(), 200));
  }
}

// An input that an earlier file of the list writes is read as one job would read it: after,
// however the list spells the name.
TEST_F(ConvertCommandTest, JobsReadAnOutputOfTheListAfterItIsWritten) {
  // Long to convert: the second job reaches a.html.txt while a.html is still converting.
  constexpr int kRepeat = 1 << 19;
  WriteBytes(work_ / "a.html", Repeated("<i>&amp;amp;</i>", kRepeat));
  // Alone, the file has the second job read and write it while its own converts.
  const ChildResult alone = Run({"-j", "2", "a.html"});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_TRUE(Read("a.html.txt") == Repeated("&amp;", kRepeat));
  fs::create_directory_symlink(".", work_.Path() / "here");
  // Links of another name: to the output, and to the input (whose output is beside the link).
  fs::create_symlink("a.html.txt", work_.Path() / "link.html");
  fs::create_symlink("a.html", work_.Path() / "alias.html");
  for (const auto& [first, second] :
       std::vector<std::pair<std::string, std::string>>{{"a.html", "a.html.txt"},
                                                        {"a.html", work_ / "a.html.txt"},
                                                        {"a.html", "here/a.html.txt"},
                                                        {"a.html", "link.html"},
                                                        {"alias.html", "alias.html.txt"}}) {
    SCOPED_TRACE(second);
    for (const char* keepGoing : {"--jobs=2", "--keep-going"}) {
      WriteBytes(work_ / "a.html.txt", "older");
      WriteBytes(work_ / "alias.html.txt", "older");
      const ChildResult run = Run({"-j", "2", keepGoing, first, second});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(Read(second + ".txt") == std::string(kRepeat, '&')) << keepGoing;
    }
  }
}

// A file system of its own, small enough to fill; mounting it takes root.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const char* size) : path_(path) {
    fs::create_directory(path_);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tavrin-test", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string why_;
};

// A nearly full disk: a big first file, then small ones. Whatever the jobs, the files converted
// and the failure are those of one job: outputs of later files that wait for their turn never
// take the room of an earlier file.
TEST_F(ConvertCommandTest, JobsOnANearlyFullDiskFailWhereOneJobFails) {
  SmallDisk disk(work_ / "disk", "16m");
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system to fill: mount: " << disk.Why();
  constexpr int kSmall = 40;
  std::vector<std::string> files = {"disk/big.html"};
  for (int i = 0; i < kSmall; ++i) files.push_back("disk/f" + std::to_string(i) + ".html");
  struct Outcome {
    int status;
    std::string err;
    std::vector<bool> converted;
    bool operator==(const Outcome&) const = default;
  };
  for (const bool keepGoing : {false, true}) {
    SCOPED_TRACE(keepGoing ? "keep going" : "first failure");
    std::optional<Outcome> one;
    for (const char* jobs : {"1", "2", "8"}) {
      SCOPED_TRACE(jobs);
      for (const auto& entry : fs::directory_iterator(work_.Path() / "disk")) {
        fs::remove_all(entry.path());
      }
      // Plain text: each output as large as its input.
      WriteBytes(work_ / files[0], Repeated("abcdefghi\n", 450000));
      for (int i = 1; i <= kSmall; ++i)
        WriteBytes(work_ / files[i], Repeated("abcdefghi\n", 15000));
      std::vector<std::string> args = {"-j", jobs};
      if (keepGoing) args.push_back("--keep-going");
      args.insert(args.end(), files.begin(), files.end());
      const ChildResult run = Run(args);
      Outcome outcome{run.status, run.err, {}};
      for (const std::string& file : files) {
        // Plain text comes out as it went in; a complete output has the input's size.
        const fs::path output = work_.Path() / (file + ".txt");
        outcome.converted.push_back(fs::exists(output) &&
                                    fs::file_size(output) == fs::file_size(work_.Path() / file));
      }
      EXPECT_EQ(NewFilesIn(work_.Path() / "disk"), 0);
      if (!one) {
        // The disk is full part way through the list.
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(outcome.converted.front());
        EXPECT_FALSE(outcome.converted.back());
        one = outcome;
        continue;
      }
      EXPECT_EQ(outcome.status, one->status);
      EXPECT_EQ(outcome.err, one->err);
      EXPECT_EQ(outcome.converted, one->converted);
    }
  }
}

// A web mirror: an index.html in every folder, converted by the jobs side by side (which files
// wait for which: BatchRunOrder).
TEST_F(ConvertCommandTest, JobsConvertAMirrorWithAnIndexInEveryFolder) {
  std::string list;
  for (int i = 0; i < 1000; ++i) {
    const std::string folder = "site/" + std::to_string(i);
    fs::create_directories(work_.Path() / folder);
    WriteBytes(work_ / (folder + "/index.html"), "<p>" + std::to_string(i) + "</p>&amp;");
    list += folder + "/index.html\n";
  }
  WriteBytes(work_ / "names.lst", list);
  const ChildResult run = Run({"-j", "8", "--files-from", "names.lst"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(Read("site/" + std::to_string(i) + "/index.html.txt"), Converted(i)) << i;
  }
}

TEST_F(ConvertCommandTest, KeepGoingConvertsTheRestAndReportsEachFailureInOrder) {
  constexpr int kCount = 16;
  std::vector<std::string> files = MakeFiles(kCount);
  fs::create_directory(work_.Path() / "f3.html.txt");
  fs::remove(work_.Path() / "f9.html");
  std::vector<std::string> args = {"--keep-going", "-j", "4"};
  args.insert(args.end(), files.begin(), files.end());
  const ChildResult run = Run(args);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "tavrin-convert: ファイル f3.html.txt を作成できません\n"
            "tavrin-convert: ファイル f9.html は開けません\n");
  for (int i = 0; i < kCount; ++i) {
    if (i != 3 && i != 9) {
      EXPECT_EQ(Read(files[i] + ".txt"), Converted(i)) << i;
    }
  }
}

// Ended by a signal part way through, over older outputs: every output is the older one or
// complete. SIGINT and SIGTERM leave no new file behind under a name of its own. SIGKILL leaves
// at most the one that was taking its name at that moment where the file system has unnamed
// files, and more where it has none; the next run in the folder removes them, and nothing else
// named alike.
TEST_F(ConvertCommandTest, EndedBySignalLeavesNoNewFileBehind) {
  constexpr int kCount = 160;
  const std::vector<std::string> files = MakeFiles(kCount);
  std::vector<std::string> args = {tool_, "-j", "4"};
  args.insert(args.end(), files.begin(), files.end());
  const std::string stranger = ".tavrin-notmadebytavrin0";
  WriteBytes(work_ / stranger, "a stranger's file");
  auto newFiles = [&] { return NewFilesIn(work_.Path(), stranger); };
  auto expectOlderOrComplete = [&] {
    for (int i = 0; i < kCount; ++i) {
      const std::string output = Read(files[i] + ".txt");
      EXPECT_TRUE(output == "older" || output == Converted(i)) << i << ": " << output;
    }
  };
  // A test run may have started with these ignored.
  const ChildSetup defaultSignals = [] {
    return ::signal(SIGINT, SIG_DFL) != SIG_ERR && ::signal(SIGTERM, SIG_DFL) != SIG_ERR;
  };
  const ChildSetup withoutUnnamedFiles = WithoutUnnamedFiles();
  struct Case {
    int signal;
    int after;  // outputs written before the signal is sent
    bool unnamedFiles;
  };
  const Case cases[] = {
      {SIGINT, 40, true},   {SIGTERM, 100, true}, {SIGKILL, 7, true},   {SIGKILL, 61, true},
      {SIGKILL, 113, true}, {SIGKILL, 12, false}, {SIGKILL, 97, false}, {SIGTERM, 50, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.signal << " after " << c.after << " outputs"
                                      << (c.unnamedFiles ? "" : ", without unnamed files"));
    const ChildSetup setup = [&] {
      return defaultSignals() && (c.unnamedFiles || withoutUnnamedFiles());
    };
    for (const std::string& name : files) WriteBytes(work_ / (name + ".txt"), "older");
    std::atomic<bool> ended{false};
    std::thread sender;
    const auto started = [&](pid_t pid) {
      const int child = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
      // Outputs take their names in list order.
      const std::string written = work_ / (files[c.after - 1] + ".txt");
      const std::string expected = Converted(c.after - 1);
      sender = std::thread([&, child, written, expected] {
        while (!ended && ReadBytes(written) != expected) {
        }
        ::syscall(SYS_pidfd_send_signal, child, c.signal, nullptr, 0);
        ::close(child);
      });
    };
    const ChildResult run = RunChild(args, setup, work_.Path().string(), {}, started);
    ended = true;
    sender.join();
    // On a busy machine the run may have ended before the signal came.
    EXPECT_TRUE(run.status == 128 + c.signal || run.status == 0) << run.status << run.err;
    expectOlderOrComplete();
    if (c.signal != SIGKILL) {
      EXPECT_EQ(newFiles(), 0);
    } else if (c.unnamedFiles) {
      EXPECT_LE(newFiles(), 1);
    }
    // The next run, of any file in the folder.
    const ChildResult next = RunChild({tool_, files[0]}, setup, work_.Path().string());
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(newFiles(), 0);
    EXPECT_EQ(Read(stranger), "a stranger's file");
  }
}

// ---- progress ----

TEST_F(ConvertCommandTest, ProgressLineOnlyOnATerminalAndErasedAtTheEnd) {
  const std::vector<std::string> files = MakeFiles(3);
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "not quiet");
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.Ready()) << "no pseudo-terminal";
    std::vector<std::string> args = files;
    if (quiet) args.push_back("--quiet");
    const ChildResult run = Run(args, terminal.AsStderr());
    EXPECT_EQ(run.status, 0);
    const std::string shown = terminal.Output();
    if (quiet) {
      EXPECT_EQ(shown, "");
      continue;
    }
    EXPECT_NE(shown.find("\rtavrin-convert: 0/3 files, 0.0 MB"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
    // The last thing written blanks the line and returns to its start.
    const std::size_t blank = shown.find_last_not_of(' ', shown.size() - 2);
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(shown[blank], '\r');
    EXPECT_GE(shown.size() - blank - 2, std::string("tavrin-convert: 0/3 files").size());
    EXPECT_EQ(shown.back(), '\r');
  }
  // Not a terminal: the option table's silent runs.
}

// ---- many machines: the README's recipe, here with local jobs ----

TEST_F(ConvertCommandTest, GnuParallelRecipe) {
  ASSERT_EQ(std::system("command -v parallel >/dev/null"), 0)
      << "GNU parallel not found (scripts/install-deps.sh installs it)";
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) {
    const std::string folder = "corpus/part" + std::to_string(i % 3);
    fs::create_directories(work_.Path() / folder);
    names.push_back(folder + (i == 7 ? "/odd\nname -x.html" : "/page " + std::to_string(i)) +
                    ".html");
    WriteBytes(work_ / names.back(), "<p>" + std::to_string(i) + "</p>&amp;");
  }
  fs::create_directory(work_.Path() / "parallel-home");
  const ChildResult run = RunChild(
      {"/bin/sh", "-c",
       "find corpus -name '*.html' -print0 | parallel -0 -X -j2 --will-cite \"$TOOL\" --quiet"},
      {}, work_.Path().string(),
      {"TOOL=" + tool_, "PARALLEL_HOME=" + (work_ / "parallel-home"),
       "TMPDIR=" + work_.Path().string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (int i = 0; i < 30; ++i) EXPECT_EQ(Read(names[i] + ".txt"), Converted(i)) << names[i];
}

}  // namespace
}  // namespace tavrin::testing
