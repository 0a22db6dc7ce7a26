#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "FileIOTools.h"
#include "TavrinFunctions.h"
#include "TavrinReference.h"
#include "TempDir.h"
#ifndef _WIN32
#include "ChildProcess.h"
#endif

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

// A name holding a NUL byte never reaches the system, where it would name the file before it.
std::string WithNul(const std::string& name, std::string_view after) {
  return name + '\0' + std::string(after);
}

TEST(FileIOToolsTest, OpenErrorsNameTheFileAsPassed) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  WriteBytes(dir / "page.html", "<p>page</p>");
  std::vector<std::string> names = {dir / "missing", dir / "no/such/file", dir / "folder",
                                    "CEntity-missing.txt", WithNul(dir / "page.html", ".evil")};
#ifndef _WIN32
  ::mkfifo((dir / "fifo").c_str(), 0600);
  std::filesystem::create_symlink("/dev/null", dir / "device");
  names.push_back(dir / "fifo");
  names.push_back(dir / "device");
#endif
  for (const std::string& name : names) {
    ExpectError<EFOpenError>([&] { ReadFileToString(name); }, "ファイル " + name + " は開けません");
  }
}

TEST(FileIOToolsTest, CreateErrorsNameTheFileAsPassed) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  WriteBytes(dir / "page.html", "<p>page</p>");
  std::vector<std::string> names = {dir / "no/such/out.txt", dir / "folder",
                                    WithNul(dir / "page.html", ".txt")};
#ifndef _WIN32
  ::mkfifo((dir / "fifo").c_str(), 0600);
  names.push_back(dir / "fifo");
#endif
  for (const std::string& name : names) {
    ExpectError<EFCreateError>([&] { WriteStringToFile(name, "x"); },
                               "ファイル " + name + " を作成できません");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  EXPECT_EQ(ReadBytes(dir / "page.html"), "<p>page</p>");
}

// Everything under a folder, links not followed: kind, permissions, and contents or target.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = entry.symlink_status();
    std::string& shown = entries[fs::relative(entry.path(), root).generic_string()];
    shown = std::to_string(static_cast<int>(status.type())) + " " +
            std::to_string(static_cast<int>(status.permissions())) + " ";
    if (fs::is_symlink(status)) shown += fs::read_symlink(entry.path()).string();
    if (fs::is_regular_file(status)) shown += ReadBytes(entry.path().string());
  }
  return entries;
}

