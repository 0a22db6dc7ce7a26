#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ConversionParts.h"
#include "TavrinFunctions.h"

namespace tavrin {

namespace detail {

namespace {

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
      // Adding the lowest bit of the lowest run carries through the run: the sum's lowest bit
      // is the one after it (none when the run ends the block), and masking with it drops it.
      const int start = __builtin_ctzll(keep);
      const std::uint64_t after = keep + (keep & (~keep + 1));
      const int length = (after == 0 ? 64 : __builtin_ctzll(after)) - start;
      if (wide) {
        Copy64(out, p + start);
      } else if (out != p + start) {
        std::memmove(out, p + start, static_cast<std::size_t>(length));
      }
      out += length;
      keep &= after;
    }
  }
  inTag = carry != 0;
  return out;
}
#endif

}  // namespace

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

}  // namespace detail

using detail::StripTags;
using detail::Target;

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

}  // namespace tavrin
