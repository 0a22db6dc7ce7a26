#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ConversionParts.h"

namespace tavrin::detail {

void TokenRows::Assign(const Row* const* rows, std::size_t count, const LeadByteSet& leadBytes) {
  open_ = rows[0]->pattern[0];
  words_ = (count + 63) / 64;
  rows_.assign(rows, rows + count);
  heads_.assign(count, 0);
  masks_.assign(count, 0);
  trailingLeads_.assign(count, 0);
  bySecond_.assign(256 * words_, 0);
  byThird_.assign(257 * words_, 0);
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view pattern = rows[k]->pattern;
    const std::string_view replacement = rows[k]->replacement;
    const std::size_t word = k / 64;
    const std::uint64_t bit = std::uint64_t{1} << (k % 64);
    if (pattern.size() <= 8) {
      std::memcpy(&heads_[k], pattern.data(), pattern.size());
      std::memset(&masks_[k], 0xFF, pattern.size());
    }
    std::size_t leads = 0;
    while (leads < replacement.size() && leadBytes.Contains(static_cast<unsigned char>(
                                             replacement[replacement.size() - 1 - leads]))) {
      ++leads;
    }
    trailingLeads_[k] = leads;
    bySecond_[word * 256 + static_cast<unsigned char>(pattern[1])] |= bit;
    if (pattern.size() > 2) {
      byThird_[word * 257 + static_cast<unsigned char>(pattern[2])] |= bit;
    } else {
      // "<>": any byte after, or none
      for (std::size_t third = 0; third <= 256; ++third) byThird_[word * 257 + third] |= bit;
    }
  }
}

std::size_t TokenRows::Next(const char* text, std::size_t from, std::size_t end) const {
#if defined(__SSE2__)
  // Markup has a '<' every few dozen bytes, and few of them begin one of the rows: one call to
  // memchr for each would cost more than the rest of the pass. Those are found here 64 bytes at
  // a time and told apart by the two bytes after them (read too, hence the 66). '&' is rare
  // enough for memchr.
  if (open_ == '<') {
    const __m128i open = _mm_set1_epi8(open_);
    const std::uint64_t* const bySecond = bySecond_.data();
    const std::uint64_t* const byThird = byThird_.data();
    for (; end - from >= 66; from += 64) {
      for (std::uint64_t opens = Where64(text + from, open); opens != 0; opens &= opens - 1) {
        const std::size_t at = from + static_cast<std::size_t>(__builtin_ctzll(opens));
        if (MayBegin(bySecond, byThird, static_cast<unsigned char>(text[at + 1]),
                     static_cast<unsigned char>(text[at + 2]))) {
          return at;
        }
      }
    }
  }
#endif
  if (from + 1 >= end) return kNone;
  const void* hit = std::memchr(text + from, open_, end - 1 - from);
  return hit == nullptr ? kNone : static_cast<std::size_t>(static_cast<const char*>(hit) - text);
}

namespace {

// The occurrences replaced so far in a pass, the last few of them: where each stood in the text
// and which row replaced it.
class Replaced {
 public:
  static constexpr std::size_t kKept = 16;
  struct Occurrence {
    std::size_t begin;
    std::size_t end;
    std::size_t row;
  };

  void Add(std::size_t begin, std::size_t end, std::size_t row) {
    kept_[count_ % kKept] = {begin, end, row};
    ++count_;
  }
  std::size_t Count() const { return count_; }
  // The i-th occurrence, i < Count(); null when it is no longer kept.
  const Occurrence* Get(std::size_t i) const {
    return count_ - i > kKept ? nullptr : &kept_[i % kKept];
  }

