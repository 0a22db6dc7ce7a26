// Finds out in one pass which of many byte patterns occur in a stretch of text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin {

// One mark per pattern id, set by MultiPatternSearch.
class PatternMarks {
 public:
  // count ids, none marked.
  void Reset(std::size_t count);
  void Set(std::uint32_t id) {
    std::uint64_t& word = words_[id >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (id & 63);
    marked_ += (word & bit) == 0;
    word |= bit;
  }
  bool Test(std::uint32_t id) const { return (words_[id >> 6] >> (id & 63)) & 1; }
  // The first marked id at or after from, or Size() when there is none.
  std::size_t Next(std::size_t from) const;
  std::size_t Size() const { return size_; }
  bool None() const { return marked_ == 0; }
  bool All() const { return marked_ == size_; }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t size_ = 0;
  std::size_t marked_ = 0;
};

// A trie of byte patterns, entered only at bytes that begin one. Ids are the caller's (a table
// row's index, below the marks' size); patterns may share an id and ids may share a pattern.
class MultiPatternSearch {
 public:
  using Entry = std::pair<std::string_view, std::uint32_t>;

  // Only this many leading bytes of a pattern go into the trie, so that a table of huge
  // patterns costs no more than a trie node per indexed byte; a longer pattern is marked
  // wherever its indexed part occurs, and the caller's exact search settles it.
  static constexpr std::size_t kIndexedLength = 64;

  // Empty patterns are left out.
  explicit MultiPatternSearch(const std::vector<Entry>& patterns);

  std::size_t MaxLength() const { return maxLength_; }
  bool InSomePattern(unsigned char byte) const { return inPattern_[byte]; }

  // Marks the id of every pattern that occurs in text at a start offset in [from, to) and lies
  // wholly inside text (for a pattern longer than kIndexedLength: whose indexed part does).
  // Stops early once every id is marked.
  void MarkOccurrences(std::string_view text, std::size_t from, std::size_t to,
                       PatternMarks& marks) const;

 private:
  struct Node {
    std::uint32_t outputBegin = 0;  // the ids of the patterns ending here, in outputs_
    std::uint32_t outputEnd = 0;
  };

  // The bytes that begin some pattern, as a table and as a list.
  struct StartBytes {
    std::array<bool, 256> contains{};
    std::array<unsigned char, 256> list{};
    std::size_t count = 0;
  };

  std::uint32_t Child(std::uint32_t node, unsigned char byte) const;
  std::uint32_t AddChild(std::uint32_t node, unsigned char byte);
  void GrowEdges();
  void WalkFrom(std::string_view text, std::size_t start, PatternMarks& marks) const;
  // Whether the ids of the one-byte pattern byte are all marked.
  bool AllMarked(char byte, const PatternMarks& marks) const;
  static const char* NextStart(const StartBytes& starts, const char* p, const char* end);

  // Node 0 is the root; a child of 0 means none.
  std::vector<Node> nodes_;
  std::array<std::uint32_t, 256> rootChild_{};
  // The edges below the root: open addressing on (node, byte), a key of 0 is a free slot.
  std::vector<std::uint64_t> edgeKeys_;
  std::vector<std::uint32_t> edgeChild_;
  std::size_t edgeCount_ = 0;
  std::vector<std::uint32_t> outputs_;

  std::array<bool, 256> inPattern_{};
  StartBytes starts_;
  // The bytes that are a whole pattern and begin no longer one: once their ids are marked, they
  // have nothing more to mark, however often they occur.
  std::array<bool, 256> alone_{};
  std::size_t maxLength_ = 0;
};

}  // namespace tavrin