// What may stand at an output's name when a file is converted beside itself. Only nothing, or
// an older output that may be written, is replaced; anything else stops with the create error
// and nothing anywhere changes, neither the input nor what a link leads to.
TEST(FileIOToolsTest, OnlyAMissingOrWritableOlderOutputIsReplaced) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<void(const std::string& input, const std::string& output)> make;
    bool replaced;
  };
  const std::vector<Case> cases = {
      {"nothing", [](auto&, auto&) {}, true},
      {"an older output",
       [](auto&, const std::string& output) {
         WriteBytes(output, "older");
         fs::permissions(output,
                         fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
       },
       true},
      {"a read-only older output",
       [](auto&, const std::string& output) {
         WriteBytes(output, "older");
         fs::permissions(output,
                         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
       },
       false},
      {"a folder", [](auto&, const std::string& output) { fs::create_directory(output); }, false},
      {"a hard link to the input",
       [](const std::string& input, const std::string& output) {
         fs::create_hard_link(input, output);
       },
       false},
#ifndef _WIN32
      {"a link to a file outside",
       [](auto&, const std::string& output) { fs::create_symlink("../outside/precious", output); },
       false},
      {"a link to the input",
       [](auto&, const std::string& output) { fs::create_symlink("page.html", output); }, false},
      {"a dangling link",
       [](auto&, const std::string& output) { fs::create_symlink("../outside/new", output); },
       false},
      {"a link to a folder",
       [](auto&, const std::string& output) { fs::create_symlink("../outside", output); }, false},
      {"a FIFO", [](auto&, const std::string& output) { ::mkfifo(output.c_str(), 0666); }, false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "outside");
    WriteBytes(dir / "outside/precious", "precious");
    WriteBytes(dir / "fresh", "");
    const fs::perms freshPerms = fs::status(dir / "fresh").permissions();
    const std::string input = dir / "work/page.html";
    const std::string output = input + ".txt";
    WriteBytes(input, "<p>page</p>");
    c.make(input, output);
    const bool older = fs::is_regular_file(fs::symlink_status(output));
    const fs::perms olderPerms = older ? fs::status(output).permissions() : freshPerms;
    std::map<std::string, std::string> expected = Snapshot(dir.Path());
#ifndef _WIN32
    // A reader waiting at a FIFO must not be handed an end of file by a writer that comes and goes.
    const int reader = fs::is_fifo(fs::symlink_status(output))
                           ? ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                           : -1;
#endif

    auto convert = [](std::string text) { return "converted " + text; };
    // The same checks when the output is written in chunks.
    TableConverter converter({{"page", "PAGE"}}, LeadByteSet());
    auto inChunks = [&] { ConvertFileBeside(input, converter, nullptr, 4); };
    // The same checks whether the output before found its name free or taken.
    TempDir elsewhere;
    auto afterAnOutput = [&](bool nameTaken) {
      const std::string other = elsewhere / "other.txt";
      fs::remove(other);
      if (nameTaken) WriteBytes(other, "older");
      WriteStringToFile(other, "newer");
    };
    afterAnOutput(false);
    if (c.replaced) {
      ConvertFileBeside(input, convert);
      EXPECT_EQ(ReadBytes(output), "converted <p>page</p>");
      EXPECT_EQ(fs::status(output).permissions(), olderPerms);
      afterAnOutput(true);
      inChunks();
      EXPECT_EQ(ReadBytes(output), "PAGE");
      EXPECT_EQ(fs::status(output).permissions(), olderPerms);
      expected["work/page.html.txt"] = Snapshot(dir.Path())["work/page.html.txt"];
    } else {
      ExpectError<EFCreateError>([&] { ConvertFileBeside(input, convert); },
                                 "ファイル " + output + " を作成できません");
      afterAnOutput(true);
      ExpectError<EFCreateError>(inChunks, "ファイル " + output + " を作成できません");
    }
    EXPECT_EQ(Snapshot(dir.Path()), expected);
#ifndef _WIN32
    if (reader >= 0) {
      pollfd poll{reader, POLLIN, 0};
      EXPECT_EQ(::poll(&poll, 1, 0), 0) << "a writer opened the FIFO";
      ::close(reader);
    }
#endif
    // Windows removes no read-only file, and the folder must go.
    std::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(output))) {
      fs::permissions(output, fs::perms::owner_write, fs::perm_options::add, ignored);
    }
  }
}

