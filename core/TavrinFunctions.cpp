#include "TavrinFunctions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FindBytes.h"
#include "MultiPatternSearch.h"

namespace tavrin {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Only the bytes before a pattern's own NUL take part in the comparison.
std::string_view Searchable(std::string_view pattern) {
  return pattern.substr(0, pattern.find('\0'));
}

std::size_t FirstNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

// Finds the occurrences of one pattern that ReplaceAll accepts, left to right, in
// data[0, searchEnd). The double-byte rule needs the length of the run of lead bytes just
// before a candidate, counted back no further than the search position; the run known at the
// last look is kept, so every byte is walked back over at most once and the search stays linear
// however the lead bytes fall.
class Matcher {
 public:
  Matcher(const char* data, std::size_t searchEnd, std::string_view pattern,
          const LeadByteSet& leadBytes)
      : data_(data),
        searchEnd_(searchEnd),
        pattern_(pattern),
        leadBytes_(leadBytes),
        checkLeads_(!leadBytes.Empty()) {}

  // The first accepted occurrence at or after pos, where pos is the search position (the start,
  // or just after the previous occurrence). kNone when there is none.
  std::size_t Next(std::size_t pos) { return StartsAt(pos) ? pos : NextAfter(pos, 0); }

  // The same from a pos that need not be the search position: odd says that the lead bytes
  // before pos, counted back to the search position, are an odd run, so pos is a second byte.
  std::size_t Resume(std::size_t pos, bool odd) {
    return odd && checkLeads_ ? NextAfter(pos, 1) : Next(pos);
  }

 private:
  // Whether an occurrence starts right at pos. It is accepted whatever precedes it, for the
  // search position is never a second byte. Occurrences that follow each other directly (runs
  // of one character) are found here without a library call.
  bool StartsAt(std::size_t pos) const {
    const std::size_t size = pattern_.size();
    if (pos > searchEnd_ || searchEnd_ - pos < size) return false;
    const char* start = data_ + pos;
    return *start == pattern_[0] &&
           (size == 1 || std::memcmp(start + 1, pattern_.data() + 1, size - 1) == 0);
  }

  std::size_t NextAfter(std::size_t pos, std::size_t runBefore) {
    base_ = pos;
    baseRun_ = runBefore;
    std::size_t from = pos + 1;
    while (true) {
      const std::size_t candidate = Find(from);
      if (candidate == kNone) return kNone;
      if (!checkLeads_ || RunBefore(candidate) % 2 == 0) return candidate;
      from = candidate + 1;  // the second byte of a character: pass it over
    }
  }

  // The first occurrence at or after from, byte for byte. Patterns usually begin with a byte
  // that is rare in the text ('&' in markup): looking for that byte and comparing the rest
  // costs less than a general substring search, which is set up afresh at every call. When the
  // first byte keeps turning up without the rest, the general search takes over for good.
  std::size_t Find(std::size_t from) {
    const std::size_t size = pattern_.size();
    if (from > searchEnd_ || searchEnd_ - from < size) return kNone;
    const auto first = static_cast<unsigned char>(pattern_[0]);
    const char* const last = data_ + searchEnd_ - size;  // the last place an occurrence fits
    const char* start = data_ + from;
    while (!substringSearch_) {
      const auto* hit = static_cast<const char*>(
          std::memchr(start, first, static_cast<std::size_t>(last - start) + 1));
      if (hit == nullptr) return kNone;
      if (size == 1 || std::memcmp(hit + 1, pattern_.data() + 1, size - 1) == 0) {
        return static_cast<std::size_t>(hit - data_);
      }
      // More than one miss in every 128 bytes, past a first few: the byte is not rare here.
      substringSearch_ = ++misses_ > 64 + static_cast<std::size_t>(hit - data_) / 128;
      start = hit + 1;
      if (start > last) return kNone;
    }
    const char* hit = FindBytes(start, static_cast<std::size_t>(data_ + searchEnd_ - start),
                                pattern_.data(), size);
    if (hit == nullptr) return kNone;
    return static_cast<std::size_t>(hit - data_);
  }

  std::size_t RunBefore(std::size_t candidate) {
    std::size_t back = candidate;
    while (back > base_ && leadBytes_.Contains(static_cast<unsigned char>(data_[back - 1]))) --back;
    std::size_t run = candidate - back;
    if (back == base_) run += baseRun_;
    base_ = candidate;
    baseRun_ = run;
    return run;
  }

  const char* data_;
  std::size_t searchEnd_;
  std::string_view pattern_;
  const LeadByteSet& leadBytes_;
  bool checkLeads_;
  std::size_t base_ = 0;
  std::size_t baseRun_ = 0;
  std::size_t misses_ = 0;
  bool substringSearch_ = false;
};

#if defined(__SSE2__)
inline __m128i Load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline unsigned Where(__m128i block, __m128i byte) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, byte)));
}
#endif