 private:
  Occurrence kept_[kKept] = {};
  std::size_t count_ = 0;
};

// How many lead bytes end data[from, at).
std::size_t LeadsBefore(const char* data, std::size_t from, std::size_t at,
                        const LeadByteSet& leadBytes) {
  std::size_t back = at;
  while (back > from && leadBytes.Contains(static_cast<unsigned char>(data[back - 1]))) --back;
  return at - back;
}

// The length of the run of lead bytes before data[at] as row k sees it: the text with the
// earlier rows' occurrences replaced, the later rows' not yet. kNone when that goes back past
// what replaced keeps.
template <class Rows>
std::size_t RunBefore(const char* data, std::size_t at, std::size_t k, const Rows& rows,
                      const Replaced& replaced, const LeadByteSet& leadBytes) {
  std::size_t i = replaced.Count();
  // Mostly a byte that is not a lead byte stands before, and no replacement ends there.
  if (at != 0 && !leadBytes.Contains(static_cast<unsigned char>(data[at - 1])) &&
      (i == 0 || replaced.Get(i - 1)->end != at)) {
    return 0;
  }
  std::size_t from = i == 0 ? 0 : replaced.Get(i - 1)->end;
  std::size_t leads = LeadsBefore(data, from, at, leadBytes);
  std::size_t run = leads;
  while (i > 0 && leads == at - from) {
    // Back at the end of a replaced occurrence.
    const Replaced::Occurrence last = *replaced.Get(i - 1);
    if (last.row >= k) break;  // still the pattern for row k, ending with its closing byte
    run += rows.TrailingLeads(last.row);
    if (!rows.AllLeads(last.row)) break;
    --i;
    if (i != 0 && replaced.Get(i - 1) == nullptr) return kNone;
    from = i == 0 ? 0 : replaced.Get(i - 1)->end;
    at = last.begin;
    leads = LeadsBefore(data, from, at, leadBytes);
    run += leads;
  }
  return run;
}

// The new text of a pass into a string, begun at the first change. It is written through a
// pointer: the string grows (and is zero-filled) only past the largest size it had, and keeps
// its final size.
class ToString {
 public:
  ToString(std::string& out, Stretches* inserted) : out_(out), inserted_(inserted) {}
  void Begin(std::size_t size) {
    if (out_.size() < size) out_.resize(size);
    at_ = out_.data();
    end_ = at_ + out_.size();
  }
  void Text(const char* data, std::size_t size) {
    Room(size);
    std::memcpy(at_, data, size);
    at_ += size;
  }
  void Replacement(std::string_view replacement) {
    Room(replacement.size());
    const auto begin = static_cast<std::size_t>(at_ - out_.data());
    CopySmall(at_, replacement.data(), replacement.size());
    at_ += replacement.size();
    Note(inserted_, begin, begin + replacement.size());
  }
  void Finish() { out_.resize(static_cast<std::size_t>(at_ - out_.data())); }

 private:
  void Room(std::size_t size) {
    if (static_cast<std::size_t>(end_ - at_) >= size) return;
    const auto used = static_cast<std::size_t>(at_ - out_.data());
    out_.resize(std::max(2 * out_.size(), used + size));
    at_ = out_.data() + used;
    end_ = out_.data() + out_.size();
  }

  std::string& out_;
  Stretches* inserted_;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

// The new text of a pass with its tags removed, into a buffer. The short stretches between
// occurrences and the replacements are gathered first: the tag removal costs a setting up per
// call, and takes many bytes at a time best.
class ToStripped {
 public:
  ToStripped(char* out, bool& inTag, char** watch) : out_(out), inTag_(inTag), watch_(watch) {
    if (watch_ != nullptr && *watch_ != nullptr) watch_ = nullptr;
  }
  void Begin(std::size_t) {}
  void Text(const char* data, std::size_t size) {
    if (gathered_ + size > sizeof gather_) {
      Flush();
      if (size > sizeof gather_ / 2) {
        Strip(data, size);
        return;
      }
    }
    CopySmall(gather_ + gathered_, data, size);
    gathered_ += size;
  }
  void Replacement(std::string_view replacement) { Text(replacement.data(), replacement.size()); }
  void Finish() { Flush(); }
  char* End() const { return out_; }

 private:
  void Flush() {
    Strip(gather_, gathered_);
    gathered_ = 0;
  }
  void Strip(const char* data, std::size_t size) {
    if (watch_ != nullptr) {
      // Up to the first '>' the output depends on whether the text began inside a tag.
      const void* close = std::memchr(data, '>', size);
      if (close != nullptr) {
        const auto head = static_cast<std::size_t>(static_cast<const char*>(close) - data) + 1;
        out_ = StripTags(data, head, out_, inTag_, Target::kApart);
        *watch_ = out_;
        watch_ = nullptr;
        data += head;
        size -= head;
      }
    }
    out_ = StripTags(data, size, out_, inTag_, Target::kApart);
  }

  char* out_;
  bool& inTag_;
  char** watch_;
  char gather_[4096];
  std::size_t gathered_ = 0;
};

// The next place in a text where one of the rows may begin.
class Scan {
 public:
  Scan(const TokenRows& rows, const char* text, std::size_t end)
      : rows_(rows), text_(text), end_(end) {}
  std::size_t Next(std::size_t from) const { return rows_.Next(text_, from, end_); }

 private:
  const TokenRows& rows_;
  const char* text_;
  std::size_t end_;
};

// The same for two runs of rows: each run's next place is kept until the search passes it.
class TwoScan {
 public:
  TwoScan(const TwoTokenRuns& rows, const char* text, std::size_t end)
      : first_(rows.First(), text, end), second_(rows.Second(), text, end) {}
  std::size_t Next(std::size_t from) {
    if (!firstKnown_ || (firstAt_ < from && firstAt_ != kNone)) {
      firstAt_ = first_.Next(from);
      firstKnown_ = true;
    }
    if (!secondKnown_ || (secondAt_ < from && secondAt_ != kNone)) {
      secondAt_ = second_.Next(from);
      secondKnown_ = true;
    }
    return std::min(firstAt_, secondAt_);
  }