// Chunks of every size give the whole conversion: matches, tags and the NUL straddle their ends.
// With a spare thread the chunks after the first are converted on both threads, in stretches
// that end where the text can be cut, or in order through one converter where it cannot.
TEST(FileIOToolsTest, ConvertingInChunksWritesTheWholeConversion) {
  TempDir dir;
  const LeadByteSet sjis = LeadByteSet::ShiftJis();
  const auto repeat = [](std::size_t times, const auto& part) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += part(i);
    return text;
  };
  const std::string nul(1, '\0');
  const struct {
    ArrayOfArrayOfString table;
    std::string text;
  } cases[] = {
      // Decoded tags open in one stretch and close in the next; a late NUL.
      {{{"&amp;", "&"}, {"&lt;", "<"}, {"x", "yy"}},
       repeat(2000,
              [](std::size_t i) { return (i % 5) ? "&amp;lt;b>x &lt;" : "<p>\x83\x5Cx</p>\r\n"; }) +
           nul + "&amp;<b>x"},
      // Long stretches that cannot be cut, between short ones that can.
      {{{"aa", "<"}, {"<b", ">"}},
       repeat(40, [](std::size_t i) { return std::string(i * 37 % 300, 'a') + "b<i>c\x83"; })},
      // A NUL at the start: nothing is replaced anywhere.
      {{{"&gt;", ">"}}, nul + repeat(500, [](std::size_t) { return "<a &gt;>b&gt;c"; })},
      // A replacement holding a NUL: the text is never cut.
      {{{"&z;", nul}, {"&gt;", ">"}},
       repeat(500, [](std::size_t i) { return i == 300 ? "&z;" : "<a &gt;>b&gt;c"; })},
  };
  const std::string input = dir / "page.html";
  const std::string output = input + ".txt";
  for (const auto& [table, text] : cases) {
    WriteBytes(input, text);
    const std::string expected = reference::Convert(text, table, sjis);
    TableConverter converter(table, sjis, 5, 64);
    for (const unsigned spare : {0u, 1u}) {
      for (std::size_t chunkSize :
           {std::size_t{1}, std::size_t{7}, std::size_t{4096}, text.size(), kConvertChunkSize}) {
        ThreadBudget budget(spare);
        const ConvertedSizes sizes =
            ConvertFileBeside(input, converter, nullptr, chunkSize, &budget);
        ASSERT_EQ(ReadBytes(output), expected) << table[0][0] << " " << chunkSize << " " << spare;
        EXPECT_EQ(sizes.in, text.size());
        EXPECT_EQ(sizes.out, expected.size());
        // The thread is given back.
        for (unsigned taken = 0; taken < spare; ++taken) EXPECT_TRUE(budget.TryTake());
        EXPECT_FALSE(budget.TryTake());
      }
    }
  }
  const std::string text = cases[0].text;
  TableConverter converter(cases[0].table, sjis);
  WriteBytes(input, text);
  // An output given up just before it takes its name leaves the older one and nothing else.
  WriteBytes(output, "older");
  EXPECT_THROW(ConvertFileBeside(
                   input, converter, [] { throw std::runtime_error("stop"); }, 7),
               std::runtime_error);
  EXPECT_EQ(ReadBytes(output), "older");
  EXPECT_EQ(ReadBytes(input), text);
  EXPECT_EQ(Snapshot(dir.Path()).size(), 2u);
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
using testing::ChangedBeforeRead;
using testing::InChild;

// The read calls this process has made so far; -1 where the system does not count them.
long long ReadCalls() {
  std::FILE* io = std::fopen("/proc/self/io", "r");
  if (io == nullptr) return -1;
  long long calls = -1;
  char line[64];
  while (std::fgets(line, sizeof line, io) != nullptr) {
    if (std::sscanf(line, "syscr: %lld", &calls) == 1) break;
  }
  std::fclose(io);
  return calls;
}

// Files whose reported size is not their length: procfs reports 0.
TEST(FileIOToolsTest, FilesAreReadToTheirEndWhateverSizeTheyReport) {
  TempDir dir;
  std::filesystem::create_symlink("/proc/version", dir / "version.html");
  const std::string contents = ReadFileToString(dir / "version.html");
  EXPECT_NE(contents, "");
  EXPECT_EQ(contents, ReadBytes("/proc/version"));
  // Converted, past the size it reported it is read in whole chunks, not byte by byte.
  TableConverter converter({{"Linux", "L"}}, LeadByteSet());
  const long long before = ReadCalls();
  ConvertFileBeside(dir / "version.html", converter);
  const long long calls = ReadCalls() - before;
  EXPECT_EQ(ReadBytes(dir / "version.html.txt"),
            ConvertWithTable(contents, {{"Linux", "L"}}, LeadByteSet()));
  if (before >= 0) {
    EXPECT_LT(calls, 10) << "read calls for " << contents.size() << " bytes";
  }
}

