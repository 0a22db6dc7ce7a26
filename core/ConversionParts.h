// The small pieces shared by the conversion routines: not part of the public interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "CodePage.h"

namespace tavrin::detail {

inline constexpr std::size_t kNone = std::string_view::npos;

// Only the bytes before a pattern's own NUL take part in the comparison.
inline std::string_view Searchable(std::string_view pattern) {
  return pattern.substr(0, pattern.find('\0'));
}

inline std::size_t FirstNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

#if defined(__SSE2__)
inline __m128i Load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline unsigned Where(__m128i block, __m128i byte) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, byte)));
}
// One bit per byte of data[0, 64) that equals byte.
inline std::uint64_t Where64(const char* data, __m128i byte) {
  return static_cast<std::uint64_t>(Where(Load16(data), byte)) |
         static_cast<std::uint64_t>(Where(Load16(data + 16), byte)) << 16 |
         static_cast<std::uint64_t>(Where(Load16(data + 32), byte)) << 32 |
         static_cast<std::uint64_t>(Where(Load16(data + 48), byte)) << 48;
}
#endif

// How many bytes equal to byte follow one another from data[from], up to end.
inline std::size_t RunLength(const char* data, std::size_t from, std::size_t end, char byte) {
  std::size_t at = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(byte);
  while (end - at >= 16) {
    const unsigned same = Where(Load16(data + at), wanted);
    if (same != 0xFFFF) return at + static_cast<std::size_t>(__builtin_ctz(~same)) - from;
    at += 16;
  }
#endif
  while (at < end && data[at] == byte) ++at;
  return at - from;
}

// A few bytes are copied far more often than many: keep those out of the library call.
inline void CopySmall(char* to, const char* from, std::size_t size) {
  if (size <= 8) {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
  } else {
    std::memcpy(to, from, size);
  }
}

// The stretches of a new text that replacements filled, back-to-back ones joined.
using Stretches = std::vector<std::pair<std::size_t, std::size_t>>;

inline void Note(Stretches* stretches, std::size_t begin, std::size_t end) {
  if (stretches == nullptr) return;
  if (!stretches->empty() && stretches->back().second == begin) {
    stretches->back().second = end;
  } else {
    stretches->emplace_back(begin, end);
  }
}

// A row that can change anything: its pattern cut at its NUL and not empty.
struct Row {
  std::string_view pattern;
  std::string_view replacement;
  bool insertsNul;
};

struct RowResult {
  bool changed = false;
  std::size_t searchEnd = 0;
  bool gaveUp = false;
};

// Replaces the accepted occurrences of pattern (already cut at its NUL) in text[0, searchEnd);
// the bytes from searchEnd on are kept as they are. Returns whether anything changed (when not,
// text is untouched) and where the searchable part now ends. When inserted is given, it receives
// the stretches of the new text that the replacements fill.
//
// A one-byte pattern is taken a run at a time: once an occurrence is accepted, every copy of
// the byte directly after it is one too, since each starts at the search position.
RowResult ReplaceRow(std::string& text, std::size_t searchEnd, std::string_view pattern,
                     std::string_view replacement, const LeadByteSet& leadBytes, std::string& spare,
                     Stretches* inserted);

// Rows replaced together by ReplaceTokenRows, in their order. Each pattern is one token: an
// opening byte, bytes other than it and the closing byte, then the closing byte ('<' and '>' for
// a tag, '&' and ';' for an entity), the same two for all and neither a lead byte. Each
// replacement holds no NUL and occurs within no later row's pattern; all but the last row's
// (which no later row sees) are not empty and hold neither of the two bytes. Occurrences of such
// patterns never overlap, and no replacement can make or unmake an occurrence of a later row: one
// pass finds what one pass per row would. Only the double-byte rule needs care, for a later row
// sees the replacements of the earlier ones before an occurrence (see ReplaceTokenRows).
class TokenRows {
 public:
  // The rows are told apart by the two bytes after the opening one, in masks of one bit per row,
  // 64 rows to a word; a run of rows longer than this is cut, so that the masks stay short.
  static constexpr std::size_t kMost = 1024;