// How many bytes equal to byte follow one another from data[from], up to end.
std::size_t RunLength(const char* data, std::size_t from, std::size_t end, char byte) {
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

struct RowResult {
  bool changed = false;
  std::size_t searchEnd = 0;
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
                     Stretches* inserted) {
  Matcher matcher(text.data(), searchEnd, pattern, leadBytes);
  std::size_t hit = matcher.Next(0);
  if (hit == kNone) return {false, searchEnd};

  const std::size_t size = text.size();
  const bool oneByte = pattern.size() == 1;
  if (replacement.size() <= pattern.size()) {
    // The text only shrinks: move it down in place. Writes stay behind the end of the current
    // occurrence, and the matcher never looks before it, so nothing it reads is overwritten.
    char* const data = text.data();
    std::size_t write = hit;
    std::size_t read = hit;
    while (true) {
      const std::size_t count = oneByte ? RunLength(data, hit, searchEnd, pattern[0]) : 1;
      const std::size_t filled = count * replacement.size();
      if (oneByte && !replacement.empty()) {
        std::memset(data + write, replacement[0], count);
      } else {
        CopySmall(data + write, replacement.data(), replacement.size());
      }
      Note(inserted, write, write + filled);
      write += filled;
      read = hit + count * pattern.size();
      hit = matcher.Next(read);
      if (hit == kNone) break;
      if (write != read) std::memmove(data + write, data + read, hit - read);
      write += hit - read;
    }
    const std::size_t removed = read - write;
    if (removed != 0) {
      std::memmove(data + write, data + read, size - read);
      text.resize(size - removed);
    }
    return {true, searchEnd - removed};
  }

  // The text grows: build it anew in the spare buffer and swap.
  spare.clear();
  spare.reserve(size + size / 8 + replacement.size());
  std::size_t read = 0;
  do {
    spare.append(text, read, hit - read);
    const std::size_t count = oneByte ? RunLength(text.data(), hit, searchEnd, pattern[0]) : 1;
    const std::size_t begin = spare.size();
    for (std::size_t k = 0; k < count; ++k) spare.append(replacement);
    Note(inserted, begin, spare.size());
    read = hit + count * pattern.size();
    hit = matcher.Next(read);
  } while (hit != kNone);
  spare.append(text, read, kNone);
  const std::size_t grown = spare.size() - size;
  text.swap(spare);
  return {true, searchEnd + grown};
}

// ---- Tag removal ----

// The first '>' in [p, end), or end.
inline const char* FindClose(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i close = _mm_set1_epi8('>');
  while (end - p >= 16) {
    const unsigned mask = Where(Load16(p), close);
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && *p != '>') ++p;
  return p;
}

// Where the output of StripTags goes: apart from the source, or down the source's own buffer.
enum class Target { kApart, kInPlace };

// The plain scan of StripTags: to the next '<', then to the next '>'. Text between tags is
// copied sixteen bytes at a time, even when fewer belong to it; the extra bytes land where later
// output overwrites them or past the final end. In place that is only safe once the output
// trails the input by sixteen bytes or more; until then the run is moved exactly.
char* StripTagsByScan(const char* p, const char* end, char* out, bool& inTag, Target target) {
  while (p < end) {
    if (inTag) {
      p = FindClose(p, end);
      if (p == end) break;
      ++p;
      inTag = false;
      continue;
    }
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('<');
    bool opened = false;
    while (end - p >= 16) {
      const __m128i block = Load16(p);
      const unsigned mask = Where(block, open);
      const std::size_t keep = mask ? static_cast<std::size_t>(__builtin_ctz(mask)) : 16;
      if (out == p) {
        // Nothing removed yet: the text is already where it belongs.
      } else if (target == Target::kApart || p - out >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
      } else {
        std::memmove(out, p, keep);
      }
      out += keep;
      p += keep;
      if (mask != 0) {
        ++p;
        opened = true;
        break;
      }
    }
    if (opened) {
      inTag = true;
      continue;
    }
#endif
    while (p < end && *p != '<') *out++ = *p++;
    if (p < end) {
      ++p;
      inTag = true;
    }
  }
  return out;
}

#if defined(__SSE2__)
// One bit per byte of data[0, 64) that equals byte.
inline std::uint64_t Where64(const char* data, __m128i byte) {
  return static_cast<std::uint64_t>(Where(Load16(data), byte)) |
         static_cast<std::uint64_t>(Where(Load16(data + 16), byte)) << 16 |
         static_cast<std::uint64_t>(Where(Load16(data + 32), byte)) << 32 |
         static_cast<std::uint64_t>(Where(Load16(data + 48), byte)) << 48;
}

inline void Copy64(char* to, const char* from) {
  for (int k = 0; k < 64; k += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), Load16(from + k));
  }
}

