// Tables and texts no one would write by hand: patterns far longer than the part of them the
// search indexes, many of them sharing that part, a pattern as long as a whole file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MultiPatternSearch.h"
#include "TavrinFunctions.h"
#include "TavrinReference.h"

namespace tavrin {
namespace {

constexpr std::size_t kIndexed = MultiPatternSearch::kIndexedLength;

TEST(HostileInputTest, PatternsLongerThanTheIndexedPartStillMatchExactly) {
  const std::string shared(kIndexed, 'a');
  // Rows whose patterns agree on everything the search indexes and differ only after it, a
  // pattern that is exactly the indexed part, and one that is a prefix of the others.
  const ArrayOfArrayOfString table = {
      {shared + "X", "<1>one"}, {shared + "Y" + std::string(500, 'b'), "two"},
      {shared + "Z", "three"},  {std::string(kIndexed / 2, 'a'), "half"},
      {shared, "whole"},        {"\x83" + shared.substr(1) + "X", "lead"},
  };
  const std::vector<std::string> texts = {
      shared + "X",
      shared + "Y" + std::string(499, 'b'),  // one byte short of the long pattern
      shared + "Y" + std::string(500, 'b') + shared + "Z" + shared + "W",
      "x" + shared + shared + "X<p>" + shared + "Y</p>" + shared.substr(3),
      std::string(3 * kIndexed + 7, 'a') + "X" + std::string(kIndexed + 1, 'a'),
      "\x83" + shared.substr(1) + "X" + "\x83\x83" + shared.substr(1) + "X",
  };
  const std::size_t pieceSizes[] = {1, 7, kIndexed, TableConverter::kDefaultPieceSize};
  for (const LeadByteSet& lead : {LeadByteSet(), LeadByteSet::ShiftJis()}) {
    for (const std::string& text : texts) {
      const std::string expected = reference::Convert(text, table, lead);
      EXPECT_EQ(ConvertWithTable(text, table, lead), expected) << text;
      for (std::size_t pieceSize : pieceSizes) {
        TableConverter converter(table, lead, pieceSize);
        EXPECT_EQ(converter.Convert(text), expected) << pieceSize << " " << text;
      }
    }
  }
}

TEST(HostileInputTest, APatternAsLongAsAFileMatchesOnlyWhereItAllStands) {
  std::string pattern(4 << 20, 'x');
  pattern[pattern.size() / 2] = 'y';
  const ArrayOfArrayOfString table = {{pattern, "<b>found</b>"}, {"x", ""}};
  std::string almost = pattern;
  almost.back() = 'z';
  EXPECT_EQ(ConvertWithTable("[" + pattern + "]", table), "[found]");
  EXPECT_EQ(ConvertWithTable("[" + almost + "]", table), "[yz]");
  EXPECT_EQ(ConvertWithTable("short", table), "short");
}

}  // namespace
}  // namespace tavrin
