#include <cstring>
#include <string>
#include <string_view>

#include "ConversionParts.h"
#include "Matcher.h"
#include "TavrinFunctions.h"

namespace tavrin {

namespace detail {

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

char* ReplaceRowStripped(std::string_view text, std::size_t searchEnd, std::string_view pattern,
                         std::string_view replacement, const LeadByteSet& leadBytes, char* out,
                         bool& inTag) {
  // The occurrences are those that ReplaceRow finds in place: it writes only behind the end of
  // the current one, and the matcher never looks before it.
  Matcher matcher(text.data(), searchEnd, pattern, leadBytes);
  const bool oneByte = pattern.size() == 1;
  std::size_t read = 0;
  for (std::size_t hit = matcher.Next(0); hit != kNone; hit = matcher.Next(read)) {
    out = StripTags(text.data() + read, hit - read, out, inTag, Target::kApart);
    const std::size_t count = oneByte ? RunLength(text.data(), hit, searchEnd, pattern[0]) : 1;
    for (std::size_t k = 0; k < count && !replacement.empty(); ++k) {
      out = StripTags(replacement.data(), replacement.size(), out, inTag, Target::kApart);
    }
    read = hit + count * pattern.size();
  }
  return StripTags(text.data() + read, text.size() - read, out, inTag, Target::kApart);
}

}  // namespace detail

using detail::FirstNul;
using detail::Searchable;

bool ReplaceAllInPlace(std::string& text, std::string_view pattern, std::string_view replacement,
                       const LeadByteSet& leadBytes) {
  pattern = Searchable(pattern);
  if (text.empty() || pattern.empty()) return false;
  std::string spare;
  return detail::ReplaceRow(text, FirstNul(text), pattern, replacement, leadBytes, spare, nullptr)
      .changed;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement, const LeadByteSet& leadBytes) {
  std::string result(text);
  ReplaceAllInPlace(result, pattern, replacement, leadBytes);
  return result;
}

}  // namespace tavrin