// A file cut short or grown by another program while it is read gives neither its old contents
// nor its new ones: the read error, and nothing is written for it.
TEST(FileIOToolsTest, AFileChangedWhileItIsReadIsAReadError) {
  TempDir dir;
  const std::string in = dir / "page.html";
  const std::string out = in + ".txt";
  const std::string text(64 << 10, 'x');
  TableConverter converter({{"x", "y"}}, LeadByteSet());
  const std::vector<std::pair<const char*, std::function<void()>>> reads = {
      {"whole", [&] { ConvertFileBeside(in, [](std::string t) { return t; }); }},
      {"in chunks", [&] { ConvertFileBeside(in, converter, nullptr, 4096); }},
      {"in chunks, read by a second thread",
       [&] {
         ThreadBudget spare(1);
         ConvertFileBeside(in, converter, nullptr, 4096, &spare);
       }},
  };
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"cut short", [&] { ASSERT_EQ(::truncate(in.c_str(), 1000), 0); }},
      {"grown",
       [&] {
         const int fd = ::open(in.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
         [[maybe_unused]] const ssize_t wrote = ::write(fd, "more", 4);
         ::close(fd);
       }},
  };
  for (const auto& [what, read] : reads) {
    for (const auto& [how, change] : changes) {
      SCOPED_TRACE(std::string(what) + ", " + how);
      WriteBytes(in, text);
      WriteBytes(out, "older output");
      // The second read: after the first chunk, or after the whole reported size.
      const int status = ChangedBeforeRead(in, 2, change, [&] {
        try {
          read();
        } catch (const EFReadError& e) {
          return e.Message() == "ファイル " + in + " を読み込めません" ? 0 : 2;
        } catch (...) {
          return 3;
        }
        return 1;
      });
      if (status == 4) GTEST_SKIP() << "reads cannot be held here";
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(ReadBytes(out) == "older output");
      EXPECT_EQ(Snapshot(dir.Path()).size(), 2u) << "the unfinished file is removed";
    }
  }
}

TEST(FileIOToolsTest, AFullDiskIsAWriteErrorAndKeepsTheOlderOutput) {
  TempDir dir;
  const std::string in = dir / "out";
  const std::string out = in + ".txt";
  const std::string text(1 << 20, 'x');
  WriteBytes(in, text);
  TableConverter converter({{"x", "y"}}, LeadByteSet());
  const std::vector<std::pair<const char*, std::function<void()>>> writes = {
      {"whole", [&] { WriteStringToFile(out, text); }},
      {"in chunks", [&] { ConvertFileBeside(in, converter, nullptr, 4096); }},
      {"in chunks, written by a second thread",
       [&] {
         ThreadBudget spare(1);
         ConvertFileBeside(in, converter, nullptr, 4096, &spare);
       }},
  };
  auto failsWith = [&](const std::function<void()>& write, const std::string& message) {
    return InChild([&] {
      if (!testing::FileSizeLimit(65536)()) return 4;
      try {
        write();
      } catch (const EFileError& e) {
        return e.Message() == message ? 0 : 2;
      } catch (...) {
        return 3;
      }
      return 1;
    });
  };
  for (const auto& [what, write] : writes) {
    SCOPED_TRACE(what);
    WriteBytes(out, "older output");
    EXPECT_EQ(failsWith(write, "ファイル " + out + " に書き込めません"), 0);
    EXPECT_EQ(ReadBytes(out), "older output");
    EXPECT_EQ(ReadBytes(in), text);
    EXPECT_EQ(Snapshot(dir.Path()).size(), 2u) << "the unfinished file is removed";
    // A name that must stay refuses the output first, as when it is looked at before writing,
    // whether or not the output before found its name taken.
    std::filesystem::remove(out);
    std::filesystem::create_directory(out);
    for (const bool nameTaken : {false, true}) {
      const std::string other = dir / "other.txt";
      if (nameTaken) WriteBytes(other, "older");
      WriteStringToFile(other, "newer");
      std::filesystem::remove(other);
      EXPECT_EQ(failsWith(write, "ファイル " + out + " を作成できません"), 0) << nameTaken;
    }
    std::filesystem::remove(out);
  }
}

