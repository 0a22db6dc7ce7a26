// The search for one pattern's occurrences that ReplaceAll accepts.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "CodePage.h"
#include "ConversionParts.h"
#include "FindBytes.h"

namespace tavrin::detail {

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

}  // namespace tavrin::detail
