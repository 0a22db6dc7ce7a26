// HTML-like text for the benchmarks: paragraphs of markup, words, Japanese and a sprinkling of
// entities, the same for the same seed.
#pragma once

#include <cstddef>
#include <iterator>
#include <random>
#include <string>

namespace tavrin::bench {

// The Japanese words are Shift-JIS bytes, or UTF-8 when shiftJis is false.
inline std::string MakeHtml(std::size_t size, std::mt19937& rng, bool shiftJis = true) {
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
      nullptr /* Japanese */,
      "<br>",
      "<td>",
      "</td>",
      "function(x) { return x; } ",
      "&eacute;t&eacute; ",
  };
  const char* japanese = shiftJis ? "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\xB6\x8F\xCD "
                                  : "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ";
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::string text;
  text.reserve(size + 64);
  while (text.size() < size) {
    const char* piece = pieces[pick(rng)];
    text += piece != nullptr ? piece : japanese;
  }
  text.resize(size);
  return text;
}

inline std::string MakeHtml(std::size_t size) {
  std::mt19937 rng(42);
  return MakeHtml(size, rng);
}

}  // namespace tavrin::bench
