// Pieces shared by the fuzz targets: how an input picks its lead-byte set, and a cutting
// routine written straight from the table format's rules to check the core's against.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CodePage.h"
#include "VBLikeFunctions.h"

namespace tavrin::fuzz {

// Bit 0 of an input's first byte: the Shift-JIS set, else the empty (single-byte) set.
inline LeadByteSet LeadBytesFor(unsigned char flags) {
  return (flags & 1) ? LeadByteSet::ShiftJis() : LeadByteSet();
}

// Cut at every delimiter, then drop the empty pieces but the last: leading delimiters and
// runs vanish, and only the text after the last delimiter may stay empty.
inline ArrayOfString PlainSplit(std::string_view text, char delimiter) {
  ArrayOfString pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(delimiter, start);
    pieces.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  ArrayOfString kept;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (!pieces[i].empty() || i + 1 == pieces.size()) kept.push_back(pieces[i]);
  }
  return kept;
}

// Stops the run with a message; libFuzzer then keeps the input that did it.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

#define TAVRIN_FUZZ_CHECK(condition)                    \
  do {                                                  \
    if (!(condition)) ::tavrin::fuzz::Fail(#condition); \
  } while (false)

}  // namespace tavrin::fuzz