 private:
  Scan first_;
  Scan second_;
  std::size_t firstAt_ = 0;
  std::size_t secondAt_ = 0;
  bool firstKnown_ = false;
  bool secondKnown_ = false;
};

template <class Rows, class Scanner, class Writer>
TokenPass ReplaceTokenRowsTo(std::string_view text, std::size_t searchEnd, const Rows& rows,
                             const LeadByteSet& leadBytes, Writer& writer) {
  const char* const data = text.data();
  const bool checkLeads = !leadBytes.Empty();
  Replaced replaced;
  std::size_t pos = 0;  // the search position
  bool changed = false;
  Scanner scan(rows, data, searchEnd);
  for (std::size_t from = 0; from + 1 < searchEnd;) {
    const std::size_t at = scan.Next(from);
    if (at == kNone) break;
    from = at + 1;
    std::size_t k = rows.At(data, at, searchEnd);
    if (k == kNone) continue;
    if (checkLeads) {
      // A row for which this is the second byte of a character passes it over; a later row with
      // the same pattern may see other bytes before it.
      for (; k != kNone; k = rows.At(data, at, searchEnd, k + 1)) {
        const std::size_t run = RunBefore(data, at, k, rows, replaced, leadBytes);
        if (run == kNone) return TokenPass::kGaveUp;
        if (run % 2 == 0) break;
      }
      if (k == kNone) continue;
    }
    const Row& row = rows.Get(k);
    if (!changed) {
      writer.Begin(text.size());
      changed = true;
    }
    writer.Text(data + pos, at - pos);
    writer.Replacement(row.replacement);
    pos = at + row.pattern.size();
    if (checkLeads) replaced.Add(at, pos, k);
    from = pos;
  }
  if (!changed) return TokenPass::kUnchanged;
  writer.Text(data + pos, text.size() - pos);
  writer.Finish();
  return TokenPass::kChanged;
}

}  // namespace

TokenPass ReplaceTokenRows(std::string_view text, std::size_t searchEnd, const TokenRows& rows,
                           const LeadByteSet& leadBytes, std::string& out, Stretches* inserted) {
  ToString writer(out, inserted);
  return ReplaceTokenRowsTo<TokenRows, Scan>(text, searchEnd, rows, leadBytes, writer);
}

namespace {

template <class Rows, class Scanner>
TokenPass StrippedPass(std::string_view text, std::size_t searchEnd, const Rows& rows,
                       const LeadByteSet& leadBytes, char*& out, bool& inTag, char** watch) {
  const bool inTagBefore = inTag;
  char* const watchedBefore = watch != nullptr ? *watch : nullptr;
  ToStripped writer(out, inTag, watch);
  const TokenPass pass =
      ReplaceTokenRowsTo<Rows, Scanner>(text, searchEnd, rows, leadBytes, writer);
  if (pass == TokenPass::kChanged) {
    out = writer.End();
  } else {
    // What was written counts for nothing.
    inTag = inTagBefore;
    if (watch != nullptr) *watch = watchedBefore;
  }
  return pass;
}

}  // namespace

TokenPass ReplaceTokenRowsStripped(std::string_view text, std::size_t searchEnd,
                                   const TokenRows& rows, const LeadByteSet& leadBytes, char*& out,
                                   bool& inTag, char** watch) {
  return StrippedPass<TokenRows, Scan>(text, searchEnd, rows, leadBytes, out, inTag, watch);
}

TokenPass ReplaceTokenRowsStripped(std::string_view text, std::size_t searchEnd,
                                   const TwoTokenRuns& rows, const LeadByteSet& leadBytes,
                                   char*& out, bool& inTag, char** watch) {
  return StrippedPass<TwoTokenRuns, TwoScan>(text, searchEnd, rows, leadBytes, out, inTag, watch);
}

RowResult ReplaceTokenRows(std::string& text, std::size_t searchEnd, const TokenRows& rows,
                           const LeadByteSet& leadBytes, std::string& spare, Stretches* inserted) {
  switch (ReplaceTokenRows(std::string_view(text), searchEnd, rows, leadBytes, spare, inserted)) {
    case TokenPass::kUnchanged:
      return {false, searchEnd};
    case TokenPass::kGaveUp:
      return {false, searchEnd, true};
    case TokenPass::kChanged:
      break;
  }
  const std::size_t after = text.size() - searchEnd;
  text.swap(spare);
  return {true, text.size() - after};
}

}  // namespace tavrin::detail