// The blocks of StripTags, 64 bytes each, without a branch per tag. Every '>' bit off and every
// other bit on, adding the '<' bits (and the carry of a tag still open) lets each carry run from
// a '<' up to the first '>' after it: the bits the sum changes, with the '<' bits, are the bytes
// of the tags, the closing '>' included, and the sum's carry-out says a tag is still open. The
// kept runs are copied 64 bytes at a time, which in place needs the output 64 bytes behind.
// Leaves fewer than 128 bytes, so that those copies never read past end.
char* StripTagBlocks(const char*& p, const char* end, char* out, bool& inTag, Target target) {
  const __m128i open = _mm_set1_epi8('<');
  const __m128i close = _mm_set1_epi8('>');
  std::uint64_t carry = inTag ? 1 : 0;
  for (; end - p >= 128; p += 64) {
    const std::uint64_t opens = Where64(p, open);
    const std::uint64_t others = ~Where64(p, close);
    std::uint64_t sum;
    const bool carried1 = __builtin_add_overflow(others, opens, &sum);
    const bool carried2 = __builtin_add_overflow(sum, carry, &sum);
    carry = carried1 || carried2;
    std::uint64_t keep = ~((sum ^ others) | opens);
    const bool wide = target == Target::kApart || p - out >= 64;
    while (keep != 0) {
      const int start = __builtin_ctzll(keep);
      const std::uint64_t rest = ~(keep >> start);
      const int length = rest == 0 ? 64 - start : __builtin_ctzll(rest);
      if (wide) {
        Copy64(out, p + start);
      } else if (out != p + start) {
        std::memmove(out, p + start, static_cast<std::size_t>(length));
      }
      out += length;
      keep = start + length >= 64 ? 0 : keep & (~std::uint64_t{0} << (start + length));
    }
  }
  inTag = carry != 0;
  return out;
}
#endif

// Copies the bytes of [src, src + size) that lie outside tags to out and returns the end of
// what it wrote; inTag carries the state from one piece of a text to the next. out has room for
// size bytes; in place it lies at or before src.
char* StripTags(const char* src, std::size_t size, char* out, bool& inTag, Target target) {
  const char* p = src;
  const char* const end = src + size;
#if defined(__SSE2__)
  out = StripTagBlocks(p, end, out, inTag, target);
#endif
  return StripTagsByScan(p, end, out, inTag, target);
}

}  // namespace

// ---- The whole conversion ----

namespace {

// A row that can change anything: its pattern cut at its NUL and not empty.
struct Row {
  std::string_view pattern;
  std::string_view replacement;
  bool insertsNul;
};

// The rows that can change anything, their bytes gathered into bytes, which must not change
// afterwards: one buffer costs far less than a string per field in a table of a million rows.
std::vector<Row> ActiveRows(const ArrayOfArrayOfString& table, std::string& bytes) {
  const auto active = [](const ArrayOfString& row) {
    return row.size() >= 2 && !Searchable(row[0]).empty();  // no replacement: see the header
  };
  std::size_t size = 0;
  std::size_t count = 0;
  for (const ArrayOfString& row : table) {
    if (!active(row)) continue;
    size += Searchable(row[0]).size() + row[1].size();
    ++count;
  }
  bytes.reserve(size);
  std::vector<Row> rows;
  rows.reserve(count);
  for (const ArrayOfString& row : table) {
    if (!active(row)) continue;
    const std::string_view pattern = Searchable(row[0]);
    const std::size_t at = bytes.size();
    bytes.append(pattern).append(row[1]);
    const std::string_view both(bytes.data() + at, pattern.size() + row[1].size());
    rows.push_back({both.substr(0, pattern.size()), both.substr(pattern.size()),
                    row[1].find('\0') != std::string::npos});
  }
  return rows;
}

std::vector<MultiPatternSearch::Entry> Entries(const std::vector<Row>& rows) {
  std::vector<MultiPatternSearch::Entry> entries;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    entries.emplace_back(rows[i].pattern, static_cast<std::uint32_t>(i));
  }
  return entries;
}

// A piece of text between two stages. It keeps room in front for the bytes that the next stage
// held back from the piece before, so that a stage that finds nothing passes the piece on where
// it is; and where its last run of lead bytes begins, so that the stages after need not count
// it again.
class StageText {
 public:
  explicit StageText(std::size_t room) : room_(room) {}

  void Clear() {
    bytes_.resize(room_);
    begin_ = room_;
    mayHoldNul_ = false;
    runStart_ = kNone;
  }
  const char* Data() const { return bytes_.data() + begin_; }
  std::size_t Size() const { return bytes_.size() - begin_; }
  std::string_view View() const { return {Data(), Size()}; }
  std::size_t Capacity() const { return bytes_.capacity(); }
  std::size_t Room() const { return room_; }
  // Where a stage writes a changed piece: after the room, from Clear on.
  std::string& Bytes() { return bytes_; }

  bool MayHoldNul() const { return mayHoldNul_; }
  void SetMayHoldNul(bool may) { mayHoldNul_ = may; }

  void Append(std::string_view bytes) {
    if (bytes.empty()) return;  // its data may be null, which memchr must not get
    bytes_.append(bytes);
    mayHoldNul_ = mayHoldNul_ || std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
    runStart_ = kNone;
  }

  void Prepend(std::string_view bytes, const LeadByteSet& leadBytes) {
    if (bytes.empty()) return;
    if (begin_ < bytes.size()) {
      bytes_.insert(begin_, room_, '\0');  // not expected: the room holds every stage's bytes
      begin_ += room_;
    }
    begin_ -= bytes.size();
    std::memcpy(bytes_.data() + begin_, bytes.data(), bytes.size());
    if (runStart_ == 0) {
      runStart_ = bytes.size();
      while (runStart_ > 0 &&
             leadBytes.Contains(static_cast<unsigned char>(Data()[runStart_ - 1]))) {
        --runStart_;
      }
    } else if (runStart_ != kNone) {
      runStart_ += bytes.size();
    }
  }

