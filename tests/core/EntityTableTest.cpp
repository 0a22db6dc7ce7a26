#include <gtest/gtest.h>

#include "EntityTable.h"
#include "FileIOTools.h"
#include "TempDir.h"

namespace tavrin {
namespace {

const LeadByteSet kNone;

struct LineCase {
  std::string line;
  ArrayOfString row;
};

TEST(EntityTableTest, LinesBecomeRows) {
  const LineCase cases[] = {
      {"&amp;=&", {"&amp;", "&"}},
      {"&nbsp;=&tavri:spe;", {"&nbsp;", " "}},
      {"&shy;=", {"&shy;", ""}},
      {"&shy;=&tavri:nil;", {"&shy;", ""}},
      {"a==b", {"a", "b"}},
      {"a=b=c", {"a", "b", "c"}},
      {"a=&tavri:equ;b", {"a", "=b"}},
      {"=a", {"a"}},
      {"a", {"a"}},
      {"&tavri:ret;=&tavri:nil;", {"\r\n", ""}},
      {"=", {""}},
      {"&tavri:tab;=\t ", {"\t", "\t "}},
      {"&tavri:RET;=x", {"&tavri:RET;", "x"}},
  };
  for (const LineCase& c : cases) {
    // Each line stands before a CR LF, so the table also gets the final empty row.
    EXPECT_EQ(ParseEntityTable(c.line + "\r\n", kNone), (ArrayOfArrayOfString{c.row, {""}}))
        << c.line;
  }
}

TEST(EntityTableTest, EscapesDecodeOnceInTheirOrder) {
  EXPECT_EQ(ParseEntityTable("&tavri:&tavri:nil;spe;", kNone)[0][0], " ");
  EXPECT_EQ(ParseEntityTable("&tavri:&tavri:nil;equ;", kNone)[0][0], "=");
  EXPECT_EQ(ParseEntityTable("&tavri:&tavri:nil;ret;", kNone)[0][0], "&tavri:ret;");
  // A decoded "=" or line break never cuts a field or a line.
  EXPECT_EQ(ParseEntityTable("a&tavri:equ;b=c&tavri:ret;d", kNone),
            (ArrayOfArrayOfString{{"a=b", "c\r\nd"}}));
}

TEST(EntityTableTest, FileShapes) {
  const std::pair<std::string, ArrayOfArrayOfString> cases[] = {
      {"", {{""}}},
      {"a=b\r\n\r\n\r\nc=d", {{"a", "b"}, {"c", "d"}}},
      {"a=b\r\n\r\n", {{"a", "b"}, {""}}},
      {"a=b\rc=d\r", {{"a", "b"}, {"c", "d"}, {""}}},
      {"&amp;=&\n&lt;=<\n", {{"&amp;", "&&lt;", "<"}}},
      {"\xEF\xBB\xBF"
       "a=b",
       {{"\xEF\xBB\xBF"
         "a",
         "b"}}},
      {"a=b\r\n=\r\nc=d", {{"a", "b"}, {""}, {"c", "d"}}},
      // No LF is deleted and no escape decoded from the first NUL on.
      {std::string("a=b\0\n&tavri:spe;", 16), {{"a", std::string("b\0\n&tavri:spe;", 14)}}},
  };
  for (const auto& [text, table] : cases) EXPECT_EQ(ParseEntityTable(text, kNone), table);
}

TEST(EntityTableTest, LfAfterALeadByteStaysUnderADoubleByteLocale) {
  EXPECT_EQ(ParseEntityTable("\x83\n=x", LeadByteSet::ShiftJis()),
            (ArrayOfArrayOfString{{"\x83\n", "x"}}));
  EXPECT_EQ(ParseEntityTable("\x83\n=x", kNone), (ArrayOfArrayOfString{{"\x83", "x"}}));
}

TEST(EntityTableTest, LoadsANamedFileAndReportsAMissingOne) {
  testing::TempDir dir;
  testing::WriteBytes(dir / "CEntity.txt", "&lt;=<\r\n&gt;=>\r\n");
  EXPECT_EQ(LoadEntityTable(dir / "CEntity.txt", kNone),
            (ArrayOfArrayOfString{{"&lt;", "<"}, {"&gt;", ">"}, {""}}));
  try {
    LoadEntityTable(dir / "missing.txt", kNone);
    FAIL() << "no error raised";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + (dir / "missing.txt") + " は開けません");
  }
}

}  // namespace
}  // namespace tavrin
