// Throughput of the conversion routines, each fast one beside the plain one it is tested against.
// The text is the file named by TAVRIN_CORPUS (bench/peers/make-corpus.sh builds one from real
// documentation), or else generated HTML-like text of TAVRIN_BENCH_MB megabytes (default 16).
// Texts live in memory before timing starts; copies made to restore an input are not timed.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "CodePage.h"
#include "FileIOTools.h"
#include "GeneratedHtml.h"
#include "Html4Entities.h"
#include "TavrinFunctions.h"
#include "TavrinReference.h"

namespace {

using namespace tavrin;

using bench::MakeHtml;

// A buffer of size bytes on huge pages where the system allows, as the whole-file reader
// allocates them, so page-table walks weigh the same here as in the program.
std::string Buffer(std::size_t size) {
  std::string buffer;
  buffer.reserve(size);
  const auto begin =
      (reinterpret_cast<std::uintptr_t>(buffer.data()) + 4095) & ~std::uintptr_t{4095};
  const auto end = (reinterpret_cast<std::uintptr_t>(buffer.data()) + size) & ~std::uintptr_t{4095};
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  buffer.resize(size);
  return buffer;
}

const std::string& Html() {
  static const std::string html = [] {
    const char* corpus = std::getenv("TAVRIN_CORPUS");
    if (corpus != nullptr && *corpus != '\0') return ReadFileToString(corpus);
    const char* mb = std::getenv("TAVRIN_BENCH_MB");
    const std::string generated = MakeHtml((mb ? std::strtoul(mb, nullptr, 10) : 16) << 20);
    std::string text = Buffer(generated.size());
    text.assign(generated);
    return text;
  }();
  return html;
}

// The plain row-by-row conversion takes minutes on the whole corpus: it gets a prefix.
std::string_view Prefix(std::size_t size) {
  return std::string_view(Html()).substr(0, size);
}

ArrayOfArrayOfString Html4Table() {
  ArrayOfArrayOfString table;
  for (const auto& e : bench::kHtml4Entities) table.push_back({e.name, e.utf8});
  return table;
}

void SetBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Restores work to a copy of text without timing it.
void Restore(benchmark::State& state, std::string& work, std::string_view text) {
  state.PauseTiming();
  work.assign(text);
  state.ResumeTiming();
}

void BM_RemoveTags(benchmark::State& state) {
  const std::string& html = Html();
  std::string out = Buffer(html.size());
  for (auto _ : state) benchmark::DoNotOptimize(RemoveTags(html, out.data()));
  SetBytes(state, html.size());
}

void BM_RemoveTagsReference(benchmark::State& state) {
  const std::string& html = Html();
  for (auto _ : state) benchmark::DoNotOptimize(reference::RemoveTags(html));
  SetBytes(state, html.size());
}

void BM_ConvertEmptyTable(benchmark::State& state) {
  const std::string& html = Html();
  TableConverter converter({}, LeadByteSet());
  std::string work = Buffer(html.size());
  for (auto _ : state) {
    Restore(state, work, html);
    work = converter.Convert(std::move(work));
    benchmark::DoNotOptimize(work.data());
  }
  SetBytes(state, html.size());
}

// The 252 named entities with no lead bytes (the corpus is UTF-8) and with Shift-JIS's.
void BM_ConvertHtml4Table(benchmark::State& state) {
  const std::string& html = Html();
  const LeadByteSet lead = state.range(0) ? LeadByteSet::ShiftJis() : LeadByteSet();
  TableConverter converter(Html4Table(), lead);
  std::string work = Buffer(html.size());
  for (auto _ : state) {
    Restore(state, work, html);
    work = converter.Convert(std::move(work));
    benchmark::DoNotOptimize(work.data());
  }
  SetBytes(state, html.size());
}

// The text fed in chunks as a file is read, the output only counted.
std::size_t InChunks(TableConverter& converter, std::string_view text) {
  std::size_t size = 0;
  converter.Start();
  for (std::size_t at = 0; at < text.size(); at += kConvertChunkSize) {
    size += converter.Feed(text.substr(at, kConvertChunkSize)).size();
  }
  return size + converter.Finish().size();
}

void BM_ConvertHtml4TableInChunks(benchmark::State& state) {
  const std::string& html = Html();
  TableConverter converter(Html4Table(), LeadByteSet::ShiftJis());
  for (auto _ : state) benchmark::DoNotOptimize(InChunks(converter, html));
  SetBytes(state, html.size());
}

// One whole pass of the single-pattern ReplaceAll per row, as the table is defined.
void BM_ConvertHtml4TableRowByRow(benchmark::State& state) {
  const std::string_view html = Prefix(8 << 20);
  const ArrayOfArrayOfString table = Html4Table();
  std::string work;
  for (auto _ : state) {
    Restore(state, work, html);
    for (const ArrayOfString& row : table) ReplaceAllInPlace(work, row[0], row[1], LeadByteSet());
    RemoveTagsInPlace(work);
    benchmark::DoNotOptimize(work.data());
  }
  SetBytes(state, html.size());
}

void BM_ReplaceAllOneRow(benchmark::State& state) {
  const std::string& html = Html();
  std::string work = Buffer(html.size());
  for (auto _ : state) {
    Restore(state, work, html);
    benchmark::DoNotOptimize(ReplaceAllInPlace(work, "&amp;", "&", LeadByteSet::ShiftJis()));
  }
  SetBytes(state, html.size());
}

// Every byte a lead byte and every byte an occurrence: the back-scan must stay linear. The
// replacement is the pattern itself, so the text needs no restoring between runs.
std::string& Adversarial() {
  static std::string text = [] {
    std::string t = Buffer(64 << 20);
    t.assign(64 << 20, '\x83');
    return t;
  }();
  return text;
}

void BM_AdversarialReplaceAll(benchmark::State& state) {
  std::string& text = Adversarial();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReplaceAllInPlace(text, "\x83", "\x83", LeadByteSet::ShiftJis()));
  }
  SetBytes(state, text.size());
}