  void Truncate(std::size_t size) {
    bytes_.resize(begin_ + size);
    if (runStart_ != kNone && runStart_ > size) runStart_ = kNone;
  }

  // The start of the run of lead bytes that ends at end, counted back no further than from.
  std::size_t RunStart(std::size_t from, std::size_t end, const LeadByteSet& leadBytes) {
    if (runStart_ != kNone && runStart_ <= end) return std::max(from, runStart_);
    std::size_t back = end;
    while (back > from && leadBytes.Contains(static_cast<unsigned char>(Data()[back - 1]))) --back;
    // Known for good when the count stopped at a byte that is no lead byte or at the start.
    if (end == Size() && (back > from || back == 0)) runStart_ = back;
    return back;
  }
  // The last run of lead bytes begins at start; kNone when not known.
  void SetRunStart(std::size_t start) { runStart_ = start; }

  void Release() {
    std::string().swap(bytes_);
    begin_ = 0;
  }

  void Swap(StageText& other) {
    std::swap(room_, other.room_);
    std::swap(bytes_, other.bytes_);
    std::swap(begin_, other.begin_);
    std::swap(mayHoldNul_, other.mayHoldNul_);
    std::swap(runStart_, other.runStart_);
  }

 private:
  std::size_t room_;
  std::string bytes_;
  std::size_t begin_ = 0;
  bool mayHoldNul_ = false;
  std::size_t runStart_ = kNone;
};

// One row's ReplaceAll over a text that arrives in pieces. Bytes are passed on as soon as no
// later byte can change what becomes of them; held back are only the last bytes, where an
// occurrence may begin that the text so far does not finish. Besides those, the stage keeps
// whether the next byte would be the second byte of a character (an odd run of lead bytes since
// the search position) and whether the searchable part has ended at a NUL.
class RowStage {
 public:
  RowStage(const Row& row, const LeadByteSet& leadBytes) : row_(row), leadBytes_(leadBytes) {}

  void Reset() {
    held_.clear();
    odd_ = false;
    afterNul_ = false;
  }
  // The bytes held back, which come before the next piece.
  const std::string& Held() const { return held_; }
  bool AfterNul() const { return afterNul_; }

  // text is Held() followed by the next piece; leaves in it what is decided, with the
  // replacements (using spare when anything changes), and holds back the rest. With ended, the
  // text ends here and all is decided. Without mayOccur the pattern is known not to occur in
  // text and is not looked for. When inserted is given, it receives the stretches of the new
  // text that the replacements fill.
  void Run(StageText& text, bool ended, StageText& spare, bool mayOccur, Stretches* inserted);

 private:
  const Row& row_;
  const LeadByteSet& leadBytes_;
  std::string held_;
  bool odd_ = false;
  bool afterNul_ = false;
};

void RowStage::Run(StageText& text, bool ended, StageText& spare, bool mayOccur,
                   Stretches* inserted) {
  held_.clear();
  if (afterNul_) return;  // all passes unchanged
  const std::size_t size = text.Size();
  const char* const data = text.Data();

  // Occurrences begin before decidedEnd and end by searchEnd.
  const std::size_t length = row_.pattern.size();
  const std::size_t nul = text.MayHoldNul() ? FirstNul(text.View()) : size;
  std::size_t decidedEnd = size;
  if (nul < size) {
    decidedEnd = nul;
    afterNul_ = true;  // the NUL and all after it pass unchanged
  } else if (!ended) {
    // An occurrence beginning in the last length - 1 bytes may go on in the next piece.
    decidedEnd = size + 1 > length ? size + 1 - length : 0;
  }
  const std::size_t searchEnd = std::min(nul, decidedEnd + length - 1);

  Matcher matcher(data, searchEnd, row_.pattern, leadBytes_);
  std::size_t hit = mayOccur ? matcher.Resume(0, odd_) : kNone;
  if (hit == kNone) {
    if (afterNul_) return;
    held_.assign(data + decidedEnd, size - decidedEnd);
    text.Truncate(decidedEnd);
    const std::size_t back = text.RunStart(0, decidedEnd, leadBytes_);
    odd_ = ((decidedEnd - back) + (back == 0 && odd_ ? 1 : 0)) % 2 != 0;
    return;
  }

  spare.Clear();
  std::string& out = spare.Bytes();
  const bool oneByte = length == 1;
  std::size_t pos = 0;
  for (; hit != kNone; hit = matcher.Next(pos)) {
    out.append(data + pos, hit - pos);
    const std::size_t count = oneByte ? RunLength(data, hit, searchEnd, row_.pattern[0]) : 1;
    const std::size_t begin = out.size();
    if (oneByte && row_.replacement.size() == 1) {
      out.append(count, row_.replacement[0]);
    } else {
      for (std::size_t k = 0; k < count; ++k) out.append(row_.replacement);
    }
    Note(inserted, begin - spare.Room(), out.size() - spare.Room());
    pos = hit + count * length;
  }
  spare.SetMayHoldNul(text.MayHoldNul() || row_.insertsNul);
  if (afterNul_) {
    out.append(data + pos, size - pos);
  } else {
    const std::size_t end = std::max(pos, decidedEnd);
    out.append(data + pos, end - pos);
    held_.assign(data + end, size - end);
    // Counted back no further than the last occurrence, whose end is a search position.
    const std::size_t back = text.RunStart(pos, end, leadBytes_);
    odd_ = (end - back) % 2 != 0;
    if (back > pos) spare.SetRunStart(spare.Size() - (end - back));
  }
  text.Swap(spare);
}

}  // namespace

