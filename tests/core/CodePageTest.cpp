#include <gtest/gtest.h>

#include "CodePage.h"

namespace tavrin {
namespace {

TEST(CodePageTest, ShiftJisNamesGiveTheShiftJisSet) {
  for (const char* name : {"Shift_JIS", "SJIS", "CP932", "WINDOWS-31J", "shift-jis"}) {
    EXPECT_EQ(LeadByteSetForCodeSet(name), LeadByteSet::ShiftJis()) << name;
  }
  const LeadByteSet sjis = LeadByteSet::ShiftJis();
  for (int b = 0; b < 256; ++b) {
    bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(sjis.Contains(static_cast<unsigned char>(b)), lead) << b;
  }
}

TEST(CodePageTest, SingleByteAndUtf8GiveTheEmptySet) {
  for (const char* name : {"UTF-8", "ANSI_X3.4-1968", "ISO-8859-1", "CP1252", "", "bogus"}) {
    EXPECT_TRUE(LeadByteSetForCodeSet(name).Empty()) << name;
  }
}

TEST(CodePageTest, OtherDoubleByteSetsHaveTheirLeadBytes) {
  EXPECT_TRUE(LeadByteSetForCodeSet("GBK").Contains(0xFE));
  EXPECT_FALSE(LeadByteSetForCodeSet("GBK").Contains(0x80));
  EXPECT_TRUE(LeadByteSetForCodeSet("EUC-JP").Contains(0xA4));
  EXPECT_FALSE(LeadByteSetForCodeSet("EUC-JP").Contains(0x90));
}

TEST(CodePageTest, CurrentSetCanBeReplaced) {
  const LeadByteSet saved = CurrentLeadByteSet();
  SetCurrentLeadByteSet(LeadByteSet::ShiftJis());
  EXPECT_EQ(CurrentLeadByteSet(), LeadByteSet::ShiftJis());
  SetCurrentLeadByteSet(saved);
}

}  // namespace
}  // namespace tavrin
