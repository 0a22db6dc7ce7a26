// Throughput of the conversion routines on generated HTML-like text.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "CodePage.h"
#include "Html4Entities.h"
#include "TavrinFunctions.h"

namespace {

using namespace tavrin;

// Paragraphs of markup, words, Japanese (Shift-JIS bytes) and a sprinkling of entities.
std::string MakeHtml(std::size_t size) {
  static const char* const pieces[] = {
      "<p class=\"body\">",
      "</p>\r\n",
      "<a href=\"index.html#top\">",
      "</a>",
      "The quick brown ",
      "fox jumps over ",
      "the lazy dog. ",
      "&amp;",
      "&lt;",
      "&gt;",
      "&nbsp;",
      "&copy;",
      "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\xB6\x8F\xCD ",
      "<br>",
      "<td>",
      "</td>",
      "function(x) { return x; } ",
      "&eacute;t&eacute; ",
  };
  std::mt19937 rng(42);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::string text;
  text.reserve(size + 64);
  while (text.size() < size) text += pieces[pick(rng)];
  text.resize(size);
  return text;
}

ArrayOfArrayOfString Html4Table() {
  ArrayOfArrayOfString table;
  for (const auto& e : bench::kHtml4Entities) table.push_back({e.name, e.utf8});
  return table;
}

void SetBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_RemoveTags(benchmark::State& state) {
  const std::string html = MakeHtml(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string text = html;
    RemoveTagsInPlace(text);
    benchmark::DoNotOptimize(text.data());
  }
  SetBytes(state, html.size());
}

void BM_ReplaceAllOneRow(benchmark::State& state) {
  const std::string html = MakeHtml(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string out = ReplaceAll(html, "&amp;", "&", LeadByteSet::ShiftJis());
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, html.size());
}

void BM_ConvertEmptyTable(benchmark::State& state) {
  const std::string html = MakeHtml(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string out = ConvertWithTable(html, {}, LeadByteSet::ShiftJis());
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, html.size());
}

void BM_ConvertHtml4Table(benchmark::State& state) {
  const std::string html = MakeHtml(static_cast<std::size_t>(state.range(0)));
  const ArrayOfArrayOfString table = Html4Table();
  for (auto _ : state) {
    std::string out = ConvertWithTable(html, table, LeadByteSet::ShiftJis());
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, html.size());
}

// Every byte a lead byte and every byte a match: the back-scan must stay linear.
void BM_AdversarialLeadBytes(benchmark::State& state) {
  const std::string text(static_cast<std::size_t>(state.range(0)), '\x83');
  for (auto _ : state) {
    std::string out = ReplaceAll(text, "\x83", "\x83", LeadByteSet::ShiftJis());
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, text.size());
}

constexpr std::int64_t kSmall = 1 << 20;
constexpr std::int64_t kLarge = 64 << 20;

BENCHMARK(BM_RemoveTags)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceAllOneRow)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertEmptyTable)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertHtml4Table)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdversarialLeadBytes)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

}  // namespace