void BM_AdversarialConvert(benchmark::State& state) {
  const std::string& text = Adversarial();
  TableConverter converter({{"\x83", "\x83"}}, LeadByteSet::ShiftJis());
  std::string work = Buffer(text.size());
  for (auto _ : state) {
    Restore(state, work, text);
    work = converter.Convert(std::move(work));
    benchmark::DoNotOptimize(work.data());
  }
  SetBytes(state, text.size());
}

// In chunks the text has no place to cut, so it goes row by row: through the one row, or
// through the 252 rows after it.
void BM_AdversarialInChunks(benchmark::State& state) {
  const std::string& text = Adversarial();
  ArrayOfArrayOfString table = {{"\x83", "\x83"}};
  if (state.range(0)) {
    const ArrayOfArrayOfString html4 = Html4Table();
    table.insert(table.end(), html4.begin(), html4.end());
  }
  TableConverter converter(table, LeadByteSet::ShiftJis());
  for (auto _ : state) benchmark::DoNotOptimize(InChunks(converter, text));
  SetBytes(state, text.size());
}

void BM_AdversarialReference(benchmark::State& state) {
  const std::string_view text = std::string_view(Adversarial()).substr(0, 8 << 20);
  for (auto _ : state) {
    benchmark::DoNotOptimize(reference::ReplaceAll(text, "\x83", "\x83", LeadByteSet::ShiftJis()));
  }
  SetBytes(state, text.size());
}

// A table of 1,000 rows (the 252 entities after 748 that never occur) over 4 MiB of entities and
// letters: every byte is in some pattern, so the text has no place to cut. Whole, it is one
// piece; in chunks it goes through the rows one by one, which may cost little more.
ArrayOfArrayOfString BigTable() {
  ArrayOfArrayOfString table;
  for (int i = 0; i < 748; ++i) {
    table.push_back({"&x" + std::to_string(i) + ";", "<" + std::to_string(i) + ">"});
  }
  const ArrayOfArrayOfString html4 = Html4Table();
  table.insert(table.end(), html4.begin(), html4.end());
  return table;
}

const std::string& TextWithoutCuts() {
  static const std::string text = [] {
    std::string letters;
    for (const auto& e : bench::kHtml4Entities) {
      for (const char* c = e.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) && letters.find(*c) == std::string::npos) {
          letters.push_back(*c);
        }
      }
    }
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::size_t> entity(0, std::size(bench::kHtml4Entities) - 1);
    std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
    std::string t = Buffer(4 << 20);
    t.clear();
    while (t.size() < (4 << 20)) {
      if (rng() % 4 == 0) {
        t += bench::kHtml4Entities[entity(rng)].name;
      } else {
        for (int k = 0; k < 6; ++k) t += letters[letter(rng)];
      }
    }
    t.resize(4 << 20);
    return t;
  }();
  return text;
}

void BM_BigTableWithoutCuts(benchmark::State& state) {
  const std::string& text = TextWithoutCuts();
  TableConverter converter(BigTable(), LeadByteSet());
  std::string work = Buffer(text.size());
  for (auto _ : state) {
    if (state.range(0)) {
      benchmark::DoNotOptimize(InChunks(converter, text));
    } else {
      Restore(state, work, text);
      work = converter.Convert(std::move(work));
      benchmark::DoNotOptimize(work.data());
    }
  }
  state.counters["row passes"] = static_cast<double>(converter.RowPasses());
  SetBytes(state, text.size());
}

BENCHMARK(BM_RemoveTags)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RemoveTagsReference)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertEmptyTable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertHtml4Table)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertHtml4TableInChunks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertHtml4TableRowByRow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReplaceAllOneRow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdversarialReplaceAll)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdversarialConvert)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdversarialInChunks)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BigTableWithoutCuts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdversarialReference)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