  // rows[0, count), count at most kMost.
  void Assign(const Row* const* rows, std::size_t count, const LeadByteSet& leadBytes);
  std::size_t Size() const { return rows_.size(); }
  char Open() const { return open_; }
  // The first opening byte in text[from, end - 1) at which a row may begin (At tells whether
  // one does), or kNone.
  std::size_t Next(const char* text, std::size_t from, std::size_t end) const;
  const Row& Get(std::size_t k) const { return *rows_[k]; }
  // How many lead bytes end row k's replacement, and whether they are all of it.
  std::size_t TrailingLeads(std::size_t k) const { return trailingLeads_[k]; }
  bool AllLeads(std::size_t k) const { return trailingLeads_[k] == rows_[k]->replacement.size(); }

  // The first row from k on whose pattern occurs at text[at], which is the opening byte, within
  // text[0, end); kNone when none does. Other rows found there have the same pattern.
  std::size_t At(const char* text, std::size_t at, std::size_t end, std::size_t k = 0) const {
    if (end - at < 2) return kNone;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    const std::size_t third = end - at > 2 ? static_cast<unsigned char>(text[at + 2]) : 256;
    for (std::size_t w = k / 64; w < words_; ++w) {
      // Most tags of a text are none of the rows': two bytes after the '<' rule out nearly all.
      std::uint64_t rows = bySecond_[w * 256 + second] & byThird_[w * 257 + third];
      if (w == k / 64) rows &= ~std::uint64_t{0} << (k % 64);
      for (; rows != 0; rows &= rows - 1) {
        const std::size_t row = w * 64 + static_cast<std::size_t>(__builtin_ctzll(rows));
        const std::string_view pattern = rows_[row]->pattern;
        if (end - at < pattern.size()) continue;
        if (end - at >= 8 && pattern.size() <= 8) {
          std::uint64_t word;
          std::memcpy(&word, text + at, 8);
          if ((word & masks_[row]) == heads_[row]) return row;
        } else if (std::memcmp(text + at, pattern.data(), pattern.size()) == 0) {
          return row;
        }
      }
    }
    return kNone;
  }

 private:
  // Whether some row begins with the opening byte, then second, then third.
  bool MayBegin(const std::uint64_t* bySecond, const std::uint64_t* byThird, unsigned char second,
                unsigned char third) const {
    if ((bySecond[second] & byThird[third]) != 0) return true;
    for (std::size_t w = 1; w < words_; ++w) {
      if ((bySecond[w * 256 + second] & byThird[w * 257 + third]) != 0) return true;
    }
    return false;
  }

  // Kept from one Assign to the next, so that a pass per piece allocates nothing.
  std::vector<const Row*> rows_;
  std::vector<std::uint64_t> heads_;  // a pattern of at most 8 bytes, as the word it loads as
  std::vector<std::uint64_t> masks_;
  std::vector<std::size_t> trailingLeads_;
  // words_ blocks, one per 64 rows: of 256 words in bySecond_, one per byte, and of 257 in
  // byThird_, the last for a text that ends after the second byte.
  std::vector<std::uint64_t> bySecond_;
  std::vector<std::uint64_t> byThird_;
  std::size_t words_ = 0;
  char open_ = 0;
};