namespace {

// The converted bytes of one chunk. Unlike a string it is not zero-filled when it grows, since
// tag removal writes it straight away.
class OutputBuffer {
 public:
  void Clear() { size_ = 0; }
  // Room for size more bytes.
  char* Room(std::size_t size) {
    if (capacity_ - size_ < size) Grow(size_ + size);
    return data_.get() + size_;
  }
  void EndAt(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
  std::string_view View() const { return {data_.get(), size_}; }
  void ReleaseIfAbove(std::size_t capacity) {
    if (capacity_ <= capacity) return;
    data_.reset();
    capacity_ = size_ = 0;
  }

 private:
  void Grow(std::size_t need) {
    const std::size_t capacity = std::max(need, 2 * capacity_);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace

// The table's rows that can change anything and the search for their patterns, made once and
// then only read.
class PreparedTable {
 public:
  PreparedTable(const ArrayOfArrayOfString& table, const LeadByteSet& lead)
      : leadBytes(lead), rows(ActiveRows(table, bytes)), search(Entries(rows)) {
    // A cut after a byte that no pattern holds and that begins no character cannot fall inside
    // any occurrence at any stage, nor change which lead bytes count before a later candidate:
    // the pieces between such cuts convert independently.
    for (unsigned b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      cut[b] = !search.InSomePattern(byte) && !lead.Contains(byte);
    }
    // A replacement holding a NUL would end the searchable part for the rows after it, in
    // every later piece too; such a table goes the plain way: whole passes, or in chunks the
    // stages below.
    for (const Row& row : rows) {
      wholePasses = wholePasses || row.insertsNul;
      room += row.pattern.size() - 1;
    }
  }

  // Known only in this file and only read, so the converters use the fields directly.
  std::string bytes;  // rows points into it
  const LeadByteSet leadBytes;
  const std::vector<Row> rows;
  const MultiPatternSearch search;
  std::array<bool, 256> cut{};
  bool wholePasses = false;
  // What the stages hold back at most, all together.
  std::size_t room = 0;
};

std::shared_ptr<const PreparedTable> PrepareTable(const ArrayOfArrayOfString& table,
                                                  const LeadByteSet& leadBytes) {
  return std::make_shared<const PreparedTable>(table, leadBytes);
}

// A converter's own state and buffers, around a table that it shares.
class TableConverter::Impl {
 public:
  Impl(std::shared_ptr<const PreparedTable> table, std::size_t pieceSize, std::size_t maxWaiting)
      : table_(std::move(table)),
        leadBytes_(table_->leadBytes),
        pieceSize_(pieceSize > 0 ? pieceSize : 1),
        maxWaiting_(maxWaiting),
        rows_(table_->rows),
        search_(table_->search),
        cut_(table_->cut),
        wholePasses_(table_->wholePasses) {
    for (StageText& text : stageTexts_) StageText(table_->room).Swap(text);
    ReadyForText();
  }

  std::string Convert(std::string text);

  void Start();
  std::string_view Feed(std::string_view chunk);
  std::string_view Finish();
  std::size_t RowPasses() const { return rowPasses_; }

  // The working buffers are kept for the next text, unless a large text left them large.
  void ReleaseLargeBuffers() {
    for (std::string* buffer : {&piece_, &spare_}) {
      if (buffer->capacity() > 4 * (pieceSize_ + search_.MaxLength())) std::string().swap(*buffer);
    }
    // Chunks of a file are a few MiB; a stretch without cuts may have left these far larger.
    constexpr std::size_t kKept = std::size_t{16} << 20;
    if (tail_.capacity() > kKept) std::string().swap(tail_);
    for (StageText& text : stageTexts_) {
      if (text.Capacity() > kKept) text.Release();
    }
    out_.ReleaseIfAbove(kKept);
  }

 private:
  std::size_t NextCut(const char* data, std::size_t from, std::size_t limit) const;
  void ApplyRows(std::string& text, std::size_t searchEnd);
  void ConvertSpan(std::string_view span);
  void ConvertWithTail(std::string_view rest);
  void FeedPieces(std::string_view chunk);
  void StripToOut(std::string_view text);
  void ReadyForText();
  void EnterStages();
  std::string_view FeedStages(std::string_view chunk);
  void PushThroughStages(std::string_view text, bool ended);

  const std::shared_ptr<const PreparedTable> table_;
  const LeadByteSet& leadBytes_;
  const std::size_t pieceSize_;
  const std::size_t maxWaiting_;
  const std::vector<Row>& rows_;
  const MultiPatternSearch& search_;
  const std::array<bool, 256>& cut_;
  const bool wholePasses_;

  // Reused from piece to piece.
  PatternMarks marks_;
  std::string piece_;
  std::string spare_;
  Stretches inserted_;
  std::size_t rowPasses_ = 0;

  // The text converted in chunks: the bytes after the last cut so far, whether its first NUL
  // has gone by, whether a tag is open, and the converted bytes of the current call.
  std::string tail_;
  bool afterNul_ = false;
  bool inTag_ = false;
  OutputBuffer out_;

  // The fallback for a text in chunks: one ReplaceAll stage per row, each passing on what it has
  // decided, the text going through them a piece at a time. It needs no cuts, and it keeps only
  // a pattern's length per row, so memory stays bounded whatever the text. The fused pieces are
  // faster, so it serves only where they would hold an unbounded stretch: a stretch without a
  // cut longer than maxWaiting_ (until the next cut), or every text when a replacement holds a
  // NUL (which ends the search for later rows in all later text).
  std::vector<RowStage> stages_;
  bool staged_ = false;
  StageText stageTexts_[2] = {StageText(0), StageText(0)};
};

// The end of the piece that starts at from: the first cut at or after from + pieceSize_, or limit.
std::size_t TableConverter::Impl::NextCut(const char* data, std::size_t from,
                                          std::size_t limit) const {
  if (limit - from <= pieceSize_) return limit;
  for (std::size_t at = from + pieceSize_; at < limit; ++at) {
    if (cut_[static_cast<unsigned char>(data[at - 1])]) return at;
  }
  return limit;
}

// Every marked row in order on text[0, searchEnd). Where a row inserted its replacement, the
// rows after it may find new occurrences that begin up to a pattern's length before the
// insertion or inside it; only there is the text looked at again.
void TableConverter::Impl::ApplyRows(std::string& text, std::size_t searchEnd) {
  const std::size_t reach = search_.MaxLength() - 1;
  for (std::size_t i = marks_.Next(0); i < rows_.size(); i = marks_.Next(i + 1)) {
    const Row& row = rows_[i];
    const bool last = i + 1 == rows_.size();
    inserted_.clear();
    ++rowPasses_;
    const RowResult result = ReplaceRow(text, searchEnd, row.pattern, row.replacement, leadBytes_,
                                        spare_, last ? nullptr : &inserted_);
    if (!result.changed) continue;
    searchEnd = result.searchEnd;
    const std::string_view searchable(text.data(), searchEnd);
    std::size_t looked = 0;
    for (const auto& [begin, end] : inserted_) {
      const std::size_t from = std::max(looked, begin > reach ? begin - reach : 0);
      looked = end;
      search_.MarkOccurrences(searchable, from, looked, marks_);
    }
  }
}

namespace {

// Collects the converted text of one piece after another, in the text's own buffer while it
// trails the reading position, else in a buffer of its own.
class Output {
 public:
  explicit Output(std::string& text) : text_(text) {}

  // text[from, to) with its tags removed.
  void FromText(std::size_t from, std::size_t to) {
    if (!spilled_) {
      char* const base = text_.data();
      written_ = static_cast<std::size_t>(
          StripTags(base + from, to - from, base + written_, inTag_, Target::kInPlace) - base);
    } else {
      Append(text_.data() + from, to - from);
    }
  }

  // A converted piece whose source ended at readEnd in the text.
  void FromPiece(std::string& piece, std::size_t readEnd) {
    if (!spilled_ && written_ + piece.size() <= readEnd) {
      char* const base = text_.data();
      written_ = static_cast<std::size_t>(
          StripTags(piece.data(), piece.size(), base + written_, inTag_, Target::kApart) - base);
      return;
    }
    char* const end = StripTags(piece.data(), piece.size(), piece.data(), inTag_, Target::kInPlace);
    const auto size = static_cast<std::size_t>(end - piece.data());
    if (!spilled_ && written_ + size <= readEnd) {
      std::memcpy(text_.data() + written_, piece.data(), size);
      written_ += size;
      return;
    }
    if (!spilled_) {
      // The replacements made the text grow past what is still to be read: go on apart.
      const std::size_t rest = text_.size() - readEnd;
      spill_.reserve(written_ + size + rest + rest / 8);
      spill_.assign(text_.data(), written_);
      spilled_ = true;
    }
    spill_.append(piece.data(), size);
  }

  std::string Finish() {
    if (spilled_) return std::move(spill_);
    text_.resize(written_);
    return std::move(text_);
  }

 private:
  void Append(const char* from, std::size_t size) {
    const std::size_t old = spill_.size();
    spill_.resize(old + size);
    char* const end = StripTags(from, size, spill_.data() + old, inTag_, Target::kApart);
    spill_.resize(static_cast<std::size_t>(end - spill_.data()));
  }

  std::string& text_;
  std::string spill_;
  std::size_t written_ = 0;
  bool spilled_ = false;
  bool inTag_ = false;
};

}  // namespace

std::string TableConverter::Impl::Convert(std::string text) {
  rowPasses_ = 0;
  if (rows_.empty()) {
    RemoveTagsInPlace(text);
    return text;
  }
  if (wholePasses_) {
    for (const Row& row : rows_) ReplaceAllInPlace(text, row.pattern, row.replacement, leadBytes_);
    rowPasses_ += rows_.size();
    RemoveTagsInPlace(text);
    return text;
  }

  const std::size_t searchEnd = FirstNul(text);
  marks_.Reset(rows_.size());
  std::size_t end = NextCut(text.data(), 0, searchEnd);
  if (end == searchEnd) {
    // One piece: convert the text where it is.
    search_.MarkOccurrences(std::string_view(text.data(), searchEnd), 0, searchEnd, marks_);
    if (!marks_.None()) ApplyRows(text, searchEnd);
    RemoveTagsInPlace(text);
    return text;
  }

  Output output(text);
  for (std::size_t start = 0; start < searchEnd;
       start = end, end = NextCut(text.data(), start, searchEnd)) {
    marks_.Reset(rows_.size());
    const std::string_view piece(text.data() + start, end - start);
    search_.MarkOccurrences(piece, 0, piece.size(), marks_);
    if (marks_.None()) {
      output.FromText(start, end);  // no row changes this piece: no copy
      continue;
    }
    piece_.assign(piece);
    ApplyRows(piece_, piece_.size());
    output.FromPiece(piece_, end);
  }
  output.FromText(searchEnd, text.size());  // after the NUL only the tags go
  return output.Finish();
}

// ---- A text in chunks ----
//
// A cut after a cut byte holds in the whole text whatever lies beyond it, so each chunk is
// converted up to its last cut and the rest waits for the next one. From the first NUL on no row
// matches, so the text before it is complete once the NUL is seen, and after it only the tags go.

void TableConverter::Impl::StripToOut(std::string_view text) {
  char* const out = out_.Room(text.size());
  out_.EndAt(StripTags(text.data(), text.size(), out, inTag_, Target::kApart));
}

// A stretch that begins and ends at cuts (or at the text's searchable end), converted piece by
// piece and appended to out_ with its tags removed.
void TableConverter::Impl::ConvertSpan(std::string_view span) {
  for (std::size_t start = 0, end = 0; start < span.size(); start = end) {
    end = NextCut(span.data(), start, span.size());
    const std::string_view piece = span.substr(start, end - start);
    marks_.Reset(rows_.size());
    search_.MarkOccurrences(piece, 0, piece.size(), marks_);
    if (marks_.None()) {
      StripToOut(piece);
      continue;
    }
    piece_.assign(piece);
    ApplyRows(piece_, piece_.size());
    StripToOut(piece_);
  }
}

// The waiting tail and rest, which ends at a cut or at the searchable end, converted as one.
void TableConverter::Impl::ConvertWithTail(std::string_view rest) {
  if (tail_.empty()) {
    ConvertSpan(rest);
    return;
  }
  tail_.append(rest);
  ConvertSpan(tail_);
  tail_.clear();
}

void TableConverter::Impl::Start() {
  rowPasses_ = 0;
  out_.Clear();
  ReadyForText();
}

void TableConverter::Impl::ReadyForText() {
  tail_.clear();
  afterNul_ = false;
  inTag_ = false;
  staged_ = false;
  if (wholePasses_) EnterStages();
}

std::string_view TableConverter::Impl::Feed(std::string_view chunk) {
  out_.Clear();
  if (staged_) chunk = FeedStages(chunk);
  if (!staged_) FeedPieces(chunk);
  return out_.View();
}

void TableConverter::Impl::FeedPieces(std::string_view chunk) {
  if (afterNul_ || rows_.empty()) {
    StripToOut(chunk);
    return;
  }
  const std::size_t nul = FirstNul(chunk);
  if (nul < chunk.size()) {
    ConvertWithTail(chunk.substr(0, nul));
    afterNul_ = true;
    StripToOut(chunk.substr(nul));
    return;
  }
  std::size_t last = chunk.size();
  while (last > 0 && !cut_[static_cast<unsigned char>(chunk[last - 1])]) --last;
  if (last == 0) {
    if (tail_.size() + chunk.size() <= maxWaiting_) {
      tail_.append(chunk);  // no cut in this chunk: all of it waits
      return;
    }
    // Too long without a cut: from the tail's start, which follows a cut or begins the text,
    // the rows go one by one.
    EnterStages();
    PushThroughStages(tail_, false);
    tail_.clear();
    PushThroughStages(chunk, false);
    return;
  }
  std::size_t first = 0;
  if (!tail_.empty()) {
    while (!cut_[static_cast<unsigned char>(chunk[first])]) ++first;
    ConvertWithTail(chunk.substr(0, ++first));
  }
  ConvertSpan(chunk.substr(first, last - first));
  tail_.assign(chunk.substr(last));
}

void TableConverter::Impl::EnterStages() {
  if (stages_.empty()) {
    // Made at the first need only: most texts never go row by row.
    stages_.reserve(rows_.size());
    for (const Row& row : rows_) stages_.emplace_back(row, leadBytes_);
  }
  for (RowStage& stage : stages_) stage.Reset();
  staged_ = true;
}

// Passes the chunk through the stages up to its first cut, if it has one, after which every
// stage starts afresh just as a piece does: there the fused pieces take over again, with the
// rest of the chunk, which is returned. A table whose replacements hold a NUL stays here.
std::string_view TableConverter::Impl::FeedStages(std::string_view chunk) {
  std::size_t first = 0;
  if (!wholePasses_) {
    while (first < chunk.size() && !cut_[static_cast<unsigned char>(chunk[first])]) ++first;
  }
  if (wholePasses_ || first == chunk.size()) {
    PushThroughStages(chunk, false);
    return {};
  }
  PushThroughStages(chunk.substr(0, first + 1), true);
  staged_ = false;
  afterNul_ = stages_.front().AfterNul();  // the cut was the text's first NUL
  return chunk.substr(first + 1);
}

// The text through every stage in pieces of about pieceSize_ bytes, which stay in the cache from
// the first stage to the last; with ended, all that the stages hold goes out too.
//
// A stage looks for its pattern only where it may occur. The rows found in the piece are marked
// at the start; what a stage sees besides is the bytes it held back (an occurrence beginning
// there is marked when they come in front) and the stretches that the stages before it filled
// (marked as in ApplyRows). Everything else it sees stood in the piece.
void TableConverter::Impl::PushThroughStages(std::string_view text, bool ended) {
  StageText& piece = stageTexts_[0];
  const std::size_t reach = search_.MaxLength() - 1;
  std::size_t at = 0;
  do {
    const std::size_t size = std::min(pieceSize_, text.size() - at);
    const bool last = ended && at + size == text.size();
    piece.Clear();
    piece.Append(text.substr(at, size));
    at += size;
    marks_.Reset(rows_.size());
    search_.MarkOccurrences(piece.View(), 0, piece.Size(), marks_);
    for (std::size_t i = 0; i < stages_.size(); ++i) {
      RowStage& stage = stages_[i];
      const std::size_t held = stage.Held().size();
      piece.Prepend(stage.Held(), leadBytes_);
      if (held != 0 && !marks_.All()) search_.MarkOccurrences(piece.View(), 0, held, marks_);
      const bool mayOccur = marks_.Test(static_cast<std::uint32_t>(i));
      rowPasses_ += mayOccur;
      const bool lastRow = i + 1 == stages_.size();
      inserted_.clear();
      stage.Run(piece, last, stageTexts_[1], mayOccur, lastRow ? nullptr : &inserted_);
      const std::string_view changed = piece.View();
      std::size_t looked = 0;
      for (const auto& [begin, end] : inserted_) {
        const std::size_t from = std::max(looked, begin > reach ? begin - reach : 0);
        looked = end;
        search_.MarkOccurrences(changed, from, looked, marks_);
      }
    }
    StripToOut(piece.View());
  } while (at < text.size());
}

std::string_view TableConverter::Impl::Finish() {
  out_.Clear();
  if (staged_) {
    PushThroughStages({}, true);
    staged_ = false;
  } else if (!afterNul_) {
    ConvertWithTail({});
  }
  ReadyForText();
  return out_.View();
}

TableConverter::TableConverter(std::shared_ptr<const PreparedTable> table, std::size_t pieceSize,
                               std::size_t maxWaiting)
    : impl_(std::make_unique<Impl>(std::move(table), pieceSize, maxWaiting)) {}

TableConverter::TableConverter(const ArrayOfArrayOfString& table, const LeadByteSet& leadBytes,
                               std::size_t pieceSize, std::size_t maxWaiting)
    : TableConverter(PrepareTable(table, leadBytes), pieceSize, maxWaiting) {}

TableConverter::~TableConverter() = default;

std::string TableConverter::Convert(std::string text) {
  std::string result = impl_->Convert(std::move(text));
  impl_->ReleaseLargeBuffers();
  return result;
}

void TableConverter::Start() {
  impl_->ReleaseLargeBuffers();
  impl_->Start();
}

std::string_view TableConverter::Feed(std::string_view chunk) {
  return impl_->Feed(chunk);
}

std::string_view TableConverter::Finish() {
  return impl_->Finish();
}

std::size_t TableConverter::RowPasses() const {
  return impl_->RowPasses();
}

bool ReplaceAllInPlace(std::string& text, std::string_view pattern, std::string_view replacement,
                       const LeadByteSet& leadBytes) {
  pattern = Searchable(pattern);
  if (text.empty() || pattern.empty()) return false;
  std::string spare;
  return ReplaceRow(text, FirstNul(text), pattern, replacement, leadBytes, spare, nullptr).changed;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement, const LeadByteSet& leadBytes) {
  std::string result(text);
  ReplaceAllInPlace(result, pattern, replacement, leadBytes);
  return result;
}

char* RemoveTags(std::string_view text, char* out) {
  bool inTag = false;
  return StripTags(text.data(), text.size(), out, inTag,
                   out == text.data() ? Target::kInPlace : Target::kApart);
}

void RemoveTagsInPlace(std::string& text) {
  char* const end = RemoveTags(text, text.data());
  text.resize(static_cast<std::size_t>(end - text.data()));
}

std::string RemoveTags(std::string_view text) {
  std::string result(text);
  RemoveTagsInPlace(result);
  return result;
}

std::string ConvertWithTable(std::string text, const ArrayOfArrayOfString& table,
                             const LeadByteSet& leadBytes) {
  TableConverter converter(table, leadBytes);
  return converter.Convert(std::move(text));
}

}  // namespace tavrin
