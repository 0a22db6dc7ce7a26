// Which files of a list wait for which: only files that can reach the same file. What a run
// sweeps from its folders, and what a caller that shows the files one by one sees of the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BatchRun.h"
#include "ChildProcess.h"
#include "FileIOTools.h"
#include "TempDir.h"
#include "platform/FileIOPlatform.h"

namespace tavrin::testing {
namespace {

namespace fs = std::filesystem;

TEST(BatchRunOrder, FilesWaitOnlyForFilesThatReachTheSameFile) {
  TempDir work;
  const fs::path& at = work.Path();
  fs::create_directories(at / "d1");
  fs::create_directories(at / "d2");
  for (const char* name : {"a.html", "d1/index.html", "d2/index.html", "d1/a.html"}) {
    WriteBytes(work / name, "<p>x</p>");
  }
  fs::create_directory_symlink(".", at / "here");
  fs::create_symlink("a.html.txt", at / "to-output.html");  // leads nowhere yet
  fs::create_symlink("a.html", at / "alias.html");
  fs::create_hard_link(at / "a.html", at / "hard.html");
  const std::string a = work / "a.html";
  struct OrderCase {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::vector<std::size_t>> waited;
  };
  const std::vector<OrderCase> cases = {
      {"equal last names in other folders", {"d1/index.html", "d2/index.html"}, {{}, {}}},
      {"equal last names, output beside the other",
       {"d1/a.html", "a.html", "d1/a.html.txt"},
       {{}, {}, {0}}},
      {"the same file twice", {"a.html", "a.html"}, {{}, {0}}},
      {"an output that a later file reads", {"a.html", "a.html.txt"}, {{}, {0}}},
      {"an input that a later file writes", {"a.html.txt", "a.html"}, {{}, {0}}},
      {"an output spelled absolute", {"a.html", a + ".txt"}, {{}, {0}}},
      {"an output through a linked folder", {"a.html", "here/a.html.txt"}, {{}, {0}}},
      {"an output through a link not yet leading anywhere",
       {"a.html", "to-output.html"},
       {{}, {0}}},
      {"an input through a link", {"alias.html", "a.html"}, {{}, {0}}},
      {"an input under another hard link", {"hard.html", "a.html"}, {{}, {0}}},
      {"a folder gone back up", {"d1/../a.html", "a.html"}, {{}, {0}}},
      {"a chain", {"a.html", "a.html.txt", "a.html.txt.txt"}, {{}, {0}, {1}}},
  };
  const fs::path before = fs::current_path();
  fs::current_path(at);
  for (const OrderCase& c : cases) {
    EXPECT_EQ(FilesWaitedFor(c.files), c.waited) << c.name;
  }
  fs::current_path(before);
}

// A long list is looked at in pieces by several threads: a file still finds the earlier file
// it reaches when the two fall in different pieces, spelled differently.
TEST(BatchRunOrder, PiecesOfALongListLookedAtApartStillMeet) {
  TempDir work;
  fs::create_directory_symlink(".", work.Path() / "here");
  std::vector<std::string> files;
  const std::size_t count = 600;
  for (std::size_t i = 0; i < count; ++i) {
    files.push_back(work / ("a" + std::to_string(i) + ".html"));
    WriteBytes(files.back(), "<p>x</p>");
  }
  // Outputs not made yet, through a linked folder; then the inputs again, under a hard link.
  for (std::size_t i = 0; i < count; ++i) {
    files.push_back(work / ("here/a" + std::to_string(i) + ".html.txt"));
  }
  for (std::size_t i = 0; i < count; ++i) {
    fs::create_hard_link(files[i], work / ("h" + std::to_string(i) + ".html"));
    files.push_back(work / ("h" + std::to_string(i) + ".html"));
  }
  for (const unsigned threads : {1u, 2u, 7u}) {
    const auto waited = FilesWaitedFor(files, threads);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_TRUE(waited[i].empty()) << threads << " " << i;
      ASSERT_EQ(waited[count + i], std::vector<std::size_t>{i}) << threads << " " << i;
      ASSERT_EQ(waited[2 * count + i], std::vector<std::size_t>{i}) << threads << " " << i;
    }
  }
}

// Short of memory while a long list is looked at, the run is refused (bad_alloc), whichever of
// the threads looking at its pieces runs short: never an abort.
TEST(BatchRunOrder, ALongListLookedAtShortOfMemoryIsRefusedNotAborted) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer maps more than any address-space limit allows";
#endif
  TempDir work;
  std::vector<std::string> files;
  for (int i = 0; i < 20000; ++i) files.push_back(work / ("m" + std::to_string(i) + ".html"));
  // Room beyond what the process holds: for the list's keys, then for some of the threads.
  for (const rlim_t mib : {4u, 12u, 24u, 48u}) {
    const int status = InChild([&] {
      long pages = 0;
      if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
      }
      const rlim_t room = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE)) + (mib << 20);
      const rlimit limit{room, room};
      if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) return 1;
      try {
        FilesWaitedFor(files, 4);
      } catch (const std::bad_alloc&) {
        return 2;
      }
      return 0;
    });
    // 2: refused for want of memory; 0: looked at all the same.
    EXPECT_TRUE(status == 0 || status == 2) << mib << " MiB: " << status;
  }
}

