#include "MultiPatternSearch.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrin {

void PatternMarks::Reset(std::size_t count) {
  size_ = count;
  marked_ = 0;
  words_.assign((count + 63) / 64, 0);
}

std::size_t PatternMarks::Next(std::size_t from) const {
  if (from >= size_) return size_;
  std::size_t index = from >> 6;
  std::uint64_t word = words_[index] & (~std::uint64_t{0} << (from & 63));
  while (word == 0) {
    if (++index == words_.size()) return size_;
    word = words_[index];
  }
  return std::min(size_, index * 64 + static_cast<std::size_t>(__builtin_ctzll(word)));
}

namespace {

std::uint64_t EdgeKey(std::uint32_t node, unsigned char byte) {
  return ((static_cast<std::uint64_t>(node) << 8) | byte) + 1;
}

std::size_t EdgeSlot(std::uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

}  // namespace

MultiPatternSearch::MultiPatternSearch(const std::vector<Entry>& patterns) {
  nodes_.emplace_back();
  edgeKeys_.assign(64, 0);
  edgeChild_.assign(64, 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ends;  // (node, id)
  std::array<bool, 256> beginsLonger{};
  for (const auto& [pattern, id] : patterns) {
    if (pattern.empty()) continue;
    for (char c : pattern) inPattern_[static_cast<unsigned char>(c)] = true;
    std::uint32_t node = 0;
    for (char c : pattern.substr(0, kIndexedLength)) {
      const auto byte = static_cast<unsigned char>(c);
      std::uint32_t next = Child(node, byte);
      node = next ? next : AddChild(node, byte);
    }
    ends.emplace_back(node, id);
    maxLength_ = std::max(maxLength_, pattern.size());
    const auto first = static_cast<unsigned char>(pattern[0]);
    if (!starts_.contains[first]) starts_.list[starts_.count++] = first;
    starts_.contains[first] = true;
    beginsLonger[first] = beginsLonger[first] || pattern.size() > 1;
  }
  for (unsigned b = 0; b < 256; ++b) alone_[b] = starts_.contains[b] && !beginsLonger[b];
  std::sort(ends.begin(), ends.end());
  ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
  outputs_.reserve(ends.size());
  for (std::size_t i = 0; i < ends.size();) {
    const std::uint32_t node = ends[i].first;
    nodes_[node].outputBegin = static_cast<std::uint32_t>(outputs_.size());
    for (; i < ends.size() && ends[i].first == node; ++i) outputs_.push_back(ends[i].second);
    nodes_[node].outputEnd = static_cast<std::uint32_t>(outputs_.size());
  }
}

std::uint32_t MultiPatternSearch::Child(std::uint32_t node, unsigned char byte) const {
  if (node == 0) return rootChild_[byte];
  const std::uint64_t key = EdgeKey(node, byte);
  const std::size_t mask = edgeKeys_.size() - 1;
  for (std::size_t slot = EdgeSlot(key, mask);; slot = (slot + 1) & mask) {
    if (edgeKeys_[slot] == key) return edgeChild_[slot];
    if (edgeKeys_[slot] == 0) return 0;
  }
}

std::uint32_t MultiPatternSearch::AddChild(std::uint32_t node, unsigned char byte) {
  const auto child = static_cast<std::uint32_t>(nodes_.size());
  nodes_.emplace_back();
  if (node == 0) {
    rootChild_[byte] = child;
    return child;
  }
  if ((edgeCount_ + 1) * 2 > edgeKeys_.size()) GrowEdges();
  const std::uint64_t key = EdgeKey(node, byte);
  const std::size_t mask = edgeKeys_.size() - 1;
  std::size_t slot = EdgeSlot(key, mask);
  while (edgeKeys_[slot] != 0) slot = (slot + 1) & mask;
  edgeKeys_[slot] = key;
  edgeChild_[slot] = child;
  ++edgeCount_;
  return child;
}

void MultiPatternSearch::GrowEdges() {
  std::vector<std::uint64_t> keys(edgeKeys_.size() * 2, 0);
  std::vector<std::uint32_t> children(keys.size(), 0);
  const std::size_t mask = keys.size() - 1;
  for (std::size_t i = 0; i < edgeKeys_.size(); ++i) {
    if (edgeKeys_[i] == 0) continue;
    std::size_t slot = EdgeSlot(edgeKeys_[i], mask);
    while (keys[slot] != 0) slot = (slot + 1) & mask;
    keys[slot] = edgeKeys_[i];
    children[slot] = edgeChild_[i];
  }
  edgeKeys_.swap(keys);
  edgeChild_.swap(children);
}

void MultiPatternSearch::WalkFrom(std::string_view text, std::size_t start,
                                  PatternMarks& marks) const {
  std::uint32_t node = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    node = Child(node, static_cast<unsigned char>(text[i]));
    if (node == 0) return;
    const Node& n = nodes_[node];
    for (std::uint32_t k = n.outputBegin; k < n.outputEnd; ++k) marks.Set(outputs_[k]);
  }
}

// The next byte in [p, end) that begins some pattern, or end. Tables of entities begin every
// pattern with the same one or few bytes, so those are looked for many bytes at a time.
const char* MultiPatternSearch::NextStart(const StartBytes& starts, const char* p,
                                          const char* end) {
  if (starts.count == 1) {
    const void* hit = std::memchr(p, starts.list[0], static_cast<std::size_t>(end - p));
    return hit ? static_cast<const char*>(hit) : end;
  }
#if defined(__SSE2__)
  if (starts.count <= 4) {
    __m128i wanted[4];
    for (std::size_t k = 0; k < 4; ++k) {
      wanted[k] = _mm_set1_epi8(static_cast<char>(starts.list[std::min(k, starts.count - 1)]));
    }
    while (end - p >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i hits = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(block, wanted[0]), _mm_cmpeq_epi8(block, wanted[1])),
          _mm_or_si128(_mm_cmpeq_epi8(block, wanted[2]), _mm_cmpeq_epi8(block, wanted[3])));
      const int mask = _mm_movemask_epi8(hits);
      if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
      p += 16;
    }
  }