// Rows of whole tags and then rows of tokens of another pair of bytes (entities), in one pass
// over the text as the first rows' pass and then the others' would go: they never overlap, no
// replacement of the first rows takes part in an occurrence of the others (PrepareTable sees to
// that), and the later rows see the earlier rows' replacements before an occurrence, as the
// double-byte rule wants. Row k is the first's k-th, or the second's (k - first's size)-th.
class TwoTokenRuns {
 public:
  void Assign(const Row* const* first, std::size_t firstCount, const Row* const* second,
              std::size_t secondCount, const LeadByteSet& leadBytes) {
    first_.Assign(first, firstCount, leadBytes);
    second_.Assign(second, secondCount, leadBytes);
  }
  std::size_t FirstSize() const { return first_.Size(); }
  const TokenRows& First() const { return first_; }
  const TokenRows& Second() const { return second_; }
  const Row& Get(std::size_t k) const {
    return k < first_.Size() ? first_.Get(k) : second_.Get(k - first_.Size());
  }
  std::size_t TrailingLeads(std::size_t k) const {
    return k < first_.Size() ? first_.TrailingLeads(k) : second_.TrailingLeads(k - first_.Size());
  }
  bool AllLeads(std::size_t k) const {
    return k < first_.Size() ? first_.AllLeads(k) : second_.AllLeads(k - first_.Size());
  }
  // As TokenRows::At, the opening byte at text[at] telling which rows may occur there.
  std::size_t At(const char* text, std::size_t at, std::size_t end, std::size_t k = 0) const {
    const std::size_t split = first_.Size();
    if (text[at] == first_.Open()) return k < split ? first_.At(text, at, end, k) : kNone;
    const std::size_t found = second_.At(text, at, end, k < split ? 0 : k - split);
    return found == kNone ? kNone : found + split;
  }

 private:
  TokenRows first_;
  TokenRows second_;
};

// Replaces in one pass the occurrences of the rows' patterns in text[0, searchEnd), the bytes
// from there on kept as they are, and writes the new text to out (only when something changed).
// When inserted is given, it receives the stretches of out that the replacements fill.
//
// Under the double-byte rule a row sees, before an occurrence, the replacements of the earlier
// rows but the patterns of the later ones, whose closing byte ends any run of lead bytes. When
// that run goes back over more replacements made only of lead bytes than are kept in mind, the
// pass gives up and the rows are to go one by one; with no such replacement it never does.
enum class TokenPass { kUnchanged, kChanged, kGaveUp };
TokenPass ReplaceTokenRows(std::string_view text, std::size_t searchEnd, const TokenRows& rows,
                           const LeadByteSet& leadBytes, std::string& out, Stretches* inserted);

// The same with the new text's tags removed, straight to out (room for text.size() bytes when
// no row's replacement is longer than its pattern), inTag carried as by StripTags. Only a
// changed text is written, and then out moves to the end of what was.
TokenPass ReplaceTokenRowsStripped(std::string_view text, std::size_t searchEnd,
                                   const TokenRows& rows, const LeadByteSet& leadBytes, char*& out,
                                   bool& inTag, char** watch = nullptr);

// The same for TwoTokenRuns. While watch is given and null, the first '>' of the new text is
// looked for: watch is set to the end of the output up to and including it.
TokenPass ReplaceTokenRowsStripped(std::string_view text, std::size_t searchEnd,
                                   const TwoTokenRuns& rows, const LeadByteSet& leadBytes,
                                   char*& out, bool& inTag, char** watch);

// The same on text where it is, spare serving as the other buffer; as ReplaceRow, but for a pass
// that gave up (gaveUp, text untouched).
RowResult ReplaceTokenRows(std::string& text, std::size_t searchEnd, const TokenRows& rows,
                           const LeadByteSet& leadBytes, std::string& spare, Stretches* inserted);

// Where the output of StripTags goes: apart from the source, or down the source's own buffer.
enum class Target { kApart, kInPlace };

// Copies the bytes of [src, src + size) that lie outside tags to out and returns the end of
// what it wrote; inTag carries the state from one piece of a text to the next. out has room for
// size bytes; in place it lies at or before src.
char* StripTags(const char* src, std::size_t size, char* out, bool& inTag, Target target);

// ReplaceRow for a replacement no longer than its pattern, then StripTags on what it makes, the
// text itself left as it is: the replaced text goes straight to out (room for text.size() bytes,
// apart from text) with its tags removed. Returns the end of what it wrote.
char* ReplaceRowStripped(std::string_view text, std::size_t searchEnd, std::string_view pattern,
                         std::string_view replacement, const LeadByteSet& leadBytes, char* out,
                         bool& inTag);

}  // namespace tavrin::detail
