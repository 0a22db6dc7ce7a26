#include <gtest/gtest.h>

#include "VBLikeFunctions.h"

namespace tavrin {
namespace {

struct SplitCase {
  std::string text;
  ArrayOfString expected;
};

TEST(SplitTest, FollowsTheTableOfCases) {
  const SplitCase cases[] = {
      {"", {""}},
      {"a=b", {"a", "b"}},
      {"=a", {"a"}},
      {"a=", {"a", ""}},
      {"a==b", {"a", "b"}},
      {"==", {""}},
      {"a=b=c", {"a", "b", "c"}},
      {"a=b==", {"a", "b", ""}},
      {"a=b=", {"a", "b", ""}},
      {"abc", {"abc"}},
      {"===a===b", {"a", "b"}},
      {std::string("a\0=b", 4), {std::string("a\0", 2), "b"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(Split(c.text, '='), c.expected) << "text: " << c.text;
  }
}

TEST(SplitTest, CutsAtTheByteEvenInsideDoubleByteCharacters) {
  // 0x83 0x5C is one Shift-JIS character; the routines look at bytes only.
  EXPECT_EQ(Split("\x83\x5C"
                  "a",
                  '\x5C'),
            (ArrayOfString{"\x83", "a"}));
}

TEST(SplitEachTest, OneRowPerLine) {
  EXPECT_EQ(SplitEach({"a=b", "c", ""}, '='), (ArrayOfArrayOfString{{"a", "b"}, {"c"}, {""}}));
  EXPECT_TRUE(SplitEach({}, '=').empty());
}

TEST(JoinTest, GluesWithTheDelimiter) {
  EXPECT_EQ(Join({"a", "b", "c"}, ' '), "a b c");
  EXPECT_EQ(Join({""}, ' '), "");
  EXPECT_EQ(Join({"", ""}, '='), "=");
  EXPECT_EQ(Join({"only"}, '='), "only");
  EXPECT_EQ(Join({}, '='), "");
}

TEST(JoinEachTest, JoinsRowsThenLines) {
  const ArrayOfArrayOfString rows = {{"x", "y"}, {"z"}};
  EXPECT_EQ(Join(JoinEach(rows, ' '), '\r'), "x y\rz");
  EXPECT_TRUE(JoinEach({}, ' ').empty());
}

}  // namespace
}  // namespace tavrin