#endif
  while (p < end && !starts.contains[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

bool MultiPatternSearch::AllMarked(char byte, const PatternMarks& marks) const {
  const Node& node = nodes_[rootChild_[static_cast<unsigned char>(byte)]];
  for (std::uint32_t k = node.outputBegin; k < node.outputEnd; ++k) {
    if (!marks.Test(outputs_[k])) return false;
  }
  return true;
}

void MultiPatternSearch::MarkOccurrences(std::string_view text, std::size_t from, std::size_t to,
                                         PatternMarks& marks) const {
  if (maxLength_ == 0) return;
  to = std::min(to, text.size());
  if (from >= to) return;
  const char* const begin = text.data();
  const char* const end = begin + to;
  const char* p = NextStart(starts_, begin + from, end);
  for (; p < end; p = NextStart(starts_, p + 1, end)) {
    WalkFrom(text, static_cast<std::size_t>(p - begin), marks);
    if (marks.All()) return;
    if (alone_[static_cast<unsigned char>(*p)] && AllMarked(*p, marks)) break;
  }
  if (p >= end) return;
  // A byte that occurs everywhere (a lead byte that is a pattern of its own) would cost a walk
  // at every place: once it has marked all it can, it is looked for no more.
  StartBytes fewer = starts_;
  do {
    const auto byte = static_cast<unsigned char>(*p);
    fewer.contains[byte] = false;
    fewer.count = static_cast<std::size_t>(
        std::remove(fewer.list.begin(), fewer.list.begin() + fewer.count, byte) -
        fewer.list.begin());
    if (fewer.count == 0) return;
    for (p = NextStart(fewer, p + 1, end); p < end; p = NextStart(fewer, p + 1, end)) {
      WalkFrom(text, static_cast<std::size_t>(p - begin), marks);
      if (marks.All()) return;
      if (alone_[static_cast<unsigned char>(*p)] && AllMarked(*p, marks)) break;
    }
  } while (p < end);
}

}  // namespace tavrin
