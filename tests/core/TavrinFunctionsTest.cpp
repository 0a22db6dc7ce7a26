#include <gtest/gtest.h>

#include <random>

#include "TavrinFunctions.h"
#include "TavrinReference.h"

namespace tavrin {
namespace {

const LeadByteSet kSjis = LeadByteSet::ShiftJis();
const LeadByteSet kNone;

struct ReplaceCase {
  std::string text, pattern, replacement, expected;
};

TEST(ReplaceAllTest, BasicRules) {
  const ReplaceCase cases[] = {
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
      {"aaa", "aa", "x", "xa"},
      {"aa", "a", "aa", "aaaa"},
      {"&amp;&AMP;", "&amp;", "&", "&&AMP;"},
      {"a&lt;b&lt;", "&lt;", "<", "a<b<"},
      {"abcabc", "abc", "", ""},
      {"xyz", "xyzw", "q", "xyz"},
      {std::string("a\0a", 3), "a", "b", std::string("b\0a", 3)},
      {std::string("\0aa", 3), "a", "b", std::string("\0aa", 3)},
      // A match may not run into the NUL that ends the searchable part.
      {std::string("ab\0b", 4), std::string("b\0", 2), "x", std::string("ax\0b", 4)},
      {"line\r\nline", "\r\n", "", "lineline"},
  };
  for (const ReplaceCase& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement, kNone), c.expected)
        << "text: " << c.text << " pattern: " << c.pattern;
  }
}

TEST(ReplaceAllTest, PatternOnlyComparesBytesBeforeItsNul) {
  EXPECT_EQ(ReplaceAll("abab", std::string("a\0z", 3), "x", kNone), "xbxb");
  EXPECT_EQ(ReplaceAll("abab", std::string("\0a", 2), "x", kNone), "abab");
}

TEST(ReplaceAllTest, DoubleByteRuleFollowsTheLeadByteSet) {
  const std::string so = "\x83\x5C";  // ソ: its second byte is a backslash
  EXPECT_EQ(ReplaceAll(so + "\\", "\\", "/", kSjis), so + "/");
  EXPECT_EQ(ReplaceAll(so + "\\", "\\", "/", kNone),
            "\x83/"
            "/");
  // Two lead bytes in a row form one character, so the byte after them starts a new one.
  EXPECT_EQ(ReplaceAll("\x83\x83\\", "\\", "/", kSjis), "\x83\x83/");
  EXPECT_EQ(ReplaceAll("\x83\x83\x83\\", "\\", "/", kSjis), "\x83\x83\x83\\");
  // The run is counted back only to the search position: after a match the next byte starts
  // afresh even when the replaced text ended in a lead byte.
  EXPECT_EQ(ReplaceAll("a\x83"
                       "a\x83",
                       "a", "b", kSjis),
            "b\x83"
            "a\x83");
  EXPECT_EQ(ReplaceAll("\x83"
                       "\x83"
                       "\x83",
                       "\x83", "x", kSjis),
            "xxx");
}

TEST(ReplaceAllTest, InPlaceReportsWhetherAnythingChanged) {
  std::string text = "no match here";
  const char* before = text.data();
  EXPECT_FALSE(ReplaceAllInPlace(text, "&amp;", "&", kNone));
  EXPECT_EQ(text.data(), before);
  EXPECT_TRUE(ReplaceAllInPlace(text, "match", "hit", kNone));
  EXPECT_EQ(text, "no hit here");
}

TEST(RemoveTagsTest, Cases) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"<html><body></body></html>", ""},
      {"a > b", "a > b"},
      {"a < b", "a "},
      {"<<a>>", ">"},
      {"<a<b>c>", "c>"},
      {"x<y", "x"},
      {"\x82\xA0<b>\x82\xA2</b>", "\x82\xA0\x82\xA2"},
      {std::string("a\0<b>c", 6), std::string("a\0c", 3)},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(RemoveTags(text), expected) << text;
}

TEST(ConvertWithTableTest, RowsRunInOrderThenTagsGo) {
  const ArrayOfArrayOfString ampFirst = {{"&amp;", "&"}, {"&gt;", ">"}};
  const ArrayOfArrayOfString gtFirst = {{"&gt;", ">"}, {"&amp;", "&"}};
  EXPECT_EQ(ConvertWithTable("&amp;gt;", ampFirst, kNone), ">");
  EXPECT_EQ(ConvertWithTable("&amp;gt;", gtFirst, kNone), "&gt;");
  EXPECT_EQ(ConvertWithTable("&lt;b&gt;bold", {{"&lt;", "<"}, {"&gt;", ">"}}, kNone), "bold");
  EXPECT_EQ(ConvertWithTable("<a title=&gt;>x", {{"&gt;", ">"}}, kNone), ">x");
  EXPECT_EQ(ConvertWithTable("<a title=&quot;>x", {{"&quot;", "\""}}, kNone), "x");
  EXPECT_EQ(ConvertWithTable("a<br>b", {{"<br>", "\r\n"}}, kNone), "a\r\nb");
  EXPECT_EQ(ConvertWithTable("", ampFirst, kNone), "");
  EXPECT_EQ(ConvertWithTable("<p>text</p>", {}, kNone), "text");
}

TEST(ConvertWithTableTest, RowsWithoutReplacementChangeNothing) {
  // An empty pattern, a lone empty field, and a lone non-empty field (skipped, not deleted).
  const ArrayOfArrayOfString table = {{"", "x"}, {""}, {"keep"}, {"a", "b", "c"}};
  EXPECT_EQ(ConvertWithTable("keep a", table, kNone), "keep b");
}

// Random texts over the bytes that matter, compared with the plain versions.
std::string RandomBytes(std::mt19937& rng, std::size_t maxLength) {
  static const char alphabet[] = {'<',    '>', '&', ';',    '=',    '\r',   '\n',   '\0',
                                  '\x5C', 'a', 'b', '\x83', '\x81', '\xE0', '\xFC', '\x40'};
  std::uniform_int_distribution<std::size_t> length(0, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
  std::string s(length(rng), ' ');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

TEST(ConversionAgainstReferenceTest, RandomInputsAgree) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 4000; ++i) {
    const LeadByteSet& lead = (i % 2) ? kSjis : kNone;
    std::string text = RandomBytes(rng, 64);
    std::string pattern = RandomBytes(rng, 3);
    std::string replacement = RandomBytes(rng, 3);
    ASSERT_EQ(ReplaceAll(text, pattern, replacement, lead),
              reference::ReplaceAll(text, pattern, replacement, lead))
        << "case " << i;
    ASSERT_EQ(RemoveTags(text), reference::RemoveTags(text)) << "case " << i;
  }
  for (int i = 0; i < 500; ++i) {
    const LeadByteSet& lead = (i % 2) ? kSjis : kNone;
    ArrayOfArrayOfString table;
    for (int r = 0; r < 6; ++r) table.push_back({RandomBytes(rng, 3), RandomBytes(rng, 4)});
    std::string text = RandomBytes(rng, 200);
    ASSERT_EQ(ConvertWithTable(text, table, lead), reference::Convert(text, table, lead))
        << "case " << i;
  }
}

}  // namespace
}  // namespace tavrin
