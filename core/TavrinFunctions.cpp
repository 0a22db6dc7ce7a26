#include "TavrinFunctions.h"

#include <cstring>

namespace tavrin {

namespace {

// Finds the occurrences of one pattern that ReplaceAll accepts, left to right. The double-byte
// rule needs the length of the run of lead bytes just before a candidate, counted back no further
// than the search position; the run known at the last look is kept, so every byte is walked back
// over at most once and the search stays linear however the lead bytes fall.
class Matcher {
 public:
  Matcher(std::string_view text, std::string_view pattern, const LeadByteSet& leadBytes)
      : data_(text.data()), pattern_(pattern), leadBytes_(leadBytes) {
    const void* nul = std::memchr(text.data(), '\0', text.size());
    searchEnd_ =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
    // Only the bytes before a pattern's own NUL take part in the comparison.
    pattern_ = pattern_.substr(0, pattern_.find('\0'));
  }

  bool Usable() const { return !pattern_.empty(); }
  std::size_t PatternSize() const { return pattern_.size(); }

  // The first accepted occurrence at or after pos, where pos is the search position
  // (the start, or just after the previous occurrence). npos when there is none.
  std::size_t Next(std::size_t pos) {
    base_ = pos;
    baseRun_ = 0;
    std::size_t from = pos;
    while (true) {
      std::size_t candidate = Find(from);
      if (candidate == std::string_view::npos) return candidate;
      if (leadBytes_.Empty() || RunBefore(candidate) % 2 == 0) return candidate;
      from = candidate + 1;  // the second byte of a character: pass it over
    }
  }

 private:
  std::size_t Find(std::size_t from) const {
    if (from >= searchEnd_ || searchEnd_ - from < pattern_.size()) return std::string_view::npos;
    const char* start = data_ + from;
    const std::size_t length = searchEnd_ - from;
    const void* hit = pattern_.size() == 1
                          ? std::memchr(start, static_cast<unsigned char>(pattern_[0]), length)
                          : ::memmem(start, length, pattern_.data(), pattern_.size());
    if (hit == nullptr) return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - data_);
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
  std::string_view pattern_;
  const LeadByteSet& leadBytes_;
  std::size_t searchEnd_ = 0;
  std::size_t base_ = 0;
  std::size_t baseRun_ = 0;
};

}  // namespace

bool ReplaceAllInPlace(std::string& text, std::string_view pattern, std::string_view replacement,
                       const LeadByteSet& leadBytes) {
  if (text.empty() || pattern.empty()) return false;
  Matcher matcher(text, pattern, leadBytes);
  if (!matcher.Usable()) return false;
  std::size_t hit = matcher.Next(0);
  if (hit == std::string_view::npos) return false;

  std::string result;
  result.reserve(text.size() + (replacement.size() > matcher.PatternSize() ? text.size() / 8 : 0));
  std::size_t pos = 0;
  do {
    result.append(text, pos, hit - pos);
    result.append(replacement);
    pos = hit + matcher.PatternSize();
    hit = matcher.Next(pos);
  } while (hit != std::string_view::npos);
  result.append(text, pos, std::string::npos);
  text.swap(result);
  return true;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement, const LeadByteSet& leadBytes) {
  std::string result(text);
  ReplaceAllInPlace(result, pattern, replacement, leadBytes);
  return result;
}

void RemoveTagsInPlace(std::string& text) {
  char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* read = static_cast<const char*>(std::memchr(begin, '<', text.size()));
  if (read == nullptr) return;
  char* write = const_cast<char*>(read);
  while (read != nullptr) {
    // read points at a '<': skip to just past the next '>', or to the end.
    const char* close = static_cast<const char*>(std::memchr(read, '>', end - read));
    if (close == nullptr) break;
    const char* keep = close + 1;
    const char* open = static_cast<const char*>(std::memchr(keep, '<', end - keep));
    const char* keepEnd = open ? open : end;
    std::memmove(write, keep, keepEnd - keep);
    write += keepEnd - keep;
    read = open;
  }
  text.resize(write - begin);
}

std::string RemoveTags(std::string_view text) {
  std::string result(text);
  RemoveTagsInPlace(result);
  return result;
}

std::string ConvertWithTable(std::string text, const ArrayOfArrayOfString& table,
                             const LeadByteSet& leadBytes) {
  for (const ArrayOfString& row : table) {
    if (row.size() < 2) continue;  // no replacement field: see the header
    ReplaceAllInPlace(text, row[0], row[1], leadBytes);
  }
  RemoveTagsInPlace(text);
  return text;
}

}  // namespace tavrin