// A web mirror: an index.html in every folder. None waits for another.
TEST(BatchRunOrder, AThousandFoldersOfIndexHtmlWaitForNothing) {
  TempDir work;
  std::vector<std::string> files;
  for (int i = 0; i < 1000; ++i) {
    const std::string folder = "site/" + std::to_string(i);
    fs::create_directories(work.Path() / folder);
    files.push_back(work / (folder + "/index.html"));
    WriteBytes(files.back(), "<p>x</p>");
  }
  for (const std::vector<std::size_t>& waited : FilesWaitedFor(files)) {
    EXPECT_TRUE(waited.empty());
  }
}

// A window stays open for days: each of its runs removes what runs killed since the last one
// left in its folders, not only the first run of the process.
TEST(BatchRunSweep, EveryRunRemovesWhatKilledRunsLeftInItsFolder) {
  TempDir work;
  WriteBytes(work / "a.html", "<p>x</p>");
  const std::vector<std::string> files = {work / "a.html"};
  const auto convert = [&] {
    BatchRun run(files, false);
    run.AddWorker();
    TableConverter converter(ArrayOfArrayOfString{});
    run.Work(converter);
    EXPECT_TRUE(run.Failures().empty());
  };
  convert();
  // A run killed while writing on a file system without unnamed files: its new file keeps its
  // name of its own, and the lock goes with the process.
  const int status = InChild([&] {
    if (!WithoutUnnamedFiles()()) return 1;
    platform::ReplacingFile killed(work / "b.html.txt", nullptr);
    killed.Write("half an output");
    ::_exit(0);  // with the new file still open, as a kill ends it
  });
  ASSERT_EQ(status, 0);
  ASSERT_EQ(NewFilesIn(work.Path()), 1);
  convert();
  EXPECT_EQ(NewFilesIn(work.Path()), 0);
  EXPECT_EQ(ReadBytes(work / "a.html.txt"), "x");
}

