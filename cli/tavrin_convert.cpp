// tavrin-convert: the batch run without the window, for benchmarks and cross-checks.
//   tavrin-convert [--table PATH] [--codepage 932|1252|locale] FILE...
// Each FILE is read whole, converted with the table and written to FILE + ".txt". The first
// error stops the run with its message on stderr and exit status 1. Without --table the table
// is CEntity.txt of the current folder; if that cannot be read, the run goes on with tags only
// removed, as the window's does, after saying why on stderr.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CodePage.h"
#include "EntityTable.h"
#include "FileIOTools.h"
#include "TavrinFunctions.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tavrin-convert [--table PATH] [--codepage 932|1252|locale] FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tavrin;
#ifdef SIGXFSZ
  // A file-size limit must turn into a write error, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  InitCodePageFromLocale();

  std::string tablePath = kEntityTableFileName;
  bool tableGiven = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--table" && i + 1 < argc) {
      tablePath = argv[++i];
      tableGiven = true;
    } else if (arg == "--codepage" && i + 1 < argc) {
      std::string cp = argv[++i];
      if (cp == "932") {
        SetCurrentLeadByteSet(LeadByteSet::ShiftJis());
      } else if (cp == "1252") {
        SetCurrentLeadByteSet(LeadByteSet());
      } else if (cp != "locale") {
        return Usage();
      }
    } else if (arg == "--") {
      for (++i; i < argc; ++i) files.emplace_back(argv[i]);
    } else if (arg.starts_with("--")) {
      return Usage();
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return Usage();

  const auto start = std::chrono::steady_clock::now();
  std::size_t bytesIn = 0, bytesOut = 0, done = 0;
  int status = 0;
  const std::string* current = &tablePath;  // what is being worked on, for a message
  try {
    ArrayOfArrayOfString table;
    try {
      table = LoadEntityTable(tablePath);
    } catch (const Exception& e) {
      if (tableGiven) throw;
      std::fprintf(stderr, "tavrin-convert: %s\n", e.Message().c_str());
    }
    TableConverter converter(table);
    for (const std::string& file : files) {
      current = &file;
      std::size_t in = 0, out = 0;
      ConvertFileBeside(file, [&](std::string text) {
        in = text.size();
        std::string output = converter.Convert(std::move(text));
        out = output.size();
        return output;
      });
      bytesIn += in;
      bytesOut += out;
      ++done;
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "tavrin-convert: %s\n", e.Message().c_str());
    status = 1;
  } catch (const std::bad_alloc&) {
    // A text that outgrows memory while it is converted stops the run like any other error.
    std::fprintf(stderr, "tavrin-convert: メモリが不足しています (%s)\n", current->c_str());
    status = 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(
      stderr, "tavrin-convert: %zu files, %zu bytes in, %zu bytes out, %.3f s, %.1f MB/s\n", done,
      bytesIn, bytesOut, seconds, seconds > 0 ? static_cast<double>(bytesIn) / 1e6 / seconds : 0.0);
  return status;
}