// Two outputs under way in one folder at once (two jobs) each get their own new file, even
// where the system's random source fails.
TEST(FileIOToolsTest, OutputsUnderWayAtOnceWithoutTheRandomSource) {
  TempDir dir;
  const std::string first = dir / "first.html";
  const std::string second = dir / "second.txt";
  WriteBytes(first, "<p>first</p>");
  TableConverter converter({}, LeadByteSet());
  const int status = InChild([&] {
    if (!testing::WithoutGetrandom()()) return 4;
    try {
      ConvertFileBeside(first, converter, [&] { WriteStringToFile(second, "second"); });
    } catch (const Exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(first + ".txt"), "first");
  EXPECT_EQ(ReadBytes(second), "second");
  EXPECT_EQ(Snapshot(dir.Path()).size(), 3u) << "no new file is left behind";
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

// Root converting in a user's folder replaces the user's older output: it stays theirs, as it
// did when outputs were rewritten in place, and does not become a file the user cannot write.
TEST(FileIOToolsTest, AReplacedOutputKeepsItsOwnerAndGroup) {
  const std::optional<passwd> user = testing::UnprivilegedUser();
  if (!user) GTEST_SKIP() << "needs root and an unprivileged user to own the older output";
  TempDir dir;
  const std::string out = dir / "theirs.txt";
  WriteBytes(out, "older");
  ASSERT_EQ(::chown(out.c_str(), user->pw_uid, user->pw_gid), 0);
  ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
  WriteStringToFile(out, "newer");
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(ReadBytes(out), "newer");
  EXPECT_EQ(st.st_uid, user->pw_uid);
  EXPECT_EQ(st.st_gid, user->pw_gid);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A system on which no file can be linked (an older kernel without /proc): every linkat fails.
bool NoLinks() {
  return testing::RefuseCall(__NR_linkat, ENOENT);
}

// A new output is made without a name and linked in at the end where the system allows; what
// comes to the name while it is written is replaced or refused as at the start, and an older
// output replaced then keeps its permission bits. Where the new file cannot be linked it is
// copied to a named one.
TEST(FileIOToolsTest, ANewOutputTakesItsNameOnlyWhenComplete) {
  namespace fs = std::filesystem;
  struct Meanwhile {
    const char* what;
    std::function<void(const std::string&)> make;
    bool replaced;
    fs::perms kept = fs::perms::unknown;  // unknown: those of any new file
  };
  const fs::perms unusual = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  const std::vector<Meanwhile> meanwhile = {
      {"nothing", [](const std::string&) {}, true},
      {"a file",
       [&](const std::string& name) {
         WriteBytes(name, "came meanwhile");
         fs::permissions(name, unusual);
       },
       true, unusual},
      {"a folder", [](const std::string& name) { fs::create_directory(name); }, false},
  };
  struct Who {
    const char* what;
    std::function<bool()> become;  // in a child; none: this process
  };
  std::vector<Who> whos = {{"this process", nullptr},
                           {"no links", NoLinks},
                           {"no unnamed files", testing::WithoutUnnamedFiles()}};
  // Without the right to link a descriptor, through /proc.
  if (const std::optional<passwd> user = testing::UnprivilegedUser()) {
    whos.push_back({"another user", testing::AsUser(*user)});
  }
  std::string text, expected;
  for (int i = 0; i < 1000; ++i) {
    text += "<p>a&amp;b</p>";
    expected += "a&b";
  }
  for (const Who& who : whos) {
    for (const Meanwhile& m : meanwhile) {
      SCOPED_TRACE(std::string(who.what) + ", " + m.what);
      TempDir dir;
      fs::permissions(dir.Path(), fs::perms::all);
      const std::string input = dir / "page.html";
      const std::string output = input + ".txt";
      WriteBytes(input, text);
      auto convert = [&] {
        TableConverter converter({{"&amp;", "&"}}, LeadByteSet());
        ConvertFileBeside(
            input, converter, [&] { m.make(output); }, 4096);
      };
      bool refused = false;
      if (who.become) {
        const int status = InChild([&] {
          if (!who.become()) return 4;
          try {
            convert();
          } catch (const EFCreateError&) {
            return 1;
          }
          return 0;
        });
        if (status == 4) GTEST_SKIP() << who.what << ": not possible here";
        ASSERT_TRUE(status == 0 || status == 1) << status;
        refused = status == 1;
      } else {
        try {
          convert();
        } catch (const EFCreateError&) {
          refused = true;
        }
      }
      EXPECT_EQ(refused, !m.replaced);
      if (m.replaced) {
        EXPECT_EQ(ReadBytes(output), expected);
        if (m.kept != fs::perms::unknown) {
          EXPECT_EQ(fs::status(output).permissions(), m.kept);
        }
      }
      EXPECT_EQ(fs::is_directory(output), !m.replaced);
      EXPECT_EQ(Snapshot(dir.Path()).size(), 2u) << "nothing else is left behind";
    }
  }
}

// A thread keeps its last output's folder open for the next one, but an output always goes to the
// folder its name leads to when it is made, whatever became of the folder before.
TEST(FileIOToolsTest, AnOutputGoesWhereItsFolderIsNowNotWhereTheLastOneWent) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path work = dir.Path() / "work";
  fs::create_directories(work);
  fs::create_directories(dir.Path() / "other");
  struct Step {
    const char* what;
    std::function<void()> before;
    const char* written;  // where the output of work/NAME lands, under dir
  };
  const std::vector<Step> steps = {
      {"the same folder", [] {}, "work"},
      {"the folder moved away and a new one made",
       [&] {
         fs::rename(work, dir.Path() / "moved");
         fs::create_directories(work);
       },
       "work"},
      {"a link to another folder in its place",
       [&] {
         fs::rename(work, dir.Path() / "moved again");
         fs::create_directory_symlink("other", work);
       },
       "other"},
  };
  TableConverter converter({}, LeadByteSet());
  OutputFolders folders;
  int n = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.before();
    const std::string name = "page" + std::to_string(++n) + ".html";
    WriteBytes((work / name).string(), "<p>" + name + "</p>");
    ConvertFileAside((work / name).string(), converter, nullptr, kConvertChunkSize, nullptr,
                     &folders)
        .Commit();
    EXPECT_EQ(ReadBytes((dir.Path() / step.written / (name + ".txt")).string()), name);
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "moved" / "page2.html.txt"));
  EXPECT_FALSE(fs::exists(dir.Path() / "moved again" / "page3.html.txt"));
}

// A file converted ahead of its turn is looked at again at its turn: it is converted again then
// wherever one thread, reading it only then, would read something else or write elsewhere.
TEST(FileIOToolsTest, AFileConvertedAheadIsDoneAgainWhereItsTurnWouldFindItChanged) {
  namespace fs = std::filesystem;
  struct Change {
    const char* what;
    std::function<void(const fs::path& folder, const fs::path& page)> make;
    bool changed;
  };
  const std::vector<Change> changes = {
      {"nothing", [](const fs::path&, const fs::path&) {}, false},
      {"cut short", [](const fs::path&, const fs::path& page) { fs::resize_file(page, 2); }, true},
      {"renamed over",
       [](const fs::path& folder, const fs::path& page) {
         WriteBytes((folder / "new").string(), "<p>page</p>");
         fs::rename(folder / "new", page);
       },
       true},
      {"a link to another file in its place",
       [](const fs::path& folder, const fs::path& page) {
         WriteBytes((folder / "other").string(), "<p>page</p>");
         fs::remove(page);
         fs::create_hard_link(folder / "other", page);
       },
       true},
      {"removed", [](const fs::path&, const fs::path& page) { fs::remove(page); }, true},
      // The same file, but the output would go to another folder.
      {"its folder swapped for one linking the same file",
       [](const fs::path& folder, const fs::path&) {
         fs::rename(folder, folder.string() + ".old");
         fs::rename(folder.string() + ".next", folder);
       },
       true},
      {"its folder moved and a link to it put in its place",
       [](const fs::path& folder, const fs::path&) {
         fs::rename(folder, folder.string() + ".old");
         fs::create_directory_symlink(folder.filename().string() + ".old", folder);
       },
       false},
  };
  TableConverter converter({}, LeadByteSet());
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path folder = dir.Path() / "work";
    const fs::path page = folder / "page.html";
    fs::create_directories(folder);
    fs::create_directories(folder.string() + ".next");
    WriteBytes(page.string(), "<p>page</p>");
    fs::create_hard_link(page, folder.string() + ".next/page.html");
    OutputFolders folders;
    PendingOutput output =
        ConvertFileAside(page.string(), converter, nullptr, kConvertChunkSize, nullptr, &folders);
    c.make(folder, page);
    EXPECT_EQ(output.InputChanged(), c.changed);
  }
}
#endif  // !_WIN32

}  // namespace
}  // namespace tavrin