// A file read at its turn (every earlier file settled, or a held file once released) that another
// program changes while it is read is the read error, as with one thread, whatever the workers:
// not read again until it converts, and nothing written for it.
TEST(BatchRunRead, AFileChangedWhileReadAtItsTurnIsTheReadError) {
  constexpr std::chrono::minutes kNever(1);  // a safety bound only
  TempDir work;
  const std::string page = work / "page.html";
  struct ReadCase {
    std::vector<std::string> files;  // page.html last
    unsigned workers;
    // Every file is read only once released, as by a caller showing it converting; page.html
    // is claimed before the files ahead of it are released.
    bool held;
  };
  const std::vector<ReadCase> cases = {{{page}, 1, false},
                                       {{page}, 2, false},
                                       {{work / "first.html", page}, 1, false},
                                       {{page}, 2, true},
                                       {{work / "first.html", page}, 2, true}};
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.files.size()) + " files, " + std::to_string(c.workers) +
                 (c.held ? " held" : ""));
    for (const std::string& file : c.files) WriteBytes(file, "<p>" + std::string(64 << 10, 'x'));
    WriteBytes(page + ".txt", "older output");
    // Grown after its first read: when the whole reported size has been read.
    const int status = ChangedBeforeRead(
        page, 2, [&] { [[maybe_unused]] const int grown = ::truncate(page.c_str(), 70 << 10); },
        [&] {
          BatchRun run(c.files, false);
          if (c.held) {
            run.HoldFilesUntilReleased([](const std::string&, std::uint64_t) { return true; });
          }
          std::vector<std::unique_ptr<TableConverter>> converters;
          std::vector<std::thread> workers;
          while (converters.size() < c.workers) {
            converters.push_back(std::make_unique<TableConverter>(ArrayOfArrayOfString{}));
            run.AddWorker();
            workers.emplace_back(&BatchRun::Work, &run, std::ref(*converters.back()));
          }
          std::exception_ptr error;
          if (c.held) run.WaitSettled(c.files.size() - 1, 0, kNever, error);
          for (std::size_t i = 0; i < c.files.size() && !error; ++i) {
            while (run.WaitSettled(i, 1, kNever, error) == BatchRun::Wait::kHeld) {
              run.Release(i + 1);
            }
          }
          for (std::thread& worker : workers) worker.join();
          const std::vector<BatchRun::Failure> failures = run.Failures();
          if (failures.size() != 1 || failures[0].file != c.files.size() - 1) return 1;
          return failures[0].message == "ファイル " + page + " を読み込めません" ? 0 : 2;
        });
    if (status == 4) GTEST_SKIP() << "reads cannot be held here";
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ReadBytes(page + ".txt") == "older output");
  }
}

// The caller that goes through the files one by one is woken once for a stretch of them: when
// the files ahead have settled, or as many as the first failure or a held file lets settle. A
// held file is reported as such, and is read only once released.
TEST(BatchRunWatch, TheCallerIsWokenForAStretchOfFilesAndForAHeldOne) {
  // Only a safety bound: each wait ends on what the run has done, long before it.
  constexpr std::chrono::minutes kNever(1);
  struct WatchCase {
    const char* name;
    std::vector<std::string> files;  // "held" is a file read only when released, "gone" fails
    std::size_t ahead;
    // Per wait of the caller, from the first file on: the file waited for, what it saw and how
    // many files at least had settled by then.
    std::vector<std::tuple<std::size_t, BatchRun::Wait, std::size_t>> waits;
  };
  using W = BatchRun::Wait;
  const std::vector<WatchCase> cases = {
      {"a stretch", {"a", "b", "c", "d", "e"}, 2, {{0, W::kSettled, 3}, {3, W::kSettled, 5}}},
      {"up to a held file",
       {"a", "b", "held", "c", "d"},
       8,
       {{0, W::kSettled, 2}, {2, W::kHeld, 2}, {2, W::kSettled, 5}}},
      {"a held file first", {"held", "a"}, 8, {{0, W::kHeld, 0}, {0, W::kSettled, 2}}},
      {"up to a failure", {"a", "b", "gone", "c"}, 8, {{0, W::kSettled, 3}, {2, W::kSettled, 3}}},
  };
  for (const WatchCase& c : cases) {
    TempDir work;
    std::vector<std::string> files;
    for (const std::string& name : c.files) {
      files.push_back(work / (name + ".html"));
      if (name != "gone") WriteBytes(files.back(), "<p>" + name + "</p>");
    }
    BatchRun run(files, false);
    run.HoldFilesUntilReleased(
        [](const std::string& file, std::uint64_t) { return file.ends_with("/held.html"); });
    TableConverter converter(ArrayOfArrayOfString{});
    run.AddWorker();
    std::thread worker(&BatchRun::Work, &run, std::ref(converter));
    for (const auto& [file, expected, settled] : c.waits) {
      std::exception_ptr error;
      EXPECT_EQ(run.WaitSettled(file, c.ahead, kNever, error), expected) << c.name << " " << file;
      EXPECT_GE(run.Done(), settled) << c.name << " " << file;
      EXPECT_EQ(error != nullptr, c.files[file] == "gone") << c.name << " " << file;
      if (expected == W::kHeld) {
        EXPECT_FALSE(fs::exists(files[file] + ".txt")) << c.name;
        run.Release(file + 1);
      }
    }
    worker.join();
  }
}

}  // namespace
}  // namespace tavrin::testing
